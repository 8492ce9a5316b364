#include "paradox/schema_chooser.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "paradox/value_parse.h"

namespace corvane::paradox {
namespace {

Cell V(std::string text) { return Cell{false, std::move(text)}; }
Cell N() { return Cell{}; }

// The field chosen for one column of `word` holding `values`.
FieldInfo ChooseFor(const std::string& word, const std::vector<Cell>& values,
                    int code_page = 1252) {
  SchemaChooser chooser({{"c", word}}, code_page);
  for (const Cell& v : values) chooser.Observe({v});
  return chooser.Choose().at(0);
}

TEST(SchemaChooserTest, NumbersGetTheNarrowestExactField) {
  EXPECT_EQ(ChooseFor("INT", {V("1"), V("-2147483647"), V("2147483647"), N()}).type,
            FieldType::kLong);
  // Out of Long's range (its lowest value is the NULL), or fractions.
  EXPECT_EQ(ChooseFor("INT", {V("1"), V("-2147483648")}).type, FieldType::kNumber);
  EXPECT_EQ(ChooseFor("int", {V("2147483648")}).type, FieldType::kNumber);
  EXPECT_EQ(ChooseFor("INT", {V("1.5"), V("0.1"), V("1e+20")}).type, FieldType::kNumber);
  EXPECT_EQ(ChooseFor("FLOAT", {V("1.7976931348623157e+308"), V("5e-324")}).type,
            FieldType::kNumber);
  // A double cannot keep these: BCD keeps them, with the largest scale seen.
  FieldInfo bcd = ChooseFor("DECIMAL", {V("12345678901234567890"), V("0.125"), V("1.1")});
  EXPECT_EQ(bcd.type, FieldType::kBcd);
  EXPECT_EQ(bcd.scale, 3);
  EXPECT_EQ(bcd.size, 17);
  // 33 digits fit no BCD field: the column stays text.
  FieldInfo wide = ChooseFor("INT", {V("123456789012345678901234567890.123")});
  EXPECT_EQ(wide.type, FieldType::kAlpha);
  EXPECT_EQ(wide.size, 34);
  // Texts that are not numbers (NaN, Infinity) keep the column text.
  EXPECT_EQ(ChooseFor("FLOAT", {V("1.5"), V("NaN")}).type, FieldType::kAlpha);
  EXPECT_EQ(ChooseFor("FLOAT", {V("-Infinity")}).size, 9);
}

TEST(SchemaChooserTest, DecimalsWithOnePlaceCountKeepItInBcd) {
  // numeric(12,4) prints every value with four places: BCD of scale 4 keeps
  // the text, where a Number would read back 12.345.
  FieldInfo four = ChooseFor("INT", {V("12.3450"), V("-0.5000"), V("0.0000"), N(), V("")});
  EXPECT_EQ(four.type, FieldType::kBcd);
  EXPECT_EQ(four.scale, 4);
  EXPECT_EQ(ChooseFor("DECIMAL", {V("1.50"), V("-99999999.00")}).scale, 2);
  // 28 digits before the point and 4 after fill the 32 digits; one more
  // does not fit, and the usual order takes over.
  const std::string d28(28, '9');
  EXPECT_EQ(ChooseFor("INT", {V(d28 + ".1234")}).type, FieldType::kBcd);
  FieldInfo over = ChooseFor("INT", {V("9" + d28 + ".1234")});
  EXPECT_EQ(over.type, FieldType::kAlpha);
  // Places that differ, forms BCD would print otherwise (leading zero,
  // plus sign, exponent, negative zero) and FLOAT columns keep the order.
  EXPECT_EQ(ChooseFor("INT", {V("1.50"), V("2.5")}).type, FieldType::kNumber);
  EXPECT_EQ(ChooseFor("INT", {V("01.50")}).type, FieldType::kNumber);
  EXPECT_EQ(ChooseFor("INT", {V("+1.50")}).type, FieldType::kNumber);
  EXPECT_EQ(ChooseFor("INT", {V("1.55e1")}).type, FieldType::kNumber);
  EXPECT_EQ(ChooseFor("INT", {V("-0.00")}).type, FieldType::kNumber);
  EXPECT_EQ(ChooseFor("INT", {V("-0"), V("3")}).type, FieldType::kNumber);  // a real's -0
  EXPECT_EQ(ChooseFor("FLOAT", {V("1.25"), V("3.75")}).type, FieldType::kNumber);
  // Whole numbers stay Long integer.
  EXPECT_EQ(ChooseFor("INT", {V("5"), V("-7")}).type, FieldType::kLong);
}

TEST(SchemaChooserTest, DateTimesAreDatesOrTimestampsOnlyWhenExact) {
  EXPECT_EQ(ChooseFor("DATETIME", {V("2020-01-01"), V("0044-03-15 BC")}).type, FieldType::kDate);
  EXPECT_EQ(ChooseFor("DATETIME", {V("2020-01-01 10:00:00"), V("2020-01-01 10:00:00.123")}).type,
            FieldType::kTimestamp);
  // Microseconds, time zones, mixed forms and impossible dates stay text.
  EXPECT_EQ(ChooseFor("DATETIME", {V("2020-01-01 10:00:00.123456")}).type, FieldType::kAlpha);
  EXPECT_EQ(ChooseFor("DATETIME", {V("2020-01-01 10:00:00+02")}).type, FieldType::kAlpha);
  EXPECT_EQ(ChooseFor("DATETIME", {V("2020-01-01"), V("2020-01-01 10:00:00")}).type,
            FieldType::kAlpha);
  EXPECT_EQ(ChooseFor("DATETIME", {V("infinity")}).type, FieldType::kAlpha);
  EXPECT_EQ(ChooseFor("DATETIME", {V("2021-02-29")}).type, FieldType::kAlpha);
}

TEST(SchemaChooserTest, TextKeepsItsExactForm) {
  // Numbers written as text keep their zeros; money and uuids stay text.
  FieldInfo zip = ChooseFor("VARCHAR", {V("007"), V("1.50")});
  EXPECT_EQ(zip.type, FieldType::kAlpha);
  EXPECT_EQ(zip.size, 4);
  EXPECT_EQ(ChooseFor("VARCHAR", {V("a0eebc99-9c0b-4ef8-bb6d-6bb9bd380a11")}).size, 36);
  // Width counts code-page bytes, not UTF-8 bytes: "äöü" is 3 bytes in 1252.
  EXPECT_EQ(ChooseFor("VARCHAR", {V("äöü")}).size, 3);
  EXPECT_EQ(ChooseFor("VARCHAR", {V(std::string(255, 'x'))}).type, FieldType::kAlpha);
  EXPECT_EQ(ChooseFor("VARCHAR", {V(std::string(256, 'x'))}).type, FieldType::kMemo);
  EXPECT_EQ(ChooseFor("VARCHAR", {V(std::string(254, 'x') + "é")}).size, 255);
  EXPECT_EQ(ChooseFor("VARCHAR", {V(std::string("a\0b", 3))}).type, FieldType::kMemo);
  EXPECT_EQ(ChooseFor("MEMO", {V("short")}).type, FieldType::kMemo);
  // Booleans as the data layer writes them become Logical; t/f stay text.
  EXPECT_EQ(ChooseFor("VARCHAR", {V("True"), V("False"), N()}).type, FieldType::kLogical);
  EXPECT_EQ(ChooseFor("VARCHAR", {V("t"), V("f")}).type, FieldType::kAlpha);
  EXPECT_EQ(ChooseFor("VARCHAR", {V("True"), V("true")}).type, FieldType::kAlpha);
}

TEST(SchemaChooserTest, BlobsAndEmptyColumns) {
  EXPECT_EQ(ChooseFor("OLEOBJECT", {V("\\x0001ff"), V("\\x")}).type, FieldType::kBinary);
  EXPECT_EQ(ChooseFor("OLEOBJECT", {V("not hex")}).type, FieldType::kAlpha);
  EXPECT_EQ(ChooseFor("VARCHAR", {N(), V("")}).type, FieldType::kAlpha);
  EXPECT_EQ(ChooseFor("VARCHAR", {}).size, 1);
  EXPECT_EQ(ChooseFor("INT", {N()}).type, FieldType::kLong);
  EXPECT_EQ(ChooseFor("FLOAT", {}).type, FieldType::kNumber);
  EXPECT_EQ(ChooseFor("DATETIME", {}).type, FieldType::kTimestamp);
  EXPECT_EQ(ChooseFor("OLEOBJECT", {}).type, FieldType::kBinary);
}

TEST(SchemaChooserTest, WideRecordsMoveTheWidestTextsToMemos) {
  std::vector<SchemaChooser::Column> columns;
  std::vector<Cell> row;
  for (int i = 0; i < 26; ++i) {
    columns.push_back({"c" + std::to_string(i), "VARCHAR"});
    row.push_back(V(std::string(i < 16 ? 250 : 100, 'x')));
  }
  SchemaChooser chooser(columns);
  chooser.Observe(row);
  EXPECT_EQ(chooser.rows_observed(), 1u);
  auto fields = chooser.Choose();
  int total = 0, memos = 0;
  for (const auto& f : fields) {
    total += f.size;
    memos += f.type == FieldType::kMemo;
  }
  EXPECT_LE(total, 4090);
  // 16 x 250 + 10 x 100 bytes: four of the 250-wide texts must move, no more.
  EXPECT_EQ(memos, 4);
  for (int i = 16; i < 26; ++i) EXPECT_EQ(fields[i].type, FieldType::kAlpha);
}

// Whether a Number field gives a text back as the same decimal: texts that
// are a double's shortest form and those that only equal one.
TEST(SchemaChooserTest, DoublesHoldExactlyWhatReadsBackAsTheSameDecimal) {
  const std::pair<const char*, bool> cases[] = {
      {"0.1", true},
      {"1.50", true},
      {"-0", true},
      {"+1", true},
      {"1e+20", true},
      {"1E20", true},
      {"5e-324", true},
      {"123456789012345", true},
      {"inf", false},
      {"nan", false},
      {".5", false},
      {"1.", false},
      {"0x10", false},
      {"9007199254740993", false},
      {"0.10000000000000001", false},
  };
  for (const auto& [text, exact] : cases) {
    EXPECT_EQ(DoubleHoldsExactly(text), exact) << text;
    EXPECT_EQ(ParseFiniteDouble(text).has_value(), exact ||
                                                       std::string(text) == "9007199254740993" ||
                                                       std::string(text) == "0.10000000000000001")
        << text;
  }
}

// The quick answers for short plain decimals against the definition (the
// double read back prints as the same decimal), on decimals of every
// length around the 15 digits a double always keeps.
TEST(SchemaChooserTest, ShortDecimalsAnswerAsTheFullCheck) {
  std::mt19937_64 rng(20261207);
  auto digit = [&](bool nonzero) {
    return static_cast<char>('0' + (nonzero ? 1 + rng() % 9 : rng() % 10));
  };
  for (int n = 0; n < 200000; ++n) {
    const int int_len = 1 + static_cast<int>(rng() % 18);
    const int frac_len = rng() % 3 == 0 ? 0 : 1 + static_cast<int>(rng() % 18);
    std::string text = rng() % 2 ? "-" : "";
    for (int i = 0; i < int_len; ++i) text += rng() % 4 == 0 ? '0' : digit(i == 0 && rng() % 2);
    if (frac_len > 0) text += '.';
    for (int i = 0; i < frac_len; ++i) text += rng() % 5 == 0 ? '0' : digit(false);
    double read = 0;
    std::from_chars(text.data(), text.data() + text.size(), read);
    char buf[64];
    const auto printed = std::to_chars(buf, buf + sizeof buf, read);
    const auto back = ParseDecimal(std::string_view(buf, printed.ptr));
    const auto d = ParseDecimal(text);
    ASSERT_TRUE(d && back) << text;
    EXPECT_EQ(DoubleHoldsExactly(text), CanonicalDecimal(*back) == CanonicalDecimal(*d)) << text;
    const auto parsed = ParseFiniteDouble(text);
    ASSERT_TRUE(parsed) << text;
    EXPECT_EQ(std::memcmp(&*parsed, &read, sizeof read), 0) << text;  // -0 keeps its sign
    if (frac_len == 0 && int_len <= 18) {
      EXPECT_EQ(ParsePlainInteger(text), std::stoll(text)) << text;
    }
    const auto once = ReadDouble(text);
    ASSERT_TRUE(once) << text;
    EXPECT_EQ(once->exact, DoubleHoldsExactly(text)) << text;
    EXPECT_EQ(std::memcmp(&once->value, &read, sizeof read), 0) << text;
    // The digits as views, against the text taken apart by hand.
    const auto view = ParsePlainDecimal(text);
    ASSERT_TRUE(view) << text;
    std::string whole = text.substr(text[0] == '-' ? 1 : 0), frac;
    if (const size_t dot = whole.find('.'); dot != std::string::npos) {
      frac = whole.substr(dot + 1);
      whole.resize(dot);
    }
    whole.erase(0, std::min(whole.find_first_not_of('0'), whole.size()));
    frac.erase(frac.find_last_not_of('0') + 1);
    EXPECT_EQ(view->int_digits, whole) << text;
    EXPECT_EQ(view->frac_digits, frac) << text;
    EXPECT_EQ(view->negative, text[0] == '-' && !(whole.empty() && frac.empty())) << text;
  }
  for (const char* not_plain : {"1e3", "1.", ".5", "1.5e-2", "--1", "1,5", ""}) {
    EXPECT_FALSE(ParsePlainDecimal(not_plain)) << not_plain;
  }
  EXPECT_FALSE(ParsePlainInteger("+1"));
  EXPECT_FALSE(ParsePlainInteger("1e3"));
  EXPECT_FALSE(ParsePlainInteger("1234567890123456789"));
}

// Dates and times as the fields store them; anything else is refused.
TEST(SchemaChooserTest, DatesAndTimesReadAsTheirDayAndMillisecond) {
  const struct {
    const char* text;
    std::optional<int64_t> day, ms;  // ParseDate, ParseTimeMs
  } cases[] = {
      {"0001-01-01", 1, {}},         {"2024-02-29", 738945, {}},  {"2023-02-29", {}, {}},
      {"0001-12-31 BC", 0, {}},      {"2024-13-01", {}, {}},      {"2024-1a-01", {}, {}},
      {"10:11:12", {}, 36672000},    {"10:11:12.5", {}, 36672500}, {"23:59:59.999000", {}, 86399999},
      {"10:11:12.0001", {}, {}},     {"24:00:00", {}, {}},        {"10:11:1x", {}, {}},
      {"10:11:12.", {}, {}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ParseDate(c.text), c.day) << c.text;
    EXPECT_EQ(ParseTimeMs(c.text), c.ms) << c.text;
  }
  EXPECT_EQ(ParseTimestampMs("2024-02-29 10:11:12.5"), 738945 * int64_t{86400000} + 36672500);
  EXPECT_FALSE(ParseTimestampMs("2024-02-29 10:11:12.5+02"));
}

}  // namespace
}  // namespace corvane::paradox
