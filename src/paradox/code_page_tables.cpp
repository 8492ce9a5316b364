// Outline: every byte (and, in a double-byte code page, every lead byte
// followed by every trail byte) is decoded alone through iconv; what decodes
// to exactly one character is an entry of the table, both ways. Nothing is
// asked of iconv's encoder but which of two sequences it prefers for one
// character. Tables are built on first use, once per process.
#include "paradox/code_page_tables.h"

#include <errno.h>
#include <iconv.h>

#include <memory>
#include <mutex>
#include <string_view>

#include "base/utf8.h"

namespace corvane::paradox::code_page_tables {

namespace {

std::string IconvName(int cp) { return cp == kRoman8 ? "HP-ROMAN8" : "CP" + std::to_string(cp); }

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

  enum class Outcome { kConverted, kIncomplete, kInvalid };
  // Converts the whole of `in` from the initial state, flushing what a
  // stateful converter holds back (CP1255 and CP1258 keep a letter until
  // they know no combining mark follows it).
  Outcome Convert(std::string_view in, std::string& out) {
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    char buf[64];
    char* src = const_cast<char*>(in.data());
    size_t src_left = in.size();
    char* o = buf;
    size_t o_left = sizeof buf;
    const size_t r = iconv(cd_, &src, &src_left, &o, &o_left);
    const int why = errno;
    if (r == static_cast<size_t>(-1))
      return why == EINVAL ? Outcome::kIncomplete : Outcome::kInvalid;
    iconv(cd_, nullptr, nullptr, &o, &o_left);
    out.assign(buf, o - buf);
    return Outcome::kConverted;
  }

 private:
  iconv_t cd_;
};

// The one character `bytes` decode to, or kNoChar (with `incomplete` set
// when more bytes could make one).
uint32_t DecodeOne(Iconv& cd, std::string_view bytes, bool* incomplete = nullptr) {
  std::string u;
  const Iconv::Outcome o = cd.Convert(bytes, u);
  if (incomplete) *incomplete = o == Iconv::Outcome::kIncomplete;
  if (o != Iconv::Outcome::kConverted || u.empty()) return kNoChar;
  size_t next = 0;
  const long c = utf8::NextCodePoint(u, next);
  return c >= 0 && next == u.size() ? static_cast<uint32_t>(c) : kNoChar;
}

std::unique_ptr<SingleByteTable> BuildSingleByte(int cp) {
  Iconv cd("UTF-8", IconvName(cp));
  if (!cd.ok()) return nullptr;
  auto t = std::make_unique<SingleByteTable>();
  std::array<uint32_t, 256> chars{};
  for (int b = 0; b < 256; ++b) {
    chars[b] = DecodeOne(cd, std::string(1, static_cast<char>(b)));
    if (chars[b] != kNoChar) t->from_code_point.emplace(chars[b], static_cast<unsigned char>(b));
  }
  for (int b = 0; b < 256; ++b) {
    if (chars[b] == kNoChar) {
      chars[b] = t->from_code_point.count(b) ? 0xF700u + b : static_cast<uint32_t>(b);
      t->from_code_point.emplace(chars[b], static_cast<unsigned char>(b));
    }
    utf8::AppendCodePoint(t->to_utf8[b], static_cast<long>(chars[b]));
  }
  return t;
}

uint32_t Decoded(const MultiByteTable& t, uint16_t code) {
  return code < 0x100 ? t.single[code] : t.pair[code];
}

std::unique_ptr<MultiByteTable> BuildMultiByte(int cp) {
  Iconv decoder("UTF-8", IconvName(cp));
  Iconv encoder(IconvName(cp), "UTF-8");
  if (!decoder.ok() || !encoder.ok()) return nullptr;
  auto t = std::make_unique<MultiByteTable>();
  t->single.fill(kNoChar);
  t->pair.assign(size_t{1} << 16, kNoChar);
  std::vector<uint32_t> shared;  // characters more than one sequence decodes to
  const auto add = [&](uint32_t c, uint16_t code) {
    if (!t->from_code_point.emplace(c, code).second) shared.push_back(c);
  };
  for (int b = 0; b < 256; ++b) {
    bool incomplete = false;
    const uint32_t c = DecodeOne(decoder, std::string(1, static_cast<char>(b)), &incomplete);
    if (b < 0x80 && c != static_cast<uint32_t>(b)) return nullptr;  // the fast paths need ASCII
    t->lead[b] = incomplete;
    t->single[b] = c;
    if (c != kNoChar && b >= 0x80) add(c, static_cast<uint16_t>(b));
  }
  for (int lead = 0x80; lead < 256; ++lead) {
    if (!t->lead[lead]) continue;
    for (int trail = 0; trail < 256; ++trail) {
      const char two[2] = {static_cast<char>(lead), static_cast<char>(trail)};
      const uint32_t c = DecodeOne(decoder, std::string_view(two, 2));
      const auto code = static_cast<uint16_t>(lead << 8 | trail);
      t->pair[code] = c;
      if (c != kNoChar) add(c, code);
    }
  }
  for (uint32_t c : shared) {
    std::string u, bytes;
    utf8::AppendCodePoint(u, static_cast<long>(c));
    if (encoder.Convert(u, bytes) != Iconv::Outcome::kConverted) continue;
    if (bytes.empty() || bytes.size() > 2) continue;
    uint16_t code = static_cast<unsigned char>(bytes[0]);
    if (bytes.size() == 2)
      code = static_cast<uint16_t>(code << 8 | static_cast<unsigned char>(bytes[1]));
    if (Decoded(*t, code) == c) t->from_code_point[c] = code;
  }
  return t;
}

// One table per code page of `pages`, built by the first thread that asks.
template <typename Table, size_t N>
const Table* Cached(const int (&pages)[N], int cp, std::unique_ptr<Table> (*build)(int)) {
  static std::array<std::once_flag, N> once;
  static std::array<std::unique_ptr<Table>, N> tables;
  for (size_t i = 0; i < N; ++i) {
    if (pages[i] != cp) continue;
    std::call_once(once[i], [&] { tables[i] = build(cp); });
    return tables[i].get();
  }
  return nullptr;
}

}  // namespace

const SingleByteTable* SingleByte(int code_page) {
  return Cached(kSingleBytePages, code_page, &BuildSingleByte);
}

const MultiByteTable* MultiByte(int code_page) {
  return Cached(kMultiBytePages, code_page, &BuildMultiByte);
}

}  // namespace corvane::paradox::code_page_tables
