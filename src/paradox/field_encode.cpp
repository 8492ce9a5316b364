#include "paradox/field_encode.h"

#include <algorithm>
#include <cstring>

#include "base/utf8.h"
#include "paradox/code_page.h"

namespace corvane::paradox {
namespace {

// Integer fields cannot store their most negative value: it is the NULL.
constexpr int64_t kShortMax = 32767;
constexpr int64_t kLongMax = 2147483647;
constexpr int kMaxBlobLeader = 240;
constexpr int kMaxScale = kBcdDigits;
constexpr unsigned char kLogicalFalse = 0x80;
constexpr unsigned char kLogicalTrue = 0x81;
// Graphic and OLE blobs carry 01 00 00 <kind> and the data length.
constexpr unsigned char kGraphicKind = 0x01;
constexpr unsigned char kOleKind = 0x02;

Status Refuse(std::string reason) { return Status::InvalidArgument(std::move(reason)); }

int FixedSize(FieldType type) {
  switch (type) {
    case FieldType::kDate:
    case FieldType::kLong:
    case FieldType::kTime:
    case FieldType::kAutoIncrement:
      return 4;
    case FieldType::kShort:
      return 2;
    case FieldType::kMoney:
    case FieldType::kNumber:
    case FieldType::kTimestamp:
      return 8;
    case FieldType::kLogical:
      return 1;
    case FieldType::kBcd:
      return kBcdBytes;
    default:
      return 0;
  }
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return (x | 0x20) == (y | 0x20);
         });
}

Status EncodeInteger(std::string_view text, int64_t max, int bytes, unsigned char* out) {
  if (auto plain = ParsePlainInteger(text); plain && *plain >= -max && *plain <= max) {
    EncodeFlippedInt(out, bytes, *plain);
    return Status::Ok();
  }
  auto d = ParseDecimal(text);  // other forms, and the message for a value out of range
  if (!d) return Refuse("it is not a number");
  if (!d->frac_digits.empty()) return Refuse("it is not a whole number");
  int64_t v = 0;
  for (char c : d->int_digits) {
    v = v * 10 + (c - '0');
    if (v > max) break;
  }
  if (v > max) {
    return Refuse("it is outside the range -" + std::to_string(max) + " to " + std::to_string(max));
  }
  EncodeFlippedInt(out, bytes, d->negative ? -v : v);
  return Status::Ok();
}

Status EncodeDouble(std::string_view text, unsigned char* out) {
  auto v = ReadDouble(text);
  if (!v) return Refuse("it is not a finite number");
  if (!v->exact) {
    return Refuse("it has more digits than the field's floating-point number holds exactly");
  }
  // A zero keeps its sign: "-0" reads back as "-0", "0" as "0".
  EncodeFlippedDouble(out, v->value == 0 && !IsNegativeZero(text) ? 0.0 : v->value);
  return Status::Ok();
}

Status EncodeAlpha(const FieldInfo& field, std::string_view text, int code_page,
                   unsigned char* out) {
  // ASCII is itself in every code page: no converted copy needed.
  if (text.size() <= static_cast<size_t>(field.size) && utf8::IsAscii(text) &&
      text.find('\0') == std::string_view::npos &&
      (code_page == kDefaultCodePage || IsSupportedCodePage(code_page))) {
    std::memcpy(out, text.data(), text.size());
    return Status::Ok();
  }
  auto bytes = FromUtf8(text, code_page);
  if (!bytes.ok()) return bytes.status();
  if (bytes->find('\0') != std::string::npos) return Refuse("it contains a NUL character");
  if (bytes->size() > static_cast<size_t>(field.size)) {
    return Refuse("it is " + std::to_string(bytes->size()) + " bytes long in code page " +
                  std::to_string(code_page) + " and the field holds " + std::to_string(field.size));
  }
  std::memcpy(out, bytes->data(), bytes->size());
  return Status::Ok();
}

Status EncodeBytes(const FieldInfo& field, std::string_view text, unsigned char* out) {
  auto bytes = ParseHex(text);
  if (!bytes) return Refuse("it is not binary data in \\x hex form");
  if (bytes->size() != static_cast<size_t>(field.size)) {
    return Refuse("it is " + std::to_string(bytes->size()) + " bytes and the field holds exactly " +
                  std::to_string(field.size));
  }
  if (std::all_of(bytes->begin(), bytes->end(), [](char c) { return c == 0; })) {
    return Refuse("a value of zero bytes only would read back as empty");
  }
  std::memcpy(out, bytes->data(), bytes->size());
  return Status::Ok();
}

Status EncodeBcdText(const FieldInfo& field, std::string_view text, unsigned char* out) {
  Decimal made;
  const std::optional<DecimalView> d = ParseDecimalDigits(text, made);
  if (!d) return Refuse("it is not a number");
  if (d->frac_digits.size() > static_cast<size_t>(field.scale)) {
    return Refuse("it has more than " + std::to_string(field.scale) + " decimal places");
  }
  if (!EncodeBcd(*d, field.scale, out)) {
    return Refuse("it has more than " + std::to_string(kBcdDigits - field.scale) +
                  " digits before the decimal point");
  }
  return Status::Ok();
}

Status EncodeTimeLike(FieldType type, std::string_view text, unsigned char* out) {
  if (type == FieldType::kDate) {
    auto day = ParseDate(text);
    if (!day) return Refuse("it is not a date (YYYY-MM-DD) between 9999 BC and 9999");
    EncodeFlippedInt(out, 4, *day);
  } else if (type == FieldType::kTime) {
    auto ms = ParseTimeMs(text);
    if (!ms) return Refuse("it is not a time of day to the millisecond (HH:MM:SS[.fff])");
    EncodeFlippedInt(out, 4, *ms);
  } else {
    auto ms = ParseTimestampMs(text);
    if (!ms) {
      return Refuse("it is not a date and time to the millisecond (YYYY-MM-DD HH:MM:SS[.fff])");
    }
    EncodeFlippedDouble(out, static_cast<double>(*ms));
  }
  return Status::Ok();
}

Status EncodeLogical(std::string_view text, unsigned char* out) {
  if (EqualsIgnoringCase(text, "true")) {
    *out = kLogicalTrue;
  } else if (EqualsIgnoringCase(text, "false")) {
    *out = kLogicalFalse;
  } else {
    return Refuse("it is not True or False");
  }
  return Status::Ok();
}

std::string Prefixed(unsigned char kind, const std::string& data) {
  std::string out(kBlobPrefixSize, '\0');
  auto* p = reinterpret_cast<unsigned char*>(out.data());
  p[0] = 0x01;
  p[3] = kind;
  StoreLe32(p + 4, static_cast<uint32_t>(data.size()));
  return out + data;
}

}  // namespace

Status NormalizeField(FieldInfo& field) {
  const int fixed = FixedSize(field.type);
  if (fixed != 0) {
    if (field.type == FieldType::kBcd && (field.scale < 0 || field.scale > kMaxScale)) {
      return Refuse("a BCD field has 0 to 32 decimal places, not " + std::to_string(field.scale));
    }
    if (field.type != FieldType::kBcd) field.scale = 0;
    if (field.size != 0 && field.size != fixed) {
      return Refuse("a " + std::string(TypeLabel(field.type)) + " field is " +
                    std::to_string(fixed) + " bytes, not " + std::to_string(field.size));
    }
    field.size = fixed;
    return Status::Ok();
  }
  field.scale = 0;
  if (field.type == FieldType::kAlpha || field.type == FieldType::kBytes) {
    if (field.size < 1 || field.size > 255) {
      return Refuse("an " + std::string(TypeLabel(field.type)) +
                    " field is 1 to 255 bytes wide, not " + std::to_string(field.size));
    }
    return Status::Ok();
  }
  if (IsBlobType(field.type)) {
    const int min_leader = field.type == FieldType::kMemo ? 1 : 0;
    const int leader = field.size - kBlobRefSize;
    if (leader < min_leader || leader > kMaxBlobLeader) {
      return Refuse("a " + std::string(TypeLabel(field.type)) + " field's leader is " +
                    std::to_string(min_leader) + " to 240 bytes, not " + std::to_string(leader));
    }
    return Status::Ok();
  }
  return Refuse("field type code " + std::to_string(static_cast<int>(field.type)) +
                " cannot be written");
}

Status EncodeScalar(const FieldInfo& field, const CellView& cell, int code_page,
                    unsigned char* out) {
  if (cell.null || cell.text.empty()) return Status::Ok();  // all zero bytes: NULL
  const std::string_view text = cell.text;
  switch (field.type) {
    case FieldType::kAlpha:
      return EncodeAlpha(field, text, code_page, out);
    case FieldType::kShort:
      return EncodeInteger(text, kShortMax, 2, out);
    case FieldType::kLong:
    case FieldType::kAutoIncrement:
      return EncodeInteger(text, kLongMax, 4, out);
    case FieldType::kNumber:
    case FieldType::kMoney:
      return EncodeDouble(text, out);
    case FieldType::kBcd:
      return EncodeBcdText(field, text, out);
    case FieldType::kDate:
    case FieldType::kTime:
    case FieldType::kTimestamp:
      return EncodeTimeLike(field.type, text, out);
    case FieldType::kLogical:
      return EncodeLogical(text, out);
    case FieldType::kBytes:
      return EncodeBytes(field, text, out);
    default:
      return Status::Internal("EncodeScalar called for a blob field");
  }
}

Result<std::string> BlobPayload(const FieldInfo& field, const CellView& cell, int code_page) {
  if (cell.null || cell.text.empty()) return std::string();
  if (field.type == FieldType::kMemo) return FromUtf8(cell.text, code_page);
  auto bytes = ParseHex(cell.text);
  if (!bytes) return Refuse("it is not binary data in \\x hex form");
  if (bytes->empty()) return std::string();  // Paradox has no empty blob, only NULL
  if (bytes->size() > UINT32_MAX - kBlobPrefixSize) return Refuse("it is larger than 4 GiB");
  if (field.type == FieldType::kGraphic) return Prefixed(kGraphicKind, *bytes);
  if (field.type == FieldType::kOle) return Prefixed(kOleKind, *bytes);
  return *std::move(bytes);
}

namespace {

constexpr size_t kPiece = size_t{1} << 20;
constexpr size_t kHeadBytes = kMaxBlobLeader + kBlobPrefixSize;

// Where `text` may be cut so that no character is split: before its last
// byte that starts one (no UTF-8 sequence is longer than four bytes). A
// cut there decodes as the whole text would.
size_t CharacterCut(std::string_view text) {
  for (size_t back = 1; back <= 4 && back <= text.size(); ++back) {
    const size_t at = text.size() - back;
    if ((static_cast<unsigned char>(text[at]) & 0xC0) != 0x80) return at;
  }
  return text.size();
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Memo text converted to the code page, a piece at a time.
Status MemoPieces(const ValuePieces& value, int code_page,
                  const std::function<Status(std::string_view)>& write) {
  std::string in;
  for (uint64_t at = 0, total = value.size(); at < total;) {
    const size_t carried = in.size();
    const size_t n = static_cast<size_t>(std::min<uint64_t>(kPiece, total - at));
    in.resize(carried + n);
    CORVANE_RETURN_IF_ERROR(value.Read(at, n, in.data() + carried));
    at += n;
    // A piece ends before a character and never between a letter and its
    // accents, which may need composing to fit the code page.
    const size_t cut = at == total ? in.size() : NfcSafeCut(in, CharacterCut(in));
    auto converted = FromUtf8(std::string_view(in).substr(0, cut), code_page);
    if (!converted.ok()) return converted.status();
    CORVANE_RETURN_IF_ERROR(write(*converted));
    in.erase(0, cut);
  }
  return Status::Ok();
}

// "\x" hex turned into bytes, a piece at a time, after `prefix`.
Status HexPieces(const ValuePieces& value, std::string_view prefix,
                 const std::function<Status(std::string_view)>& write) {
  if (const ValuePieces* bytes = value.HexBytes()) {
    if (bytes->size() == 0) return Status::Ok();  // no bytes: NULL
    if (!prefix.empty()) CORVANE_RETURN_IF_ERROR(write(prefix));
    std::string piece;
    for (uint64_t at = 0, total = bytes->size(); at < total;) {
      piece.resize(static_cast<size_t>(std::min<uint64_t>(kPiece, total - at)));
      CORVANE_RETURN_IF_ERROR(bytes->Read(at, piece.size(), piece.data()));
      at += piece.size();
      CORVANE_RETURN_IF_ERROR(write(piece));
    }
    return Status::Ok();
  }
  const Status not_hex = Refuse("it is not binary data in \\x hex form");
  const uint64_t total = value.size();
  char start[2] = {};
  if (total < 2 || total % 2 != 0) return not_hex;
  CORVANE_RETURN_IF_ERROR(value.Read(0, 2, start));
  if (start[0] != '\\' || start[1] != 'x') return not_hex;
  if (total == 2) return Status::Ok();  // no bytes: NULL
  if (!prefix.empty()) CORVANE_RETURN_IF_ERROR(write(prefix));
  std::string in, out;
  for (uint64_t at = 2; at < total;) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(kPiece, total - at));
    in.resize(n);
    CORVANE_RETURN_IF_ERROR(value.Read(at, n, in.data()));
    at += n;
    out.resize(n / 2);
    for (size_t i = 0; i < out.size(); ++i) {
      const int hi = HexValue(in[2 * i]), lo = HexValue(in[2 * i + 1]);
      if (hi < 0 || lo < 0) return not_hex;
      out[i] = static_cast<char>(hi * 16 + lo);
    }
    CORVANE_RETURN_IF_ERROR(write(out));
  }
  return Status::Ok();
}

}  // namespace

Result<PiecewisePayload> PiecewisePayload::Measure(const FieldInfo& field,
                                                   const ValuePieces& value, int code_page) {
  PiecewisePayload p(field, value, code_page);
  CORVANE_RETURN_IF_ERROR(p.Produce([&p](std::string_view piece) {
    p.size_ += piece.size();
    if (p.head_.size() < kHeadBytes) p.head_.append(piece.substr(0, kHeadBytes - p.head_.size()));
    return Status::Ok();
  }));
  if (p.size_ > UINT32_MAX) return Refuse("it is larger than 4 GiB");
  return p;
}

Status PiecewisePayload::Produce(const std::function<Status(std::string_view)>& write) const {
  if (type_ == FieldType::kMemo) return MemoPieces(*value_, code_page_, write);
  std::string prefix;
  if (type_ == FieldType::kGraphic || type_ == FieldType::kOle) {
    // The data's length is the payload's less the prefix.
    prefix = Prefixed(type_ == FieldType::kGraphic ? kGraphicKind : kOleKind, std::string());
    StoreLe32(reinterpret_cast<unsigned char*>(prefix.data()) + 4,
              static_cast<uint32_t>((value_->size() - 2) / 2));
  }
  return HexPieces(*value_, prefix, write);
}

bool BlobNeedsMbFile(const FieldInfo& field, std::string_view payload) {
  return BlobNeedsMbFile(field, uint64_t{payload.size()});
}

bool BlobNeedsMbFile(const FieldInfo& field, uint64_t payload_size) {
  // Graphic and OLE always go to the .mb: readers expect their prefix there.
  if (field.type == FieldType::kGraphic || field.type == FieldType::kOle) return true;
  return payload_size > static_cast<uint64_t>(field.size - kBlobRefSize);
}

void EncodeBlobReference(const FieldInfo& field, std::string_view payload, uint32_t pointer,
                         unsigned char* out) {
  EncodeBlobReference(field, payload, payload.size(), pointer, out);
}

void EncodeBlobReference(const FieldInfo& field, std::string_view head, uint64_t size,
                         uint32_t pointer, unsigned char* out) {
  const size_t leader = static_cast<size_t>(field.size - kBlobRefSize);
  std::string_view copy = head;
  if (field.type == FieldType::kGraphic) copy.remove_prefix(std::min<size_t>(kBlobPrefixSize, copy.size()));
  std::memcpy(out, copy.data(), std::min(leader, copy.size()));
  unsigned char* ref = out + leader;
  StoreLe32(ref, pointer);
  StoreLe32(ref + 4, static_cast<uint32_t>(size));
  StoreLe16(ref + 8, pointer == 0 ? 0 : 1);  // modification number of a fresh .mb
}

bool EncodeBcd(const Decimal& value, int scale, unsigned char* out) {
  return EncodeBcd(DecimalView{value.negative, value.int_digits, value.frac_digits}, scale, out);
}

bool EncodeBcd(const DecimalView& value, int scale, unsigned char* out) {
  const size_t int_room = static_cast<size_t>(kBcdDigits - scale);
  if (value.int_digits.size() > int_room || value.frac_digits.size() > static_cast<size_t>(scale)) {
    return false;
  }
  unsigned char nibbles[kBcdDigits] = {};
  const size_t int_start = int_room - value.int_digits.size();
  for (size_t i = 0; i < value.int_digits.size(); ++i) {
    nibbles[int_start + i] = static_cast<unsigned char>(value.int_digits[i] - '0');
  }
  for (size_t i = 0; i < value.frac_digits.size(); ++i) {
    nibbles[int_room + i] = static_cast<unsigned char>(value.frac_digits[i] - '0');
  }
  const unsigned char flip = value.negative ? 0x0F : 0x00;
  out[0] = static_cast<unsigned char>((value.negative ? 0x40 : 0xC0) | scale);
  for (int i = 0; i < kBcdDigits / 2; ++i) {
    out[1 + i] =
        static_cast<unsigned char>(((nibbles[2 * i] ^ flip) << 4) | (nibbles[2 * i + 1] ^ flip));
  }
  return true;
}

}  // namespace corvane::paradox
