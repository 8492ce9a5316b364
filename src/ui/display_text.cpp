#include "ui/display_text.h"

#include <vector>

#include "base/utf8.h"
#include "ui/procedure.h"

namespace corvane::ui {
namespace {

// How much of a long part is kept: characters and line breaks at its start
// and at its end.
struct Keep {
  size_t head_chars, head_breaks, tail_chars, tail_breaks;
};
constexpr Keep kStatement{200, 3, 100, 2};
constexpr Keep kOther{1000, 15, 300, 5};

// A line break at code point `i`: CR, LF, or CR LF counted once (at its CR).
bool IsBreak(const std::string& text, const std::vector<size_t>& at, size_t i) {
  const char c = text[at[i]];
  if (c == '\r') return true;
  return c == '\n' && (i == 0 || text[at[i - 1]] != '\r');
}

std::string Shorten(const std::string& text, const Keep& keep) {
  // Byte offsets of the code points (stray bytes count as one each).
  std::vector<size_t> at;
  for (size_t i = 0; i < text.size();) {
    at.push_back(i);
    utf8::NextCodePoint(text, i);
  }
  const size_t n = at.size();
  at.push_back(text.size());
  size_t head = 0;
  for (size_t breaks = 0; head < n && head < keep.head_chars; ++head) {
    if (IsBreak(text, at, head) && ++breaks > keep.head_breaks) break;
  }
  size_t tail = n;  // the first code point kept at the end
  for (size_t breaks = 0; tail > head && n - tail < keep.tail_chars; --tail) {
    if (IsBreak(text, at, tail - 1) && ++breaks > keep.tail_breaks) break;
  }
  const size_t left_out = tail - head;
  // Leaving out a few characters would hide more than it saves.
  if (left_out < 40) return text;
  return text.substr(0, at[head]) + " \u2026 (" + std::to_string(left_out) +
         " characters left out) \u2026 " + text.substr(at[tail]);
}

}  // namespace

std::string ShortenForDisplay(const std::string& text) {
  const std::string sql = std::string(kSupportAddress) + "\r\rsql: ";
  const size_t found = text.find(sql);
  if (found == std::string::npos) return Shorten(text, kOther);
  const size_t statement = found + sql.size();
  return Shorten(text.substr(0, statement), kOther) +
         Shorten(text.substr(statement), kStatement);
}

}  // namespace corvane::ui
