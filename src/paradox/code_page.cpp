// Every code page is converted through exact tables (code_page_tables.h):
// a character is written only as bytes that read back as that character.
// Text that fits a code page only once composed (a letter and a combining
// accent where the code page has the accented letter) is written in NFC;
// text that fits as it is stays as it is.
#include "paradox/code_page.h"

#include <unicode/normalizer2.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <unordered_map>

#include "base/ascii.h"
#include "base/utf8.h"
#include "paradox/code_page_tables.h"

namespace corvane::paradox {

namespace {

using code_page_tables::kNoChar;
using code_page_tables::MultiByteTable;
using code_page_tables::SingleByteTable;

bool Contains(const int* first, const int* last, int v) {
  return std::find(first, last, v) != last;
}
bool IsSingleByte(int cp) {
  return Contains(std::begin(code_page_tables::kSingleBytePages),
                  std::end(code_page_tables::kSingleBytePages), cp);
}
bool IsMultiByte(int cp) {
  return Contains(std::begin(code_page_tables::kMultiBytePages),
                  std::end(code_page_tables::kMultiBytePages), cp);
}

// Decodes one UTF-8 sequence at s[i]; returns its length, 0 if invalid.
int DecodeUtf8(std::string_view s, size_t i, uint32_t& c) {
  size_t next = i;
  const long cp = utf8::NextCodePoint(s, next);
  if (cp < 0) return 0;
  c = static_cast<uint32_t>(cp);
  return static_cast<int>(next - i);
}

bool IsAscii(std::string_view s) { return utf8::IsAscii(s); }

// Writes c as UTF-8 at out (room for four bytes); returns the length.
size_t EncodeUtf8(uint32_t c, char* out) {
  if (c < 0x80) {
    out[0] = static_cast<char>(c);
    return 1;
  }
  if (c < 0x800) {
    out[0] = static_cast<char>(0xC0 | (c >> 6));
    out[1] = static_cast<char>(0x80 | (c & 0x3F));
    return 2;
  }
  if (c < 0x10000) {
    out[0] = static_cast<char>(0xE0 | (c >> 12));
    out[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (c & 0x3F));
    return 3;
  }
  out[0] = static_cast<char>(0xF0 | (c >> 18));
  out[1] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
  out[2] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
  out[3] = static_cast<char>(0x80 | (c & 0x3F));
  return 4;
}

const icu::Normalizer2* NfcNormalizer() {
  UErrorCode error = U_ZERO_ERROR;
  const icu::Normalizer2* nfc = icu::Normalizer2::getNFCInstance(error);
  return U_SUCCESS(error) ? nfc : nullptr;
}

bool IsNfc(std::string_view utf8) {
  const icu::Normalizer2* nfc = NfcNormalizer();
  UErrorCode error = U_ZERO_ERROR;
  const bool yes =
      nfc && nfc->isNormalizedUTF8(icu::StringPiece(utf8.data(), static_cast<int32_t>(utf8.size())),
                                   error);
  return yes && U_SUCCESS(error);
}

Status Unsupported(int cp) {
  return Status::NotSupported("code page " + std::to_string(cp) + " is not supported");
}

// Double-byte decode: a byte that starts no character reads as U+00XX, and
// decoding goes on with the byte after it. With `left_over`, a lead byte
// cut off at the end is left, and counted there.
void AppendMultiByte(const MultiByteTable& t, std::string_view bytes, std::string& out,
                     size_t* left_over = nullptr) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const size_t n = bytes.size();
  // UTF-8 gathers here and goes out a block at a time: far faster than a
  // byte at a time into the string.
  char buf[4096];
  size_t used = 0;
  size_t i = 0;
  while (i < n) {
    if (used > sizeof buf - 4) out.append(buf, used), used = 0;
    const unsigned char b = p[i];
    if (b < 0x80) {
      buf[used++] = static_cast<char>(b);
      ++i;
      continue;
    }
    uint32_t c = t.single[b];
    size_t len = 1;
    if (c == kNoChar && t.lead[b]) {
      if (i + 1 == n && left_over) break;
      if (i + 1 < n && t.pair[b << 8 | p[i + 1]] != kNoChar) c = t.pair[b << 8 | p[i + 1]], len = 2;
    }
    used += EncodeUtf8(c == kNoChar ? b : c, buf + used);
    i += len;
  }
  out.append(buf, used);
  if (left_over) *left_over = n - i;
}

std::string CharacterName(std::string_view utf8, size_t i) {
  uint32_t c = 0;
  const int n = DecodeUtf8(utf8, i, c);
  char hex[16];
  std::snprintf(hex, sizeof hex, "U+%04X", static_cast<unsigned>(c));
  return std::string(hex) + " \"" + std::string(utf8.substr(i, n)) + "\"";
}

Status Unrepresentable(std::string_view utf8, size_t i, int cp) {
  return Status::InvalidArgument("the character " + CharacterName(utf8, i) +
                                 " cannot be stored in code page " + std::to_string(cp));
}

Status InvalidUtf8(size_t i) {
  return Status::InvalidArgument("the text is not valid UTF-8 (at byte " + std::to_string(i) + ")");
}

// Appends `utf8` in the code page; the first character it lacks (at
// `*failed_at`) or invalid UTF-8 stops it.
Status Encode(std::string_view utf8, int cp, std::string& out, size_t* failed_at = nullptr) {
  const SingleByteTable* single = IsSingleByte(cp) ? code_page_tables::SingleByte(cp) : nullptr;
  const MultiByteTable* multi = IsMultiByte(cp) ? code_page_tables::MultiByte(cp) : nullptr;
  if (!single && !multi) return Unsupported(cp);
  for (size_t i = 0; i < utf8.size();) {
    uint32_t c = 0;
    const int n = DecodeUtf8(utf8, i, c);
    if (n == 0) return InvalidUtf8(i);
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (single) {
      const auto it = single->from_code_point.find(c);
      if (it == single->from_code_point.end()) {
        if (failed_at) *failed_at = i;
        return Unrepresentable(utf8, i, cp);
      }
      out.push_back(static_cast<char>(it->second));
    } else {
      const auto it = multi->from_code_point.find(c);
      if (it == multi->from_code_point.end()) {
        if (failed_at) *failed_at = i;
        return Unrepresentable(utf8, i, cp);
      }
      if (it->second >= 0x100) out.push_back(static_cast<char>(it->second >> 8));
      out.push_back(static_cast<char>(it->second & 0xFF));
    }
    i += n;
  }
  return Status::Ok();
}

// Export code pages in order of preference, with the driver Paradox and BDE
// programs know for each. No driver is known for 1257 and 1258; they get
// the 'ascii' one, and the code page field still says what the text is.
constexpr LanguageDriver kDrivers[] = {
    {1252, 0x62, "ANSIINTL"}, {1250, 0xDC, "anczech"},  {1251, 0x8F, "ancyrr"},
    {1253, 0x0E, "angreek1"}, {1254, 0xD5, "ANTURK"},   {1255, 0x4C, "ANHEBREW"},
    {1256, 0x3F, "BLWINAR0"}, {1257, 0x00, "ascii"},    {1258, 0x00, "ascii"},
    {874, 0xA6, "thai"},      {437, 0xB7, "intl"},      {850, 0x54, "intl850"},
    {852, 0x0D, "czech"},     {857, 0xC6, "turk"},      {862, 0x7D, "hebrew"},
    {866, 0xC0, "cyrr"},      {737, 0x4A, "grcp437"},   {861, 0xD0, "iceland"},
    {865, 0x82, "nordan"},    {860, 0xF8, "DB860PT0"},  {863, 0xE1, "DB863CF1"},
    {932, 0x0A, "japan"},     {949, 0x12, "korea"},     {950, 0x84, "taiwan"},
    {936, 0x03, "china"},
};
constexpr size_t kDriverCount = std::size(kDrivers);
static_assert(kDriverCount <= 64, "one bit per export code page");

constexpr uint64_t kAllPages = (uint64_t{1} << kDriverCount) - 1;

// Pages without a driver of their own: chosen only when asked for, since a
// Paradox program would show their text in another code page.
constexpr uint64_t DriverlessPages() {
  uint64_t mask = 0;
  for (size_t i = 0; i < kDriverCount; ++i) {
    if (kDrivers[i].sort_byte == 0 && std::string_view(kDrivers[i].name) == "ascii") {
      mask |= uint64_t{1} << i;
    }
  }
  return mask;
}
constexpr uint64_t kDriverless = DriverlessPages();

std::string PageList(uint64_t pages) {
  std::string list;
  for (size_t i = 0; i < kDriverCount; ++i) {
    if ((pages >> i) & 1)
      list += (list.empty() ? "" : " or ") + std::to_string(kDrivers[i].code_page);
  }
  return list;
}

int BitOf(int cp) {
  for (size_t i = 0; i < kDriverCount; ++i) {
    if (kDrivers[i].code_page == cp) return static_cast<int>(i);
  }
  return -1;
}

bool HoldsCodePoint(int cp, uint32_t c) {
  if (c < 0x80) return true;
  if (IsSingleByte(cp)) {
    const SingleByteTable* t = code_page_tables::SingleByte(cp);
    return t && t->from_code_point.count(c) > 0;
  }
  const MultiByteTable* t = code_page_tables::MultiByte(cp);
  return t && t->from_code_point.count(c) > 0;
}

// The export code pages holding code point c, one bit each; cached, as a
// table repeats its characters.
uint64_t PagesHolding(uint32_t c) {
  thread_local std::unordered_map<uint32_t, uint64_t> cache;
  const auto it = cache.find(c);
  if (it != cache.end()) return it->second;
  uint64_t mask = 0;
  for (size_t i = 0; i < kDriverCount; ++i) {
    if (HoldsCodePoint(kDrivers[i].code_page, c)) mask |= uint64_t{1} << i;
  }
  cache.emplace(c, mask);
  return mask;
}

bool IsKana(uint32_t c) { return (c >= 0x3040 && c <= 0x30FF) || (c >= 0xFF66 && c <= 0xFF9F); }
bool IsHangul(uint32_t c) {
  return (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0x1100 && c <= 0x11FF) ||
         (c >= 0x3130 && c <= 0x318F);
}

Status AppendDoubleByte(std::string_view bytes, int cp, std::string& out, size_t* left_over) {
  if (left_over) *left_over = 0;
  const MultiByteTable* t = IsMultiByte(cp) ? code_page_tables::MultiByte(cp) : nullptr;
  if (!t) return Unsupported(cp);
  if (IsAscii(bytes)) {
    out.append(bytes);
    return Status::Ok();
  }
  AppendMultiByte(*t, bytes, out, left_over);
  return Status::Ok();
}

}  // namespace

const std::vector<int>& ExportCodePages() {
  static const std::vector<int> pages = [] {
    std::vector<int> v;
    for (const LanguageDriver& d : kDrivers) v.push_back(d.code_page);
    return v;
  }();
  return pages;
}

bool IsExportCodePage(int code_page) { return BitOf(code_page) >= 0; }

LanguageDriver LanguageDriverFor(int code_page) {
  const int bit = BitOf(code_page);
  if (bit >= 0) return kDrivers[bit];
  return {code_page, 0x00, "ascii"};
}

Result<int> ParseExportCodePage(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  const std::string lower = AsciiLowerCase(text);
  if (lower.empty() || lower == "auto") return 0;
  int value = 0;
  bool digits = lower.size() <= 5;
  for (char c : lower) {
    if (c < '0' || c > '9') digits = false;
  }
  if (digits) value = std::stoi(lower);
  if (digits && IsExportCodePage(value)) return value;
  std::string list;
  for (int cp : ExportCodePages()) list += std::to_string(cp) + ", ";
  return Status::InvalidArgument("'" + std::string(text) +
                                 "' is not a code page a Paradox table can be written in; use "
                                 "auto (chosen by the table's text) or one of " +
                                 list.substr(0, list.size() - 2) + ".");
}

CodePageChoice::CodePageChoice(int forced)
    : pages_(forced == 0          ? kAllPages & ~kDriverless
             : BitOf(forced) >= 0 ? uint64_t{1} << BitOf(forced)
                                  : 0) {}

namespace {

// The pages of `within` that hold every character of `utf8`; `stop` is
// where the last of them fell away (npos when some are left). Invalid
// UTF-8 gives none, with `invalid` set to where it starts.
uint64_t PagesFor(std::string_view utf8, uint64_t within, size_t& stop, size_t* invalid = nullptr) {
  stop = std::string_view::npos;
  for (size_t i = 0; i < utf8.size();) {
    if (static_cast<unsigned char>(utf8[i]) < 0x80) {
      ++i;
      continue;
    }
    uint32_t c = 0;
    const int n = DecodeUtf8(utf8, i, c);
    if (n == 0) {
      if (invalid) *invalid = i;
      return 0;
    }
    if (within != 0 && (within & PagesHolding(c)) == 0) stop = i;
    within &= PagesHolding(c);
    i += n;
  }
  return within;
}

}  // namespace

// A page that holds the composed form takes the text too (written so).
uint64_t CodePageChoice::Taking(std::string_view utf8, size_t& stop, size_t& invalid) const {
  invalid = std::string_view::npos;
  uint64_t pages = PagesFor(utf8, pages_, stop, &invalid);
  if (invalid == std::string_view::npos && !IsNfc(utf8)) {
    size_t ignored = 0;
    pages |= PagesFor(Nfc(utf8), pages_, ignored);
  }
  return pages;
}

Status CodePageChoice::Admit(std::string_view utf8) {
  size_t stop = 0, invalid = 0;
  const uint64_t pages = Taking(utf8, stop, invalid);
  if (invalid != std::string_view::npos) return InvalidUtf8(invalid);
  if (pages == 0) return Refusal(utf8, stop);
  pages_ = pages;
  for (size_t i = 0; i < utf8.size();) {
    uint32_t c = 0;
    const int n = std::max(DecodeUtf8(utf8, i, c), 1);
    kana_ = kana_ || IsKana(c);
    hangul_ = hangul_ || IsHangul(c);
    i += n;
  }
  return Status::Ok();
}

Status CodePageChoice::Refusal(std::string_view utf8, size_t at) const {
  uint32_t c = 0;
  DecodeUtf8(utf8, at, c);
  const std::string what = "the character " + CharacterName(utf8, at);
  const uint64_t anywhere = PagesHolding(c);
  if ((pages_ & (pages_ - 1)) == 0) {  // one code page: forced, or all that is left
    return Status::InvalidArgument(what + " cannot be stored in code page " +
                                   std::to_string(Best()));
  }
  if (anywhere == 0) {
    return Status::InvalidArgument(what +
                                   " is in no code page that Paradox's language drivers cover");
  }
  // Alone, the value would fit only a code page no driver covers.
  size_t ignored = 0;
  const uint64_t alone = PagesFor(utf8, kAllPages, ignored);
  if (alone != 0 && (alone & ~kDriverless) == 0) {
    const std::string pages = PageList(alone);
    return Status::InvalidArgument(what + " needs code page " + pages +
                                   ", for which Paradox has no language driver (--code-page " +
                                   pages + " or ExportCodePage=" + pages +
                                   " in the settings writes it all the same)");
  }
  return Status::InvalidArgument(
      what + " shares no code page with the table's other text (which needs code page " +
      std::to_string(Best()) + ")");
}

bool CodePageChoice::Holds(std::string_view utf8) const {
  size_t stop = 0, invalid = 0;
  return Taking(utf8, stop, invalid) != 0;
}

int CodePageChoice::Best() const {
  const auto has = [&](int cp) { return ((pages_ >> BitOf(cp)) & 1) != 0; };
  for (const LanguageDriver& d : kDrivers) {
    if (has(d.code_page) && !IsMultiByte(d.code_page)) return d.code_page;
  }
  // The double-byte code pages share much; the script says which is meant.
  static constexpr int kKana[] = {932, 936, 949, 950};
  static constexpr int kHangul[] = {949, 936, 932, 950};
  static constexpr int kHan[] = {950, 936, 932, 949};
  const int* order = kana_ ? kKana : hangul_ ? kHangul : kHan;
  for (int k = 0; k < 4; ++k) {
    if (has(order[k])) return order[k];
  }
  return 0;
}

bool IsDoubleByteCodePage(int code_page) { return IsMultiByte(code_page); }

bool IsSupportedCodePage(int code_page) {
  return IsSingleByte(code_page) || IsMultiByte(code_page);
}

Status AppendUtf8(std::string_view bytes, int code_page, std::string& out) {
  if (IsSingleByte(code_page)) {
    const SingleByteTable* t = code_page_tables::SingleByte(code_page);
    if (!t) return Unsupported(code_page);
    for (char ch : bytes) {
      const auto b = static_cast<unsigned char>(ch);
      if (b < 0x80) {
        out.push_back(ch);
      } else {
        out += t->to_utf8[b];
      }
    }
    return Status::Ok();
  }
  return AppendDoubleByte(bytes, code_page, out, nullptr);
}

Status AppendUtf8Part(std::string_view bytes, int code_page, std::string& out, size_t& used) {
  used = bytes.size();
  if (!IsMultiByte(code_page)) return AppendUtf8(bytes, code_page, out);
  size_t left = 0;
  CORVANE_RETURN_IF_ERROR(AppendDoubleByte(bytes, code_page, out, &left));
  used = bytes.size() - left;
  return Status::Ok();
}

Result<std::string> ToUtf8(std::string_view bytes, int code_page) {
  std::string out;
  out.reserve(bytes.size());
  Status s = AppendUtf8(bytes, code_page, out);
  if (!s.ok()) return s;
  return out;
}

Result<std::string> FromUtf8(std::string_view utf8, int code_page) {
  if (!IsSupportedCodePage(code_page)) return Unsupported(code_page);
  std::string out;
  out.reserve(utf8.size());
  if (IsAscii(utf8)) {
    out.assign(utf8);
    return out;
  }
  size_t failed_at = std::string_view::npos;
  Status s = Encode(utf8, code_page, out, &failed_at);
  if (s.ok()) return out;
  // Composed, it may fit: "e" and U+0301 where the code page has "é".
  if (failed_at == std::string_view::npos || IsNfc(utf8)) return s;
  out.clear();
  if (!Encode(Nfc(utf8), code_page, out).ok()) return s;
  return out;
}

std::string Nfc(std::string_view utf8) {
  const icu::Normalizer2* nfc = NfcNormalizer();
  if (!nfc) return std::string(utf8);
  std::string out;
  icu::StringByteSink<std::string> sink(&out);
  UErrorCode error = U_ZERO_ERROR;
  nfc->normalizeUTF8(0, icu::StringPiece(utf8.data(), static_cast<int32_t>(utf8.size())), sink,
                     nullptr, error);
  return U_SUCCESS(error) ? out : std::string(utf8);
}

size_t NfcSafeCut(std::string_view utf8, size_t cut) {
  const icu::Normalizer2* nfc = NfcNormalizer();
  if (!nfc || cut >= utf8.size()) return cut;
  // A few hundred combining marks in a row is no text; past that, cut anyway.
  constexpr size_t kLookBack = 1024;
  for (size_t at = cut; at > 0 && cut - at < kLookBack;) {
    size_t next = at;
    const long c = utf8::NextCodePoint(utf8, next);
    if (c >= 0 && nfc->hasBoundaryBefore(static_cast<UChar32>(c))) return at;
    do --at;
    while (at > 0 && (static_cast<unsigned char>(utf8[at]) & 0xC0) == 0x80);
  }
  return cut;
}

}  // namespace corvane::paradox
