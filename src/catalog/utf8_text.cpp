#include "catalog/utf8_text.h"

#include <locale.h>
#include <wctype.h>

namespace corvane::catalog {
namespace {

void AppendUtf8(std::string& out, long c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

long UpperCodePoint(long c) {
  static const locale_t kUtf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
  if (kUtf8) return static_cast<long>(towupper_l(static_cast<wint_t>(c), kUtf8));
  return (c >= 'a' && c <= 'z') ? c - 0x20 : c;
}

}  // namespace

long NextCodePoint(const std::string& s, size_t& i) {
  const auto b = static_cast<unsigned char>(s[i]);
  const int extra = b < 0x80 ? 0 : (b >> 5) == 6 ? 1 : (b >> 4) == 14 ? 2 : (b >> 3) == 30 ? 3 : -1;
  if (extra < 0 || (extra > 0 && i + extra >= s.size())) {
    ++i;
    return -1;
  }
  long c = extra == 0 ? b : (b & (0x3F >> extra));
  for (int k = 1; k <= extra; ++k) {
    const auto t = static_cast<unsigned char>(s[i + k]);
    if ((t & 0xC0) != 0x80) {
      ++i;
      return -1;
    }
    c = (c << 6) | (t & 0x3F);
  }
  i += extra + 1;
  return c;
}

size_t Utf16Length(const std::string& text) {
  size_t units = 0;
  for (size_t i = 0; i < text.size();) units += NextCodePoint(text, i) >= 0x10000 ? 2 : 1;
  return units;
}

std::string UpperCase(const std::string& s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size();) {
    const size_t start = i;
    const long c = NextCodePoint(s, i);
    if (c < 0) {
      out.append(s, start, i - start);
    } else {
      AppendUtf8(out, UpperCodePoint(c));
    }
  }
  return out;
}

}  // namespace corvane::catalog
