#include "base/utf8.h"

#include <locale.h>
#include <wctype.h>

namespace corvane::utf8 {
namespace {

locale_t Utf8Locale() {
  static const locale_t loc = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
  return loc;
}

template <typename Map>
std::string MapCase(std::string_view text, Map map) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const size_t start = i;
    const long c = NextCodePoint(text, i);
    if (c < 0) {
      out.append(text.substr(start, i - start));
    } else {
      AppendCodePoint(out, map(c));
    }
  }
  return out;
}

}  // namespace

long NextCodePoint(std::string_view s, size_t& i) {
  const auto b = static_cast<unsigned char>(s[i]);
  if (b < 0x80) {
    ++i;
    return b;
  }
  const int extra = (b >> 5) == 6 ? 1 : (b >> 4) == 14 ? 2 : (b >> 3) == 30 ? 3 : -1;
  if (extra < 0 || i + extra >= s.size()) {
    ++i;
    return -1;
  }
  long c = b & (0x3F >> extra);
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

void AppendCodePoint(std::string& out, long c) {
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

long LowerCodePoint(long c) {
  if (c < 0x80) return (c >= 'A' && c <= 'Z') ? c + 0x20 : c;
  const locale_t loc = Utf8Locale();
  return loc ? static_cast<long>(towlower_l(static_cast<wint_t>(c), loc)) : c;
}

long UpperCodePoint(long c) {
  if (c < 0x80) return (c >= 'a' && c <= 'z') ? c - 0x20 : c;
  const locale_t loc = Utf8Locale();
  return loc ? static_cast<long>(towupper_l(static_cast<wint_t>(c), loc)) : c;
}

std::string LowerCase(std::string_view text) { return MapCase(text, LowerCodePoint); }
std::string UpperCase(std::string_view text) { return MapCase(text, UpperCodePoint); }

size_t Utf16Length(std::string_view text) {
  size_t units = 0;
  for (size_t i = 0; i < text.size();) units += NextCodePoint(text, i) >= 0x10000 ? 2 : 1;
  return units;
}

std::string FirstUtf16Units(std::string_view text, size_t units) {
  size_t i = 0, used = 0;
  while (i < text.size()) {
    size_t next = i;
    const size_t need = NextCodePoint(text, next) >= 0x10000 ? 2 : 1;
    if (used + need > units) break;
    used += need;
    i = next;
  }
  return std::string(text.substr(0, i));
}

}  // namespace corvane::utf8
