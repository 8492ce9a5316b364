// Every common PostgreSQL type sent to Paradox and read back with our reader
// and with pxlib: each value arrives exactly, or its row fails with a clear
// message. Numbers compare as exact decimals (a Number field prints 1e+05
// for 100000); everything else compares as text.
#include <string>
#include <vector>

#include "paradox/value_parse.h"
#include "to_paradox_fixture.h"

namespace corvane::testing {
namespace {

using Cells = std::vector<std::optional<std::string>>;

const char* const kEveryType =
    "i2 int2, i4 int4, i8 int8, n numeric(10,0), nf numeric(12,4), nx numeric, f4 float4, "
    "f8 float8, m money, b bool, c char(5), vc varchar(20), d date, tm time, ts timestamp, "
    "tz timestamptz, u uuid, j json, arr int[]";
const std::vector<std::string> kEveryTypeRows = {
    "1, 100000, 9223372036854775807, 42, 12.3450, 3.14159265358979323846264338327950288, 1.5, "
    "0.1, 12.34, true, 'ab', 'O''Brien \\ \"x\"', '2024-02-29', '13:14:15.5', "
    "'2024-02-29 13:14:15.123', '2024-02-29 13:14:15+00', "
    "'a0eebc99-9c0b-4ef8-bb6d-6bb9bd380a11', '{\"a\": [1, \"é€\"]}', '{1,2,NULL}'",
    "NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, "
    "NULL, NULL, NULL, NULL",
    "-32768, -2147483648, -9223372036854775808, 0, -0.0001, 1e-30, -3.4e38, 1e300, -0.01, "
    "false, '', '', '0044-03-15 BC', '00:00:00', '1900-01-01 00:00:00', "
    "'1900-01-01 00:00:00.123456+00', 'a0eebc99-9c0b-4ef8-bb6d-6bb9bd380a12', '[]', '{}'",
};

bool IsNumeric(paradox::FieldType t) {
  using paradox::FieldType;
  return t == FieldType::kShort || t == FieldType::kLong || t == FieldType::kNumber ||
         t == FieldType::kBcd || t == FieldType::kMoney;
}

std::string ExactDecimal(const std::string& text) {
  auto d = paradox::ParseDecimal(text);
  return d ? paradox::CanonicalDecimal(*d) : "not a number: " + text;
}

// What PostgreSQL's value should read as in Paradox: NULL for null and
// empty, a UTC timestamptz without its "+00", else the text itself.
std::optional<std::string> Expected(const Value& v) {
  if (v.is_null() || v.text().empty()) return std::nullopt;
  std::string text = v.text();
  if (text.size() > 19 && text.ends_with("+00")) text.resize(text.size() - 3);
  return text;
}

class ToParadoxValuesTest : public ToParadoxTest {
 protected:
  // Compares a table read back with the rows PostgreSQL holds.
  void ExpectSameValues(const ReadTable& back, const Rows& source) {
    ASSERT_TRUE(back.error.empty()) << back.error;
    ASSERT_EQ(back.rows.size(), source.size());
    for (size_t r = 0; r < source.size(); ++r) {
      ASSERT_EQ(back.rows[r].size(), source[r].size());
      for (size_t c = 0; c < source[r].size(); ++c) {
        SCOPED_TRACE("row " + std::to_string(r) + " field " + back.fields[c].name);
        const auto want = Expected(source[r][c]);
        const auto& got = back.rows[r][c];
        ASSERT_EQ(got.has_value(), want.has_value()) << got.value_or("<null>");
        if (!want) continue;
        if (IsNumeric(back.fields[c].type)) {
          EXPECT_EQ(ExactDecimal(*got), ExactDecimal(*want)) << *got << " vs " << *want;
        } else {
          EXPECT_EQ(*got, *want);
        }
      }
    }
  }
};

TEST_F(ToParadoxValuesTest, EveryCommonTypeArrivesExactlyForBothReaders) {
  MakePgTable("tx_types", kEveryType, kEveryTypeRows);
  SelectPostgres({"tx_types"});
  EXPECT_EQ(SendToParadox().failures, 0) << FirstFailure();
  const Rows source = PgRows("SELECT * FROM tx_types");
  const std::string file = (folder_ / "tx_types.db").string();
  const ReadTable ours = ReadOurs(file);
  ExpectSameValues(ours, source);
  ReadTable px = ReadPxlib(file);
  ASSERT_TRUE(px.error.empty()) << px.error;
  for (auto& row : px.rows) {
    for (auto& cell : row) {
      if (cell && cell->ends_with('.')) cell->pop_back();  // pxlib prints BCD 0 places "7."
    }
  }
  EXPECT_EQ(px.rows, ours.rows);
  // Fields that keep the kind of value, not only its text.
  using paradox::FieldType;
  ASSERT_EQ(ours.fields.size(), 19u);
  EXPECT_EQ(ours.fields[0].type, FieldType::kLong);
  EXPECT_EQ(ours.fields[2].type, FieldType::kBcd);  // int8 beyond Long and double
  EXPECT_EQ(ours.fields[9].type, FieldType::kLogical);
  EXPECT_EQ(ours.fields[12].type, FieldType::kDate);
  EXPECT_EQ(ours.fields[14].type, FieldType::kTimestamp);
}

TEST_F(ToParadoxValuesTest, LongTextsBinaryAndEmptyValues) {
  MakePgTable("tx_blobs", "t text, by bytea, e text, n int4",
              {"repeat('x', 300) || 'é' || E'\\r\\n' || '''q''', '\\x00ff27', '', 1",
               "'short', '\\x', NULL, NULL", "repeat('y', 70000), NULL, 'z', 3"});
  SelectPostgres({"tx_blobs"});
  EXPECT_EQ(SendToParadox().failures, 0);
  const ReadTable ours = ReadOurs((folder_ / "tx_blobs.db").string());
  ExpectSameValues(ours, PgRows("SELECT t, CASE WHEN by = '' THEN NULL ELSE by END, e, n "
                                "FROM tx_blobs"));
  EXPECT_EQ(ours.fields[0].type, paradox::FieldType::kMemo);
  EXPECT_EQ(ours.fields[1].type, paradox::FieldType::kBinary);
}

// Values of a megabyte and more are handed on whole rather than copied at
// each step; they must arrive like any other, beside small ones, wherever
// their column stands (also one named rowid, which hides the row's own),
// escapes and every byte value included.
TEST_F(ToParadoxValuesTest, ValuesOfMegabytesArriveWhole) {
  const std::string mb = "1100000";
  const std::string every_byte =
      "(SELECT string_agg(lpad(to_hex(b), 2, '0'), '') FROM generate_series(0, 255) b)";
  MakePgTable("tx_huge", "id int4, t text, by bytea, tail text",
              {"1, repeat(E'x\\t\\\\\\n\\r\\u00e9', 300000) || 'end', decode(repeat(" +
                   every_byte + ", 5000), 'hex'), 'a'",
               "5, repeat('x', " + mb + "), decode(repeat('5a00', " + mb + "), 'hex'), 'b'",
               "2, 'small', '\\x01', NULL",
               "3, repeat('é', " + mb + "), NULL, repeat('t', " + mb + ")",
               "4, NULL, decode(repeat('ff', 10), 'hex'), ''"});
  MakePgTable("tx_rowid", "rowid int4, v text", {"7, repeat('r', " + mb + ")", "8, 'r'"});
  SelectPostgres({"tx_huge", "tx_rowid"});
  EXPECT_EQ(SendToParadox().failures, 0) << FirstFailure();
  const std::string huge = (folder_ / "tx_huge.db").string();
  const Rows source = PgRows("SELECT * FROM tx_huge");
  ExpectSameValues(ReadOurs(huge), source);
  EXPECT_EQ(ReadOurs(huge).fields[1].type, paradox::FieldType::kMemo);
  ExpectSameValues(ReadOurs((folder_ / "tx_rowid.db").string()),
                   PgRows("SELECT * FROM tx_rowid"));
}

TEST_F(ToParadoxValuesTest, ARowNoFieldCanHoldFailsAloneWithItsColumnNamed) {
  MakePgTable("tx_cp", "id int4, name text", {"1, 'Grüße'", "2, '漢字'", "3, 'ok'"});
  SelectPostgres({"tx_cp"});
  EXPECT_EQ(SendToParadox().failures, 1);
  ASSERT_EQ(fake_.dialogs.Failures().size(), 1u);
  const std::string text = fake_.dialogs.Failures()[0];
  EXPECT_NE(text.find("`name`"), std::string::npos) << text;
  EXPECT_NE(text.find("at line 200"), std::string::npos) << text;
  EXPECT_EQ(fake_.FailureStatements()[0], "INSERT INTO `tx_cp` VALUES('2', '漢字')");
  const ReadTable ours = ReadOurs((folder_ / "tx_cp.db").string());
  ASSERT_TRUE(ours.error.empty()) << ours.error;
  EXPECT_EQ(ours.rows, (std::vector<Cells>{{"1", "Grüße"}, {"3", "ok"}}));
}

// numeric(p,s) keeps the places PostgreSQL prints, trailing zeros included.
TEST_F(ToParadoxValuesTest, NumericPlacesReadBackAsPostgresPrintsThem) {
  MakePgTable("tx_num", "a numeric(12,4), b numeric(10,2), c numeric(10,0)",
              {"12.345, 0.10, 7", "-0.0001, -12345678.90, -7", "NULL, 100, 0"});
  SelectPostgres({"tx_num"});
  EXPECT_EQ(SendToParadox().failures, 0) << FirstFailure();
  const ReadTable back = ReadOurs((folder_ / "tx_num.db").string());
  ASSERT_TRUE(back.error.empty()) << back.error;
  std::vector<Cells> pg;
  for (const auto& row : PgRows("SELECT * FROM tx_num")) {
    pg.emplace_back();
    for (const Value& v : row)
      pg.back().push_back(v.is_null() ? std::nullopt : std::optional(v.text()));
  }
  EXPECT_EQ(pg[0], (Cells{"12.3450", "0.10", "7"}));  // PostgreSQL's own texts
  EXPECT_EQ(back.rows, pg);
  ASSERT_EQ(back.fields.size(), 3u);
  EXPECT_EQ(back.fields[0].type, paradox::FieldType::kBcd);
  EXPECT_EQ(back.fields[0].scale, 4);
  EXPECT_EQ(back.fields[1].scale, 2);
  EXPECT_EQ(back.fields[2].type, paradox::FieldType::kLong);
}

// Paradox -> PostgreSQL -> Paradox gives back every value of the table.
TEST_F(ToParadoxValuesTest, RoundTripKeepsEveryValue) {
  MakePgTable("tx_rt", kEveryType, kEveryTypeRows);
  SelectPostgres({"tx_rt"});
  ASSERT_EQ(SendToParadox().failures, 0);
  const ReadTable first = ReadOurs((folder_ / "tx_rt.db").string());
  ASSERT_TRUE(first.error.empty()) << first.error;

  // The lists as the window now shows them: tx_rt on both sides, so both
  // sends ask before replacing (the scripted answer is Yes).
  fake_.paradox_list.SelectNames({"TX_RT"});
  ASSERT_EQ(Send().failures, 0) << FirstFailure();
  fake_.postgres_list.SelectNames({"tx_rt"});
  ASSERT_EQ(SendToParadox().failures, 0) << FirstFailure();
  EXPECT_EQ(fake_.dialogs.shown.size(), 2u);
  EXPECT_EQ(TableFilesInFolder(), (std::vector<std::string>{"tx_rt.db"}));
  const ReadTable second = ReadOurs((folder_ / "tx_rt.db").string());
  ASSERT_TRUE(second.error.empty()) << second.error;
  ASSERT_EQ(second.rows.size(), first.rows.size());
  for (size_t r = 0; r < first.rows.size(); ++r) {
    for (size_t c = 0; c < first.rows[r].size(); ++c) {
      SCOPED_TRACE("row " + std::to_string(r) + " field " + first.fields[c].name);
      const auto& a = first.rows[r][c];
      const auto& b = second.rows[r][c];
      ASSERT_EQ(a.has_value(), b.has_value());
      if (!a) continue;
      if (IsNumeric(first.fields[c].type) || IsNumeric(second.fields[c].type)) {
        EXPECT_EQ(ExactDecimal(*a), ExactDecimal(*b));
      } else {
        EXPECT_EQ(*a, *b);
      }
    }
  }
}

}  // namespace
}  // namespace corvane::testing
