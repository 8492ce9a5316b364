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
  const auto b = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char lead = b(i);
  const int n = lead < 0x80                   ? 1
                : lead >= 0xF0 && lead < 0xF5 ? 4
                : lead >= 0xE0 && lead < 0xF0 ? 3
                : lead >= 0xC2 && lead < 0xE0 ? 2
                                              : 0;
  if (n == 0 || i + n > s.size()) {
    ++i;
    return -1;
  }
  long c = n == 1 ? lead : lead & (0x7F >> n);
  for (int k = 1; k < n; ++k) {
    if ((b(i + k) & 0xC0) != 0x80) {
      ++i;
      return -1;
    }
    c = (c << 6) | (b(i + k) & 0x3F);
  }
  // Overlong forms, surrogates and values past U+10FFFF are no characters.
  static constexpr long kMin[] = {0, 0, 0x80, 0x800, 0x10000};
  if (c < kMin[n] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
    ++i;
    return -1;
  }
  i += n;
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

bool IsAscii(std::string_view text) {
  constexpr size_t kBlock = 64;
  size_t i = 0;
  for (; i + kBlock <= text.size(); i += kBlock) {
    unsigned char any = 0;  // no early exit inside a block, so it is vectorized
    for (size_t k = 0; k < kBlock; ++k) any |= static_cast<unsigned char>(text[i + k]);
    if (any & 0x80) return false;
  }
  for (; i < text.size(); ++i) {
    if (static_cast<unsigned char>(text[i]) & 0x80) return false;
  }
  return true;
}

}  // namespace corvane::utf8
