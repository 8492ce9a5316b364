#include "transfer/long_names.h"

#include <locale.h>
#include <wctype.h>

#include <cctype>
#include <climits>
#include <cwchar>

namespace corvane::transfer {
namespace {

// Bytes of the UTF-8 sequence starting at `text[i]`, or 1 for a stray byte.
size_t SequenceLength(std::string_view text, size_t i) {
  const auto lead = static_cast<unsigned char>(text[i]);
  size_t len = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
  if (i + len > text.size()) return 1;
  for (size_t k = 1; k < len; ++k) {
    if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return 1;
  }
  return len;
}

char32_t Decode(std::string_view seq) {
  const auto b0 = static_cast<unsigned char>(seq[0]);
  if (seq.size() == 1) return b0;
  char32_t cp = b0 & (0xFF >> (seq.size() + 1));
  for (size_t k = 1; k < seq.size(); ++k) cp = (cp << 6) | (seq[k] & 0x3F);
  return cp;
}

locale_t Utf8Locale() {
  static locale_t loc = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
  return loc;
}

// The upper case of one UTF-8 sequence, encoded by the C.UTF-8 locale; the
// sequence itself when it has none or the locale is missing.
std::string UpperSequence(std::string_view seq) {
  locale_t loc = Utf8Locale();
  if (!loc) return std::string(seq);
  const wint_t cp = static_cast<wint_t>(Decode(seq));
  const wint_t up = towupper_l(cp, loc);
  if (up == cp) return std::string(seq);
  const locale_t previous = uselocale(loc);
  char buf[MB_LEN_MAX];
  std::mbstate_t state{};
  const size_t n = std::wcrtomb(buf, static_cast<wchar_t>(up), &state);
  uselocale(previous);
  return n == static_cast<size_t>(-1) ? std::string(seq) : std::string(buf, n);
}

}  // namespace

size_t Utf16Length(std::string_view text) {
  size_t units = 0;
  for (size_t i = 0; i < text.size();) {
    const size_t len = SequenceLength(text, i);
    units += len == 4 ? 2 : 1;
    i += len;
  }
  return units;
}

std::string FirstUtf16Units(std::string_view text, size_t units) {
  size_t i = 0, used = 0;
  while (i < text.size()) {
    const size_t len = SequenceLength(text, i);
    const size_t need = len == 4 ? 2 : 1;
    if (used + need > units) break;
    used += need;
    i += len;
  }
  return std::string(text.substr(0, i));
}

std::string UpperCase(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const size_t len = SequenceLength(text, i);
    const std::string_view seq = text.substr(i, len);
    if (len == 1 && static_cast<unsigned char>(seq[0]) < 0x80) {
      out += static_cast<char>(std::toupper(static_cast<unsigned char>(seq[0])));
    } else if (len == 1) {
      out += seq[0];  // a stray byte stays as it is
    } else {
      out += UpperSequence(seq);
    }
    i += len;
  }
  return out;
}

std::string TrimQuestionText(const std::string& name) {
  return UpperCase(name) + " is more than 8 characters. It will be trimmed into " +
         UpperCase(FirstUtf16Units(name, kParadoxNameUnits)) + ". Continue?";
}

}  // namespace corvane::transfer
