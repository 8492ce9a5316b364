// Single-byte code pages are converted through a 256-entry table that is
// built once per thread with iconv; both directions use that table, so a
// value read and written back gives the same bytes. Multi-byte code pages
// (the CJK ones) go through iconv each time.
#include "paradox/code_page.h"

#include <errno.h>
#include <iconv.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <map>
#include <memory>
#include <unordered_map>

#include "base/utf8.h"

namespace corvane::paradox {

namespace {

// Each of these keeps ASCII as ASCII (864 does not, and is left out).
constexpr int kSingleByte[] = {437,  737,  850,  852,  857,  860,  861,  862,  863,  865,
                               866,  869,  874,  1250, 1251, 1252, 1253, 1254, 1255, 1256,
                               1257, 1258, kRoman8CodePage};
constexpr int kMultiByte[] = {932, 936, 949, 950};

bool Contains(const int* first, const int* last, int v) {
  for (; first != last; ++first) {
    if (*first == v) return true;
  }
  return false;
}
bool IsSingleByte(int cp) { return Contains(std::begin(kSingleByte), std::end(kSingleByte), cp); }
bool IsMultiByte(int cp) { return Contains(std::begin(kMultiByte), std::end(kMultiByte), cp); }

std::string IconvName(int cp) {
  return cp == kRoman8CodePage ? "HP-ROMAN8" : "CP" + std::to_string(cp);
}

// An iconv descriptor, closed with its owner.
class Iconv {
 public:
  Iconv(const std::string& to, const std::string& from)
      : cd_(iconv_open(to.c_str(), from.c_str())) {}
  ~Iconv() {
    if (ok()) iconv_close(cd_);
  }
  Iconv(const Iconv&) = delete;
  Iconv& operator=(const Iconv&) = delete;
  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
  void Reset() { iconv(cd_, nullptr, nullptr, nullptr, nullptr); }
  // Converts as much as possible; returns false with errno set on a stop.
  bool Convert(const char*& in, size_t& in_left, std::string& out) {
    char buf[1024];
    while (in_left > 0) {
      char* o = buf;
      size_t o_left = sizeof buf;
      const size_t r = iconv(cd_, const_cast<char**>(&in), &in_left, &o, &o_left);
      const int why = errno;
      out.append(buf, o - buf);
      errno = why;
      if (r == static_cast<size_t>(-1) && errno != E2BIG) return false;
    }
    return true;
  }
  // Writes what a stateful converter still holds back: CP1255 and CP1258
  // keep a letter until they know no combining mark follows it.
  void Flush(std::string& out) {
    char buf[64];
    char* o = buf;
    size_t o_left = sizeof buf;
    iconv(cd_, nullptr, nullptr, &o, &o_left);
    out.append(buf, o - buf);
  }

 private:
  iconv_t cd_;
};

void AppendCodePoint(uint32_t c, std::string& out) {
  utf8::AppendCodePoint(out, static_cast<long>(c));
}

// Decodes one UTF-8 sequence at s[i]; returns its length, 0 if invalid.
int DecodeUtf8(std::string_view s, size_t i, uint32_t& c) {
  size_t next = i;
  const long cp = utf8::NextCodePoint(s, next);
  if (cp < 0) return 0;
  c = static_cast<uint32_t>(cp);
  return static_cast<int>(next - i);
}

// Both directions of one single-byte code page. A byte the code page leaves
// undefined reads as U+00XX (what Windows does for 1252's holes) or, when a
// defined byte already stands for that character, as U+F7XX from the private
// use area: no byte is ever lost, and the character writes back as the byte.
struct SingleByteTable {
  std::array<std::string, 256> to_utf8;
  std::unordered_map<uint32_t, unsigned char> from_code_point;
};

// The character iconv gives for byte b alone, or false when b is undefined.
bool DefinedCharacter(Iconv& cd, int b, uint32_t& c) {
  const char byte = static_cast<char>(b);
  const char* in = &byte;
  size_t left = 1;
  std::string u;
  cd.Reset();
  if (!cd.Convert(in, left, u)) return false;
  cd.Flush(u);
  return !u.empty() && DecodeUtf8(u, 0, c) == static_cast<int>(u.size());
}

std::unique_ptr<SingleByteTable> BuildTable(int cp) {
  Iconv cd("UTF-8", IconvName(cp));
  if (!cd.ok()) return nullptr;
  auto t = std::make_unique<SingleByteTable>();
  std::array<uint32_t, 256> chars{};
  std::array<bool, 256> defined{};
  for (int b = 0; b < 256; ++b) {
    defined[b] = DefinedCharacter(cd, b, chars[b]);
    if (defined[b]) t->from_code_point.emplace(chars[b], static_cast<unsigned char>(b));
  }
  for (int b = 0; b < 256; ++b) {
    if (!defined[b]) {
      chars[b] = t->from_code_point.count(b) ? 0xF700u + b : static_cast<uint32_t>(b);
      t->from_code_point.emplace(chars[b], static_cast<unsigned char>(b));
    }
    AppendCodePoint(chars[b], t->to_utf8[b]);
  }
  return t;
}

const SingleByteTable* TableFor(int cp) {
  thread_local std::map<int, std::unique_ptr<SingleByteTable>> cache;
  auto it = cache.find(cp);
  if (it == cache.end()) it = cache.emplace(cp, BuildTable(cp)).first;
  return it->second.get();
}

Iconv* ConverterFor(int cp, bool to_utf8) {
  thread_local std::map<std::pair<int, bool>, std::unique_ptr<Iconv>> cache;
  auto& slot = cache[{cp, to_utf8}];
  if (!slot) {
    slot = to_utf8 ? std::make_unique<Iconv>("UTF-8", IconvName(cp))
                   : std::make_unique<Iconv>(IconvName(cp), "UTF-8");
  }
  return slot->ok() ? slot.get() : nullptr;
}

bool IsAscii(std::string_view s) { return utf8::IsAscii(s); }

Status Unsupported(int cp) {
  return Status::NotSupported("code page " + std::to_string(cp) + " is not supported");
}

// Multi-byte decode: a byte that starts no valid sequence reads as U+00XX.
// A byte that is no character reads as U+00XX. With `left_over`, a
// character cut off at the end is left, and its bytes counted there.
void AppendMultiByte(Iconv& cd, std::string_view bytes, std::string& out,
                     size_t* left_over = nullptr) {
  const char* in = bytes.data();
  size_t left = bytes.size();
  cd.Reset();
  while (!cd.Convert(in, left, out)) {
    if (left_over && errno == EINVAL) break;
    AppendCodePoint(static_cast<unsigned char>(*in), out);
    ++in;
    --left;
    cd.Reset();
  }
  if (left_over) *left_over = left;
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

Status FromUtf8SingleByte(std::string_view utf8, int cp, std::string& out) {
  const SingleByteTable* t = TableFor(cp);
  if (!t) return Unsupported(cp);
  for (size_t i = 0; i < utf8.size();) {
    uint32_t c = 0;
    const int n = DecodeUtf8(utf8, i, c);
    if (n == 0) return InvalidUtf8(i);
    const auto it = t->from_code_point.find(c);
    if (it == t->from_code_point.end()) return Unrepresentable(utf8, i, cp);
    out.push_back(static_cast<char>(it->second));
    i += n;
  }
  return Status::Ok();
}

Status FromUtf8MultiByte(std::string_view utf8, int cp, std::string& out) {
  for (size_t i = 0; i < utf8.size();) {
    uint32_t c = 0;
    const int n = DecodeUtf8(utf8, i, c);
    if (n == 0) return InvalidUtf8(i);
    i += n;
  }
  Iconv* cd = ConverterFor(cp, false);
  if (!cd) return Unsupported(cp);
  const char* in = utf8.data();
  size_t left = utf8.size();
  cd->Reset();
  if (!cd->Convert(in, left, out)) {
    return Unrepresentable(utf8, static_cast<size_t>(in - utf8.data()), cp);
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

int BitOf(int cp) {
  for (size_t i = 0; i < kDriverCount; ++i) {
    if (kDrivers[i].code_page == cp) return static_cast<int>(i);
  }
  return -1;
}

bool HoldsCodePoint(int cp, uint32_t c) {
  if (IsSingleByte(cp)) {
    const SingleByteTable* t = TableFor(cp);
    return t && t->from_code_point.count(c) > 0;
  }
  Iconv* cd = ConverterFor(cp, false);
  if (!cd) return false;
  std::string utf8, out;
  AppendCodePoint(c, utf8);
  const char* in = utf8.data();
  size_t left = utf8.size();
  cd->Reset();
  return cd->Convert(in, left, out);
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
  std::string lower(text);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
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
    : pages_(forced == 0 ? kAllPages
             : BitOf(forced) >= 0 ? uint64_t{1} << BitOf(forced)
                                  : 0) {}

Status CodePageChoice::Admit(std::string_view utf8) {
  uint64_t pages = pages_;
  bool kana = kana_, hangul = hangul_;
  for (size_t i = 0; i < utf8.size();) {
    if (static_cast<unsigned char>(utf8[i]) < 0x80) {
      ++i;
      continue;
    }
    uint32_t c = 0;
    const int n = DecodeUtf8(utf8, i, c);
    if (n == 0) return InvalidUtf8(i);
    const uint64_t left = pages & PagesHolding(c);
    if (left == 0) {
      const std::string what = "the character " + CharacterName(utf8, i);
      if (PagesHolding(c) == 0) {
        return Status::InvalidArgument(what +
                                       " is in no code page that Paradox's language drivers cover");
      }
      if ((pages_ & (pages_ - 1)) == 0) {  // one code page: forced
        return Status::InvalidArgument(what + " cannot be stored in code page " +
                                       std::to_string(Best()));
      }
      return Status::InvalidArgument(
          what + " shares no code page with the table's other text (which needs code page " +
          std::to_string(Best()) + ")");
    }
    pages = left;
    kana = kana || IsKana(c);
    hangul = hangul || IsHangul(c);
    i += n;
  }
  pages_ = pages;
  kana_ = kana;
  hangul_ = hangul;
  return Status::Ok();
}

bool CodePageChoice::Holds(std::string_view utf8) const {
  CodePageChoice copy = *this;
  return copy.Admit(utf8).ok();
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
    const SingleByteTable* t = TableFor(code_page);
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
  if (!IsMultiByte(code_page)) return Unsupported(code_page);
  if (IsAscii(bytes)) {
    out.append(bytes);
    return Status::Ok();
  }
  Iconv* cd = ConverterFor(code_page, true);
  if (!cd) return Unsupported(code_page);
  AppendMultiByte(*cd, bytes, out);
  return Status::Ok();
}

Status AppendUtf8Part(std::string_view bytes, int code_page, std::string& out, size_t& used) {
  used = bytes.size();
  if (!IsMultiByte(code_page) || IsAscii(bytes)) return AppendUtf8(bytes, code_page, out);
  Iconv* cd = ConverterFor(code_page, true);
  if (!cd) return Unsupported(code_page);
  size_t left = 0;
  AppendMultiByte(*cd, bytes, out, &left);
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
  Status s = IsSingleByte(code_page) ? FromUtf8SingleByte(utf8, code_page, out)
                                     : FromUtf8MultiByte(utf8, code_page, out);
  if (!s.ok()) return s;
  return out;
}

}  // namespace corvane::paradox
