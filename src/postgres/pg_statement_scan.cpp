// Outline: walk the text once; at each position either step over a whole
// quoted or commented stretch, or look at one character. The first ";"
// outside those ends the first statement; any token after it makes the text
// hold a second one.
#include "postgres/pg_statement_scan.h"

namespace corvane {
namespace {

bool IsIdentStart(char c) {
  const auto u = static_cast<unsigned char>(c);
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || u >= 0x80;
}
bool IsIdentChar(char c) { return IsIdentStart(c) || (c >= '0' && c <= '9') || c == '$'; }
bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f'; }

// Each Skip* is called at the opening character and returns the position
// just after the closing one (or the end of the text when it never closes).
size_t SkipQuoted(std::string_view s, size_t i, char quote, bool backslash_escapes) {
  for (++i; i < s.size(); ++i) {
    if (backslash_escapes && s[i] == '\\') {
      ++i;
    } else if (s[i] == quote) {
      if (i + 1 < s.size() && s[i + 1] == quote) {
        ++i;  // doubled quote stands for itself
      } else {
        return i + 1;
      }
    }
  }
  return s.size();
}

size_t SkipLineComment(std::string_view s, size_t i) {
  size_t nl = s.find('\n', i);
  return nl == std::string_view::npos ? s.size() : nl + 1;
}

size_t SkipBlockComment(std::string_view s, size_t i) {
  int depth = 0;
  while (i < s.size()) {
    if (s.compare(i, 2, "/*") == 0) {
      ++depth;
      i += 2;
    } else if (s.compare(i, 2, "*/") == 0) {
      i += 2;
      if (--depth == 0) return i;
    } else {
      ++i;
    }
  }
  return s.size();
}

// The dollar-quote tag ("$$", "$body$") starting at i, or empty if none.
std::string_view DollarTag(std::string_view s, size_t i) {
  size_t j = i + 1;
  if (j < s.size() && IsIdentStart(s[j])) {
    while (j < s.size() && IsIdentChar(s[j]) && s[j] != '$') ++j;
  }
  if (j < s.size() && s[j] == '$') return s.substr(i, j - i + 1);
  return {};
}

// Length of the quoted or commented stretch starting at i; 0 when none.
size_t SkipSpecial(std::string_view s, size_t i) {
  const char c = s[i];
  const bool after_ident = i > 0 && IsIdentChar(s[i - 1]);
  if (c == '\'') {
    const bool escapes =
        i > 0 && (s[i - 1] == 'E' || s[i - 1] == 'e') && (i < 2 || !IsIdentChar(s[i - 2]));
    return SkipQuoted(s, i, '\'', escapes) - i;
  }
  if (c == '"') return SkipQuoted(s, i, '"', false) - i;
  if (s.compare(i, 2, "--") == 0) return SkipLineComment(s, i) - i;
  if (s.compare(i, 2, "/*") == 0) return SkipBlockComment(s, i) - i;
  if (c == '$' && !after_ident) {
    std::string_view tag = DollarTag(s, i);
    if (!tag.empty()) {
      size_t close = s.find(tag, i + tag.size());
      return (close == std::string_view::npos ? s.size() : close + tag.size()) - i;
    }
  }
  return 0;
}

std::string FirstWord(std::string_view body) {
  std::string word;
  size_t i = 0;
  while (i < body.size()) {
    if (IsBlank(body[i]) || body[i] == '(') {
      ++i;
    } else if (size_t n = (body[i] == '-' || body[i] == '/') ? SkipSpecial(body, i) : 0; n) {
      i += n;
    } else {
      break;
    }
  }
  for (; i < body.size() && IsIdentStart(body[i]); ++i) {
    const char c = body[i];
    word.push_back((c >= 'a' && c <= 'z') ? static_cast<char>(c - 0x20) : c);
  }
  return word;
}

}  // namespace

StatementScan ScanStatement(std::string_view sql) {
  StatementScan out;
  out.body = sql;
  bool ended = false;
  for (size_t i = 0; i < sql.size();) {
    if (size_t n = SkipSpecial(sql, i)) {
      // A comment after the end is harmless; a quoted token is a statement.
      if (ended && sql[i] != '-' && sql[i] != '/') out.single = false;
      i += n;
    } else if (sql[i] == ';' && !ended) {
      ended = true;
      out.body = sql.substr(0, i);
      ++i;
    } else {
      // Stray ";" after the end add nothing to run.
      if (ended && !IsBlank(sql[i]) && sql[i] != ';') out.single = false;
      ++i;
    }
  }
  out.first_word = FirstWord(out.body);
  return out;
}

}  // namespace corvane
