#include "paradox/field_decode.h"

#include <charconv>
#include <cmath>

#include "paradox/code_page.h"

namespace corvane::paradox {

namespace {

bool AllZero(const unsigned char* p, int n) {
  for (int i = 0; i < n; ++i) {
    if (p[i] != 0) return false;
  }
  return true;
}

void AppendInt(int64_t v, std::string& out) {
  char buf[24];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, r.ptr);
}

// Appends v with at least `width` digits (v >= 0).
void AppendPadded(int64_t v, int width, std::string& out) {
  char buf[24];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  for (int pad = width - static_cast<int>(r.ptr - buf); pad > 0; --pad) out.push_back('0');
  out.append(buf, r.ptr);
}

void AppendDouble(double d, std::string& out) {
  // PostgreSQL's spellings: it refuses "-nan", and a NaN's sign means nothing.
  if (std::isnan(d)) {
    out += "NaN";
    return;
  }
  if (std::isinf(d)) {
    out += d < 0 ? "-Infinity" : "Infinity";
    return;
  }
  char buf[32];
  const auto r = std::to_chars(buf, buf + sizeof buf, d);
  out.append(buf, r.ptr);
}

// Proleptic Gregorian date of a day count from 1970-01-01 (H. Hinnant's
// civil_from_days); valid for the whole range of a 32-bit day number.
void CivilFromDays(int64_t z, int64_t& y, int& m, int& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = yoe + era * 400 + (m <= 2);
}

Status OutOfRange(const char* what, int64_t v) {
  return Status::Corruption(std::string(what) + " value " + std::to_string(v) + " is out of range");
}

// Sortable integer types (S, I, +, D, T) share the NULL rule: all zero.
Status DecodeIntegerField(const FieldInfo& f, const unsigned char* p, Cell& cell) {
  const int64_t v = DecodeFlippedInt(p, f.size);
  switch (f.type) {
    case FieldType::kDate:
      AppendDate(v, cell.text);
      return Status::Ok();
    case FieldType::kTime:
      if (v < 0 || v >= kMsPerDay) return OutOfRange("time", v);
      AppendTime(v, cell.text);
      return Status::Ok();
    default:
      AppendInt(v, cell.text);
      return Status::Ok();
  }
}

// Timestamp: milliseconds on the Date day scale, stored as a double.
Status DecodeTimestamp(const unsigned char* p, Cell& cell) {
  const double v = DecodeFlippedDouble(p);
  // Beyond this the year has more than 7 digits: no real table holds that.
  constexpr double kLimit = 4.0e17;
  if (!(std::fabs(v) < kLimit)) {
    return Status::Corruption("timestamp value " + std::to_string(v) + " is out of range");
  }
  const auto ms = static_cast<int64_t>(std::llround(v));
  int64_t day = ms / kMsPerDay;
  int64_t rest = ms % kMsPerDay;
  if (rest < 0) {
    rest += kMsPerDay;
    --day;
  }
  // PostgreSQL writes the era after the time: "0044-03-15 12:00:00 BC".
  const bool bc = AppendDateDigits(day, cell.text);
  cell.text.push_back(' ');
  AppendTime(rest, cell.text);
  if (bc) cell.text += " BC";
  return Status::Ok();
}

// BCD: sign/valid byte, then 32 digit nibbles, the last `scale` the fraction.
void DecodeBcd(const FieldInfo& f, const unsigned char* p, Cell& cell) {
  const bool negative = (p[0] & 0x80) == 0;
  const unsigned char flip = negative ? 0x0F : 0x00;
  char digits[kBcdDigits];
  bool noise = false;
  for (int i = 0; i < kBcdDigits; ++i) {
    const unsigned char byte = p[1 + i / 2];
    unsigned char nib = ((i % 2 == 0) ? byte >> 4 : byte & 0x0F) ^ flip;
    // Values filled through doubles can carry non-decimal nibbles in the
    // low digits: what follows the first one is noise.
    if (nib > 9) noise = true;
    digits[i] = static_cast<char>('0' + (noise ? 0 : nib));
  }
  const int int_digits = kBcdDigits - f.scale;
  int first = 0;
  while (first < int_digits - 1 && digits[first] == '0') ++first;
  bool nonzero = false;
  for (char c : digits) nonzero |= c != '0';
  if (negative && nonzero) cell.text.push_back('-');
  if (int_digits == 0) cell.text.push_back('0');
  cell.text.append(digits + first, digits + int_digits);
  if (f.scale > 0) {
    cell.text.push_back('.');
    cell.text.append(digits + int_digits, digits + kBcdDigits);
  }
}

Status DecodeAlpha(const FieldInfo& f, const unsigned char* p, int code_page, Cell& cell) {
  int len = 0;
  while (len < f.size && p[len] != 0) ++len;
  if (len == 0) return Status::Ok();  // empty Alpha is NULL
  cell.null = false;
  return AppendUtf8(std::string_view(reinterpret_cast<const char*>(p), len), code_page, cell.text);
}

}  // namespace

void AppendDate(int64_t day, std::string& out) {
  if (AppendDateDigits(day, out)) out += " BC";
}

bool AppendDateDigits(int64_t day, std::string& out) {
  int64_t y = 0;
  int m = 0;
  int d = 0;
  CivilFromDays(day - kDateUnixEpochDay, y, m, d);
  const bool bc = y <= 0;
  AppendPadded(bc ? 1 - y : y, 4, out);
  out.push_back('-');
  AppendPadded(m, 2, out);
  out.push_back('-');
  AppendPadded(d, 2, out);
  return bc;
}

void AppendTime(int64_t ms, std::string& out) {
  AppendPadded(ms / 3600000, 2, out);
  out.push_back(':');
  AppendPadded(ms / 60000 % 60, 2, out);
  out.push_back(':');
  AppendPadded(ms / 1000 % 60, 2, out);
  if (ms % 1000 != 0) {
    out.push_back('.');
    AppendPadded(ms % 1000, 3, out);
  }
}

void AppendHex(const unsigned char* p, size_t n, std::string& out) {
  out += "\\x";
  AppendHexDigits(p, n, out);
}

void AppendHexDigits(const unsigned char* p, size_t n, std::string& out) {
  static constexpr char kDigits[] = "0123456789abcdef";
  const size_t at = out.size();
  out.resize(at + 2 * n);
  char* o = out.data() + at;
  for (size_t i = 0; i < n; ++i) {
    *o++ = kDigits[p[i] >> 4];
    *o++ = kDigits[p[i] & 0x0F];
  }
}

Status DecodeScalarField(const FieldInfo& f, const unsigned char* p, int code_page, Cell& cell) {
  cell.null = true;
  cell.text.clear();
  if (f.type == FieldType::kAlpha) return DecodeAlpha(f, p, code_page, cell);
  if (f.type == FieldType::kBcd) {
    if ((p[0] & 0x40) == 0) return Status::Ok();
    cell.null = false;
    DecodeBcd(f, p, cell);
    return Status::Ok();
  }
  if (AllZero(p, f.size)) return Status::Ok();
  cell.null = false;
  switch (f.type) {
    case FieldType::kNumber:
    case FieldType::kMoney:
      AppendDouble(DecodeFlippedDouble(p), cell.text);
      return Status::Ok();
    case FieldType::kTimestamp:
      return DecodeTimestamp(p, cell);
    case FieldType::kLogical:
      cell.text = p[0] == 0x80 ? "False" : "True";
      return Status::Ok();
    case FieldType::kBytes:
      AppendHex(p, f.size, cell.text);
      return Status::Ok();
    default:
      return DecodeIntegerField(f, p, cell);
  }
}

}  // namespace corvane::paradox
