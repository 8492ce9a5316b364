// Reading the fixed text forms values arrive in (numbers, dates, times,
// binary) into what Paradox stores. Shared by the field encoder, which must
// refuse what it cannot store exactly, and the schema chooser, which must
// pick fields that refuse nothing.
//
// Forms accepted (the ones the data-access layer produces):
//   decimal    [-]digits[.digits][e[+|-]digits]   ("1e+20" is how doubles print)
//   date       YYYY-MM-DD[ BC]
//   time       HH:MM:SS[.fraction]
//   timestamp  YYYY-MM-DD HH:MM:SS[.fraction][ BC]
//   binary     \x followed by an even number of hex digits
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace corvane::paradox {

// An exact decimal: sign, integer digits without leading zeros (empty for
// zero) and fraction digits without trailing zeros. Zero is never negative.
struct Decimal {
  bool negative = false;
  std::string int_digits;
  std::string frac_digits;
};

std::optional<Decimal> ParseDecimal(std::string_view text);
// The same digits as views into the text, for the plain form without an
// exponent ([-|+]digits[.digits]), the common one: nothing is copied.
struct DecimalView {
  bool negative = false;
  std::string_view int_digits;
  std::string_view frac_digits;
};
std::optional<DecimalView> ParsePlainDecimal(std::string_view text);
// ParsePlainDecimal, or for any other form ParseDecimal, whose digits are
// then kept in `made`.
std::optional<DecimalView> ParseDecimalDigits(std::string_view text, Decimal& made);
// [-]digits with at most 18 digits, the common form of integers, read
// without building a Decimal; nullopt for any other text (which may still
// be a decimal).
std::optional<int64_t> ParsePlainInteger(std::string_view text);
// "-12.5", "0", "100000000000000000000": the canonical plain form.
std::string CanonicalDecimal(const Decimal& d);

// A finite double from a decimal text; nullopt for anything else (including
// "inf" and "nan", which from_chars would accept).
std::optional<double> ParseFiniteDouble(std::string_view text);
// The shortest text that reads back to `value` (std::to_chars).
std::string ShortestDoubleText(double value);

// True for a decimal zero written with a minus ("-0", "-0.0e5"): a double
// keeps that sign, an integer or BCD field does not.
bool IsNegativeZero(std::string_view text);

// True when `text` is a decimal whose value a double holds exactly, i.e. the
// double read from it prints as the same canonical decimal.
bool DoubleHoldsExactly(std::string_view text);
// ParseFiniteDouble and DoubleHoldsExactly in one reading of the text.
struct DoubleReading {
  double value = 0;
  bool exact = false;
};
std::optional<DoubleReading> ReadDouble(std::string_view text);

// Day number with 0001-01-01 = 1 (proleptic Gregorian, 1 BC = year 0).
std::optional<int64_t> ParseDate(std::string_view text);
// Milliseconds since midnight. Fails for a value finer than a millisecond.
std::optional<int64_t> ParseTimeMs(std::string_view text);
// Milliseconds since day 0 at midnight (the Timestamp field's scale).
std::optional<int64_t> ParseTimestampMs(std::string_view text);

// Bytes of a "\x…" text; nullopt when it is not in that form.
std::optional<std::string> ParseHex(std::string_view text);
// True when ParseHex would give bytes, found without making them.
bool IsHex(std::string_view text);

}  // namespace corvane::paradox
