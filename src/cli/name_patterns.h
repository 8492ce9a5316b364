#pragma once

#include <string>
#include <vector>

namespace corvane::cli {

// The typed table names with each shell-style pattern ('CUST*') replaced by
// the names of NAMES it matches, in NAMES' order. A word that is a name of
// the list as typed stays itself, and so does a pattern that matches
// nothing, so that it is told like any name not found. Paradox names match
// regardless of case, as their lists compare them.
std::vector<std::string> ExpandPatterns(const std::vector<std::string>& typed,
                                        const std::vector<std::string>& names, bool any_case);

}  // namespace corvane::cli
