#include "connection/paradox_statement.h"

namespace corvane {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool IsOpenQuote(char c) { return c == '"' || c == '`' || c == '['; }

char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 0x20) : c; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

// Consumes `word` (case-insensitive) from the front of `s`; when `blank_after`
// it must be followed by a blank or an opening quote, so "FROMX" is no FROM.
bool TakeWord(std::string_view& s, std::string_view word, bool blank_after) {
  if (s.size() < word.size()) return false;
  for (size_t i = 0; i < word.size(); ++i) {
    if (UpperAscii(s[i]) != word[i]) return false;
  }
  std::string_view rest = s.substr(word.size());
  if (blank_after && (rest.empty() || !(IsBlank(rest.front()) || IsOpenQuote(rest.front())))) {
    return false;
  }
  s = Trim(rest);
  return true;
}

// The whole of `s` as one table name, or nullopt.
std::optional<std::string> TakeName(std::string_view s) {
  if (s.empty()) return std::nullopt;
  const char open = s.front();
  const char close = open == '[' ? ']' : open;
  if (open == '"' || open == '`' || open == '[') {
    if (s.size() < 3 || s.back() != close) return std::nullopt;
    std::string_view inner = s.substr(1, s.size() - 2);
    if (open == '[') return std::string(inner);
    // A doubled quote stands for one, as the callers write names that hold it.
    std::string name;
    for (size_t i = 0; i < inner.size(); ++i) {
      name += inner[i];
      if (inner[i] == close && i + 1 < inner.size() && inner[i + 1] == close) ++i;
    }
    return name;
  }
  for (char c : s) {
    if (IsBlank(c) || c == ';' || c == '"' || c == '`' || c == '[' || c == ']') {
      return std::nullopt;
    }
  }
  return std::string(s);
}

}  // namespace

std::optional<ParadoxStatement> ParseParadoxStatement(std::string_view sql) {
  std::string_view s = Trim(sql);
  if (!s.empty() && s.back() == ';') s = Trim(s.substr(0, s.size() - 1));
  ParadoxStatement out;
  if (TakeWord(s, "SELECT", false)) {
    if (!TakeWord(s, "*", false) || !TakeWord(s, "FROM", true)) return std::nullopt;
    out.kind = ParadoxStatement::Kind::kSelectAll;
  } else if (TakeWord(s, "DROP", true)) {
    if (!TakeWord(s, "TABLE", true)) return std::nullopt;
    out.kind = ParadoxStatement::Kind::kDropTable;
  } else {
    return std::nullopt;
  }
  std::optional<std::string> name = TakeName(s);
  if (!name) return std::nullopt;
  out.table = std::move(*name);
  return out;
}

}  // namespace corvane
