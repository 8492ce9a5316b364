#include "base/utf8.h"

#include <unicode/uchar.h>
#include <unicode/ucol.h>
#include <unicode/ustring.h>

#include <cstdint>
#include <cstring>
#include <memory>

namespace corvane::utf8 {
namespace {

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

long LowerCodePoint(long c) { return c < 0 ? c : static_cast<long>(u_tolower(static_cast<UChar32>(c))); }

long UpperCodePoint(long c) { return c < 0 ? c : static_cast<long>(u_toupper(static_cast<UChar32>(c))); }

std::string LowerCase(std::string_view text) { return MapCase(text, LowerCodePoint); }
std::string UpperCase(std::string_view text) { return MapCase(text, UpperCodePoint); }

namespace {

// Null when ICU has no root collation.
UCollator* ListCollator() {
  struct Closer {
    void operator()(UCollator* c) const { ucol_close(c); }
  };
  // A collator is not shared between threads.
  thread_local const std::unique_ptr<UCollator, Closer> collator = [] {
    UErrorCode status = U_ZERO_ERROR;
    UCollator* c = ucol_open("", &status);
    if (c) ucol_setStrength(c, UCOL_SECONDARY);  // letters and accents, not case
    return std::unique_ptr<UCollator, Closer>(U_SUCCESS(status) ? c : nullptr);
  }();
  return collator.get();
}

}  // namespace

std::string CollationKey(std::string_view text) {
  if (UCollator* c = ListCollator()) {
    UErrorCode status = U_ZERO_ERROR;
    int32_t units = 0;
    // Ill-formed bytes become U+FFFD, as the comparison reads them.
    u_strFromUTF8WithSub(nullptr, 0, &units, text.data(), static_cast<int32_t>(text.size()),
                         0xFFFD, nullptr, &status);
    std::u16string wide(static_cast<size_t>(units), u'\0');
    status = U_ZERO_ERROR;
    u_strFromUTF8WithSub(wide.data(), units + 1, nullptr, text.data(),
                         static_cast<int32_t>(text.size()), 0xFFFD, nullptr, &status);
    if (U_SUCCESS(status) || status == U_STRING_NOT_TERMINATED_WARNING) {
      std::string key(64, '\0');
      for (;;) {
        const int32_t n = ucol_getSortKey(c, wide.data(), units,
                                          reinterpret_cast<uint8_t*>(key.data()),
                                          static_cast<int32_t>(key.size()));
        if (n <= static_cast<int32_t>(key.size())) {
          key.resize(static_cast<size_t>(n));
          return key;
        }
        key.resize(static_cast<size_t>(n));
      }
    }
  }
  return LowerCase(text);
}

int CompareIgnoringCase(std::string_view a, std::string_view b) {
  if (UCollator* collator = ListCollator()) {
    UErrorCode status = U_ZERO_ERROR;
    const UCollationResult r =
        ucol_strcollUTF8(collator, a.data(), static_cast<int32_t>(a.size()), b.data(),
                         static_cast<int32_t>(b.size()), &status);
    if (U_SUCCESS(status)) return r == UCOL_LESS ? -1 : r == UCOL_GREATER ? 1 : 0;
  }
  const std::string x = LowerCase(a), y = LowerCase(b);
  return x < y ? -1 : x > y ? 1 : 0;
}

bool IsValid(std::string_view text) {
  for (size_t i = 0; i < text.size();) {
    if (NextCodePoint(text, i) < 0) return false;
  }
  return true;
}

std::string Printable(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (size_t i = 0; i < text.size();) {
    const size_t start = i;
    if (NextCodePoint(text, i) >= 0) {
      out.append(text.substr(start, i - start));
    } else {
      const auto b = static_cast<unsigned char>(text[start]);
      out += "\\x";
      out += kHex[b >> 4];
      out += kHex[b & 0xF];
    }
  }
  return out;
}

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
  // The short rest (most values are short) a word at a time.
  for (; i + 8 <= text.size(); i += 8) {
    uint64_t word;
    std::memcpy(&word, text.data() + i, 8);
    if (word & 0x8080808080808080ull) return false;
  }
  for (; i < text.size(); ++i) {
    if (static_cast<unsigned char>(text[i]) & 0x80) return false;
  }
  return true;
}

}  // namespace corvane::utf8
