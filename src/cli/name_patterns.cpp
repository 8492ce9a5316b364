#include "cli/name_patterns.h"

#include <fnmatch.h>

#include <algorithm>
#include <strings.h>

namespace corvane::cli {

std::vector<std::string> ExpandPatterns(const std::vector<std::string>& typed,
                                        const std::vector<std::string>& names, bool any_case) {
  auto same = [any_case](const std::string& a, const std::string& b) {
    return any_case ? ::strcasecmp(a.c_str(), b.c_str()) == 0 : a == b;
  };
  const int flags = any_case ? FNM_CASEFOLD : 0;
  std::vector<std::string> out;
  for (const std::string& word : typed) {
    const bool literal = word.find_first_of("*?[") == std::string::npos ||
                         std::any_of(names.begin(), names.end(),
                                     [&](const std::string& n) { return same(n, word); });
    bool matched = false;
    for (const std::string& n : names) {
      if (literal || ::fnmatch(word.c_str(), n.c_str(), flags) != 0) continue;
      matched = true;
      // A table two patterns both match is still copied once.
      if (std::find(out.begin(), out.end(), n) == out.end()) out.push_back(n);
    }
    if (!matched) out.push_back(word);
  }
  return out;
}

}  // namespace corvane::cli
