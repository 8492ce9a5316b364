#include "paradox/value_parse.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>

namespace corvane::paradox {
namespace {

constexpr int64_t kMsPerDayValue = 86400000;
// Longer exponents cannot come from a double and would only build huge texts.
constexpr int kMaxExponent = 400;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

size_t CountDigits(std::string_view s, size_t from) {
  size_t i = from;
  while (i < s.size() && IsDigit(s[i])) ++i;
  return i - from;
}

std::optional<int> ParseExponent(std::string_view s) {
  if (s.empty()) return 0;
  if (s[0] != 'e' && s[0] != 'E') return std::nullopt;
  s.remove_prefix(1);
  bool neg = false;
  if (!s.empty() && (s[0] == '+' || s[0] == '-')) {
    neg = s[0] == '-';
    s.remove_prefix(1);
  }
  int value = 0;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
  if (s.empty() || ec != std::errc() || end != s.data() + s.size() || value > kMaxExponent) {
    return std::nullopt;
  }
  return neg ? -value : value;
}

// Places the decimal point of digits (all significant digits, no point)
// `point` places from the left and trims zeros on both ends.
Decimal Normalize(bool negative, const std::string& digits, long point) {
  Decimal d;
  if (point <= 0) {
    d.frac_digits = std::string(static_cast<size_t>(-point), '0') + digits;
  } else if (static_cast<size_t>(point) >= digits.size()) {
    d.int_digits = digits + std::string(static_cast<size_t>(point) - digits.size(), '0');
  } else {
    d.int_digits = digits.substr(0, static_cast<size_t>(point));
    d.frac_digits = digits.substr(static_cast<size_t>(point));
  }
  size_t lead = d.int_digits.find_first_not_of('0');
  d.int_digits.erase(0, lead == std::string::npos ? d.int_digits.size() : lead);
  size_t trail = d.frac_digits.find_last_not_of('0');
  d.frac_digits.erase(trail == std::string::npos ? 0 : trail + 1);
  d.negative = negative && !(d.int_digits.empty() && d.frac_digits.empty());
  return d;
}

// Days from 1970-01-01 to y-m-d, proleptic Gregorian, astronomical years.
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

int DaysInMonth(int64_t y, int m) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = y % 4 == 0 && (y % 100 != 0 || y % 400 == 0);
  return m == 2 && leap ? 29 : kDays[m - 1];
}

// The number `count` digits at `pos` make, or -1 when one is no digit.
int FixedDigits(std::string_view s, size_t pos, size_t count) {
  int v = 0;
  for (size_t i = pos; i < pos + count; ++i) {
    const unsigned d = static_cast<unsigned char>(s[i]) - unsigned{'0'};
    if (d > 9) return -1;
    v = v * 10 + static_cast<int>(d);
  }
  return v;
}

// "YYYY-MM-DD" at the start of s; the era is given separately.
std::optional<int64_t> DayNumber(std::string_view s, bool bc) {
  if (s.size() != 10 || s[4] != '-' || s[7] != '-') return std::nullopt;
  const int year = FixedDigits(s, 0, 4), month = FixedDigits(s, 5, 2), day = FixedDigits(s, 8, 2);
  if (year < 1 || month < 1 || month > 12) return std::nullopt;
  int64_t astronomical = bc ? 1 - year : year;
  if (day < 1 || day > DaysInMonth(astronomical, month)) return std::nullopt;
  return DaysFromCivil(astronomical, static_cast<unsigned>(month), static_cast<unsigned>(day)) +
         719163;
}

// Strips a trailing " BC" and says whether it was there.
bool StripEra(std::string_view& s) {
  constexpr std::string_view kBc = " BC";
  if (s.size() > kBc.size() && s.substr(s.size() - kBc.size()) == kBc) {
    s.remove_suffix(kBc.size());
    return true;
  }
  return false;
}

// The value of a text that is exactly the shortest form of a finite double
// (what the drivers write for floats, and every integer of up to 15
// digits): it reads back as itself, so there is nothing more to check.
std::optional<double> ShortestFormValue(std::string_view text) {
  double value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) {
    return std::nullopt;
  }
  char buf[64];
  auto printed = std::to_chars(buf, buf + sizeof buf, value);
  if (printed.ec != std::errc() || std::string_view(buf, printed.ptr) != text) return std::nullopt;
  return value;
}

// [-]digits[.digits] with at most 15 significant digits: the double
// nearest to such a decimal prints as the same decimal again (any two
// decimals of 15 digits lie further apart than a double's step), so it
// needs no reading back. Longer texts than this are left to the full check.
bool ShortPlainDecimal(std::string_view s) {
  constexpr size_t kDigits = 15, kLongest = 40;
  if (s.size() > kLongest) return false;
  size_t i = !s.empty() && s[0] == '-' ? 1 : 0;
  const size_t int_len = CountDigits(s, i);
  if (int_len == 0) return false;
  size_t end = i + int_len;  // past the last significant digit
  if (end < s.size()) {
    if (s[end] != '.') return false;
    const size_t frac_len = CountDigits(s, end + 1);
    if (frac_len == 0 || end + 1 + frac_len != s.size()) return false;
    size_t last = s.size();
    while (s[last - 1] == '0') --last;  // trailing fraction zeros do not count
    if (s[last - 1] != '.') end = last;
  }
  size_t first = i;
  while (first < end && (s[first] == '0' || s[first] == '.')) ++first;
  size_t digits = 0;
  for (size_t k = first; k < end; ++k) digits += s[k] != '.';
  return digits <= kDigits;
}

}  // namespace

std::optional<int64_t> ParsePlainInteger(std::string_view text) {
  const bool negative = !text.empty() && text[0] == '-';
  const std::string_view digits = text.substr(negative ? 1 : 0);
  if (digits.empty() || digits.size() > 18) return std::nullopt;
  int64_t v = 0;
  for (char c : digits) {
    const unsigned d = static_cast<unsigned char>(c) - unsigned{'0'};
    if (d > 9) return std::nullopt;
    v = v * 10 + static_cast<int64_t>(d);
  }
  return negative ? -v : v;
}

std::optional<DecimalView> ParsePlainDecimal(std::string_view text) {
  std::string_view s = text;
  bool negative = false;
  if (!s.empty() && (s[0] == '-' || s[0] == '+')) {
    negative = s[0] == '-';
    s.remove_prefix(1);
  }
  const size_t int_len = CountDigits(s, 0);
  if (int_len == 0) return std::nullopt;
  DecimalView d;
  d.int_digits = s.substr(0, int_len);
  if (int_len < s.size()) {
    const size_t frac_len = CountDigits(s, int_len + 1);
    if (s[int_len] != '.' || frac_len == 0 || int_len + 1 + frac_len != s.size()) {
      return std::nullopt;
    }
    d.frac_digits = s.substr(int_len + 1);
  }
  while (!d.int_digits.empty() && d.int_digits.front() == '0') d.int_digits.remove_prefix(1);
  while (!d.frac_digits.empty() && d.frac_digits.back() == '0') d.frac_digits.remove_suffix(1);
  d.negative = negative && !(d.int_digits.empty() && d.frac_digits.empty());
  return d;
}

std::optional<DecimalView> ParseDecimalDigits(std::string_view text, Decimal& made) {
  if (auto plain = ParsePlainDecimal(text)) return plain;
  auto d = ParseDecimal(text);
  if (!d) return std::nullopt;
  made = std::move(*d);
  return DecimalView{made.negative, made.int_digits, made.frac_digits};
}

std::optional<Decimal> ParseDecimal(std::string_view text) {
  if (auto plain = ParsePlainDecimal(text)) {
    return Decimal{plain->negative, std::string(plain->int_digits),
                   std::string(plain->frac_digits)};
  }
  std::string_view s = text;
  bool negative = false;
  if (!s.empty() && (s[0] == '-' || s[0] == '+')) {
    negative = s[0] == '-';
    s.remove_prefix(1);
  }
  size_t int_len = CountDigits(s, 0);
  if (int_len == 0) return std::nullopt;
  std::string digits(s.substr(0, int_len));
  size_t pos = int_len;
  if (pos < s.size() && s[pos] == '.') {
    size_t frac_len = CountDigits(s, pos + 1);
    if (frac_len == 0) return std::nullopt;
    digits.append(s.substr(pos + 1, frac_len));
    pos += 1 + frac_len;
  }
  auto exponent = ParseExponent(s.substr(pos));
  if (!exponent) return std::nullopt;
  return Normalize(negative, digits, static_cast<long>(int_len) + *exponent);
}

std::string CanonicalDecimal(const Decimal& d) {
  std::string out = d.negative ? "-" : "";
  out += d.int_digits.empty() ? "0" : d.int_digits;
  if (!d.frac_digits.empty()) out += "." + d.frac_digits;
  return out;
}

std::optional<double> ParseFiniteDouble(std::string_view text) {
  if (ShortPlainDecimal(text)) {
    double value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
  }
  if (auto v = ShortestFormValue(text)) return v;
  if (!ParseDecimal(text)) return std::nullopt;  // refuses inf, nan, hex floats
  if (!text.empty() && text[0] == '+') text.remove_prefix(1);
  double value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::string ShortestDoubleText(double value) {
  char buf[64];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
  return ec == std::errc() ? std::string(buf, end) : std::string();
}

bool IsNegativeZero(std::string_view text) {
  if (text.empty() || text[0] != '-') return false;
  if (auto plain = ParsePlainDecimal(text)) {
    return plain->int_digits.empty() && plain->frac_digits.empty();
  }
  auto d = ParseDecimal(text);
  return d && d->int_digits.empty() && d->frac_digits.empty();
}

bool DoubleHoldsExactly(std::string_view text) {
  if (ShortPlainDecimal(text) || ShortestFormValue(text)) return true;
  auto dec = ParseDecimal(text);
  auto value = ParseFiniteDouble(text);
  if (!dec || !value) return false;
  auto back = ParseDecimal(ShortestDoubleText(*value));
  return back && CanonicalDecimal(*back) == CanonicalDecimal(*dec);
}

std::optional<DoubleReading> ReadDouble(std::string_view text) {
  if (ShortPlainDecimal(text)) {
    double value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return DoubleReading{value, true};
  }
  auto value = ParseFiniteDouble(text);
  if (!value) return std::nullopt;
  return DoubleReading{*value, DoubleHoldsExactly(text)};
}

std::optional<int64_t> ParseDate(std::string_view text) {
  bool bc = StripEra(text);
  return DayNumber(text, bc);
}

std::optional<int64_t> ParseTimeMs(std::string_view s) {
  if (s.size() < 8 || s[2] != ':' || s[5] != ':') return std::nullopt;
  const int h = FixedDigits(s, 0, 2), m = FixedDigits(s, 3, 2), sec = FixedDigits(s, 6, 2);
  if (h < 0 || m < 0 || sec < 0 || h > 23 || m > 59 || sec > 59) return std::nullopt;
  int64_t ms = ((h * 60 + m) * 60 + sec) * int64_t{1000};
  if (s.size() == 8) return ms;
  const size_t frac_len = CountDigits(s, 9);
  if (s[8] != '.' || frac_len == 0 || 9 + frac_len != s.size()) return std::nullopt;
  // Milliseconds: the first three places; any further one must be zero.
  int millis = 0;
  for (size_t i = 0; i < 3; ++i) millis = millis * 10 + (i < frac_len ? s[9 + i] - '0' : 0);
  for (size_t i = 12; i < s.size(); ++i) {
    if (s[i] != '0') return std::nullopt;  // finer than a millisecond
  }
  return ms + millis;
}

std::optional<int64_t> ParseTimestampMs(std::string_view text) {
  bool bc = StripEra(text);
  if (text.size() < 19 || text[10] != ' ') return std::nullopt;
  auto day = DayNumber(text.substr(0, 10), bc);
  auto ms = ParseTimeMs(text.substr(11));
  if (!day || !ms) return std::nullopt;
  return *day * kMsPerDayValue + *ms;
}

bool IsHex(std::string_view text) {
  if (text.size() < 2 || text[0] != '\\' || text[1] != 'x' || text.size() % 2 != 0) return false;
  return std::all_of(text.begin() + 2, text.end(), [](char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
  });
}

std::optional<std::string> ParseHex(std::string_view text) {
  if (text.size() < 2 || text[0] != '\\' || text[1] != 'x' || text.size() % 2 != 0) {
    return std::nullopt;
  }
  std::string out;
  out.reserve((text.size() - 2) / 2);
  for (size_t i = 2; i < text.size(); i += 2) {
    unsigned value = 0;
    auto [end, ec] = std::from_chars(text.data() + i, text.data() + i + 2, value, 16);
    if (ec != std::errc() || end != text.data() + i + 2) return std::nullopt;
    out.push_back(static_cast<char>(value));
  }
  return out;
}

}  // namespace corvane::paradox
