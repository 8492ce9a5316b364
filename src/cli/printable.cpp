#include "cli/printable.h"

#include <cstdio>

namespace corvane::cli {
namespace {

void Hex(std::string& out, unsigned char b) {
  char buf[5];
  std::snprintf(buf, sizeof buf, "\\x%02x", b);
  out += buf;
}

// Length of the well-formed UTF-8 sequence at `i`, or 0.
size_t SequenceLength(const std::string& s, size_t i) {
  const auto b = static_cast<unsigned char>(s[i]);
  size_t n = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
  if (n == 0 || i + n > s.size() || (n == 2 && b < 0xC2)) return 0;
  for (size_t k = 1; k < n; ++k) {
    if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return 0;
  }
  return n;
}

std::string Escaped(const std::string& text, bool keep_layout) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const auto b = static_cast<unsigned char>(text[i]);
    const size_t n = SequenceLength(text, i);
    if (n == 0) {
      Hex(out, b);
      ++i;
    } else if (n == 2 && b == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0) {
      Hex(out, b);  // a C1 control: both bytes as escapes
      Hex(out, static_cast<unsigned char>(text[i + 1]));
      i += 2;
    } else if (keep_layout && (b == '\\' || b == '\n' || b == '\t')) {
      out += static_cast<char>(b);
      ++i;
    } else if (b == '\\') {
      out += "\\\\";
      ++i;
    } else if (b == '\n' || b == '\r' || b == '\t') {
      out += b == '\n' ? "\\n" : b == '\r' ? "\\r" : "\\t";
      ++i;
    } else if (b < 0x20 || b == 0x7F) {
      Hex(out, b);
      ++i;
    } else {
      out.append(text, i, n);
      i += n;
    }
  }
  return out;
}

}  // namespace

std::string Printable(const std::string& text) { return Escaped(text, false); }

std::string SafeForTerminal(const std::string& text) { return Escaped(text, true); }

}  // namespace corvane::cli
