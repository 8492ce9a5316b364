#include "postgres/pg_value_text.h"

#include <charconv>
#include <cmath>
#include <cstdlib>

#include "connection/value.h"

namespace corvane {
namespace {

// Built-in type OIDs (pg_type.dat); stable across server versions.
constexpr unsigned kBoolOid = 16;
constexpr unsigned kByteaOid = kPgByteaOid;
constexpr unsigned kNameOid = 19;
constexpr unsigned kInt8Oid = 20;
constexpr unsigned kInt2Oid = 21;
constexpr unsigned kInt4Oid = 23;
constexpr unsigned kTextOid = 25;
constexpr unsigned kFloat4Oid = 700;
constexpr unsigned kFloat8Oid = 701;
constexpr unsigned kMoneyOid = 790;
constexpr unsigned kBpcharOid = 1042;
constexpr unsigned kVarcharOid = 1043;
constexpr unsigned kDateOid = 1082;
constexpr unsigned kTimeOid = 1083;
constexpr unsigned kTimestampOid = 1114;
constexpr unsigned kTimestamptzOid = 1184;
constexpr unsigned kNumericOid = 1700;
constexpr unsigned kUuidOid = 2950;

// Re-prints a float the server wrote shortest-exact; the number parsed is
// the stored one, so printing it again loses nothing.
template <typename F>
bool ReprintFloat(std::string_view text, std::string& out) {
  F value{};
  auto parsed = std::from_chars(text.data(), text.data() + text.size(), value);
  if (parsed.ec != std::errc() || parsed.ptr != text.data() + text.size()) return false;
  if (!std::isfinite(value)) return false;  // keep "NaN", "Infinity" as the server says
  char buf[64];
  auto printed = std::to_chars(buf, buf + sizeof buf, value);
  if (printed.ec != std::errc()) return false;
  out.assign(buf, printed.ptr);
  return true;
}

// Whether a float the server wrote is what ReprintFloat would make of it:
// fixed notation in its shortest form (no leading or trailing zeros), no
// longer than the scientific one (to_chars takes the shorter, fixed on a
// tie), with at most `exact_digits` significant digits, which every
// decimal of that many parses to a float of its own, so none shorter
// prints it.
bool PrintedAsReprinted(std::string_view t, int exact_digits) {
  const size_t sign = !t.empty() && t[0] == '-' ? 1 : 0;
  const std::string_view body = t.substr(sign);
  const size_t point = body.find('.');
  const std::string_view whole = body.substr(0, point);
  if (whole.empty() || (whole.size() > 1 && whole[0] == '0')) return false;
  if (point != std::string_view::npos && (point + 1 == body.size() || body.back() == '0')) {
    return false;
  }
  size_t first = std::string_view::npos, last = 0;
  for (size_t k = 0; k < body.size(); ++k) {
    if (k == point) continue;
    if (body[k] < '0' || body[k] > '9') return false;
    if (body[k] == '0') continue;
    if (first == std::string_view::npos) first = k;
    last = k;
  }
  if (first == std::string_view::npos) return body == "0";  // 0 and -0 print so
  const bool across = point != std::string_view::npos && first < point && point < last;
  const int digits = static_cast<int>(last - first + 1 - (across ? 1 : 0));
  if (digits > exact_digits) return false;
  const int exponent = first < whole.size() ? static_cast<int>(whole.size() - first - 1)
                                            : -static_cast<int>(first - whole.size());
  const size_t scientific = sign + static_cast<size_t>(digits) + (digits > 1 ? 1 : 0) + 2 +
                            (std::abs(exponent) >= 100 ? 3 : 2);
  return t.size() <= scientific;
}

// With lc_monetary C the server writes money as [-]$d,ddd.dd; negative
// amounts may also come in parentheses under other monetary locales.
void MoneyText(std::string_view text, std::string& out) {
  out.clear();
  bool negative = false;
  for (char c : text) {
    if (c == '-' || c == '(') {
      negative = true;
    } else if ((c >= '0' && c <= '9') || c == '.') {
      out.push_back(c);
    }
  }
  if (negative) out.insert(out.begin(), '-');
}

// The zone offset ("+01", "-03:30", "+00:53:28") cut from a timestamptz;
// the era stays. "infinity" has no offset and stays as it is.
void WallTime(std::string_view text, std::string& out) {
  std::string_view era;
  if (text.ends_with(" BC")) {
    era = text.substr(text.size() - 3);
    text.remove_suffix(3);
  }
  const size_t time = text.find(':');
  const size_t sign = text.find_last_of("+-");
  if (time == std::string_view::npos || sign == std::string_view::npos || sign < time) {
    out.assign(text);
  } else {
    out.assign(text.substr(0, sign));
  }
  out.append(era);
}

}  // namespace

int PgTypeCode(unsigned int type_oid) {
  switch (type_oid) {
    case kInt2Oid:
      return type_code::kSmallInt;
    case kInt4Oid:
      return type_code::kInteger;
    case kInt8Oid:
      return type_code::kBigInt;
    case kFloat4Oid:
      return type_code::kSingle;
    case kFloat8Oid:
      return type_code::kDouble;
    case kNumericOid:
      return type_code::kNumeric;
    case kMoneyOid:
      return type_code::kCurrency;
    case kBoolOid:
      return type_code::kBoolean;
    case kBpcharOid:
      return type_code::kWChar;
    case kVarcharOid:
    case kNameOid:
      return type_code::kVarWChar;
    case kDateOid:
      return type_code::kDbDate;
    case kTimeOid:
      return type_code::kDbTime;
    case kTimestampOid:
    case kTimestamptzOid:
      return type_code::kDbTimeStamp;
    case kByteaOid:
      return type_code::kLongVarBinary;
    case kUuidOid:
      return type_code::kGuid;
    case kTextOid:
    default:
      return type_code::kLongVarWChar;
  }
}

bool PgValueTextIsServerText(unsigned int type_oid) {
  switch (type_oid) {
    case kBoolOid:
    case kMoneyOid:
    case kFloat4Oid:
    case kFloat8Oid:
    case kTimestamptzOid:
      return false;
    default:
      return true;
  }
}

bool PgValueTextIsServerText(unsigned int type_oid, std::string_view server_text) {
  switch (type_oid) {
    case kFloat4Oid:
      return PrintedAsReprinted(server_text, 6);
    case kFloat8Oid:
      return PrintedAsReprinted(server_text, 15);
    default:
      return PgValueTextIsServerText(type_oid);
  }
}

void PgByteaText(std::string_view bytes, std::string& out) {
  static constexpr char kDigits[] = "0123456789abcdef";
  out.assign("\\x");
  for (char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    out.push_back(kDigits[b >> 4]);
    out.push_back(kDigits[b & 0x0F]);
  }
}

void PgValueText(unsigned int type_oid, std::string_view server_text, std::string& out) {
  switch (type_oid) {
    case kBoolOid:
      out.assign(server_text == "t" ? "True" : "False");
      return;
    case kMoneyOid:
      MoneyText(server_text, out);
      return;
    case kFloat4Oid:
      if (PrintedAsReprinted(server_text, 6) || !ReprintFloat<float>(server_text, out)) break;
      return;
    case kFloat8Oid:
      if (PrintedAsReprinted(server_text, 15) || !ReprintFloat<double>(server_text, out)) break;
      return;
    case kTimestamptzOid:
      WallTime(server_text, out);
      return;
    default:
      break;
  }
  out.assign(server_text);
}

}  // namespace corvane
