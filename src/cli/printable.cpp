#include "cli/printable.h"

#include <cstdio>

#include "base/utf8.h"

namespace corvane::cli {
namespace {

void Hex(std::string& out, unsigned char b) {
  char buf[5];
  std::snprintf(buf, sizeof buf, "\\x%02x", b);
  out += buf;
}

// Control characters (C0, DEL, C1) and bytes that are not UTF-8 become
// escapes, so a name or value cannot move the cursor or recolour a terminal.
std::string Escaped(const std::string& text, bool keep_layout) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const auto b = static_cast<unsigned char>(text[i]);
    size_t next = i;
    const long c = utf8::NextCodePoint(text, next);
    if (c < 0 || (c >= 0x80 && c < 0xA0)) {
      for (; i < next; ++i) Hex(out, static_cast<unsigned char>(text[i]));
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
      out.append(text, i, next - i);
      i = next;
    }
  }
  return out;
}

}  // namespace

std::string Printable(const std::string& text) { return Escaped(text, false); }

std::string SafeForTerminal(const std::string& text) { return Escaped(text, true); }

}  // namespace corvane::cli
