// Every Paradox field type, copied and compared value by value with what
// our reader returns for the same table.
#include <cmath>
#include <string>
#include <vector>

extern "C" {
#include <paradox.h>
}

#include "paradox/table_writer.h"
#include "pxlib_table.h"
#include "transfer/field_types.h"
#include "transfer/set_insert.h"
#include "transfer_fixture.h"

namespace corvane::testing {
namespace {

const std::vector<PxField> kAllTypes = {
    {"ALPHA", pxfAlpha, 40},       {"DATE", pxfDate, 4},       {"SHORT", pxfShort, 2},
    {"LONG", pxfLong, 4},          {"MONEY", pxfCurrency, 8},  {"NUMBER", pxfNumber, 8},
    {"LOGICAL", pxfLogical, 1},    {"MEMO", pxfMemoBLOb, 10},  {"BINARY", pxfBLOb, 10},
    {"FMEMO", pxfFmtMemoBLOb, 10}, {"OLE", pxfOLE, 10},        {"GRAPHIC", pxfGraphic, 10},
    {"TIME", pxfTime, 4},          {"STAMP", pxfTimestamp, 8}, {"AUTO", pxfAutoInc, 4},
    {"BCD", pxfBCD, 17, 2},        {"BYTES", pxfBytes, 6},
};

// PostgreSQL types the CREATE TABLE gives each field, by its class.
const std::vector<std::string> kExpectedTypes = {
    "text", "text", "numeric", "numeric", "text", "numeric", "text",    "text", "text",
    "text", "text", "text",    "text",    "text", "numeric", "numeric", "text"};

const std::string kTricky = "O'Brien \\n C:\\x ''\"; -- \xC3\xA9\xE2\x82\xAC";
// pxlib stores blob bytes as given, so the memo is written in code page 1252.
const std::string kMemo1252 = std::string(300, 'm') + "\r\nline 'two'\\\r\n\xFC";
const std::string kMemoUtf8 = std::string(300, 'm') + "\r\nline 'two'\\\r\n\xC3\xBC";

std::vector<PxRow> AllTypeRows() {
  std::vector<PxRow> rows;
  rows.push_back({PxText(kTricky), PxInt(730120), PxInt(-32767), PxInt(2147483647), PxReal(1234.56),
                  PxReal(0.1), PxInt(1), PxText(kMemo1252),
                  PxText(std::string("\x00\x01\xFF'\\", 5)), PxText("fmt"), PxText("ole"),
                  PxText("GIF89a"), PxInt(45296789), PxReal(63113904000000.0 + 12345), PxInt(1),
                  PxText("40.25"), PxText(std::string("\x01\x02'\\", 4))});
  PxRow nulls(kAllTypes.size(), PxNull());
  rows.push_back(nulls);
  rows.push_back({PxText("NULL"), PxInt(1), PxInt(0), PxInt(-2147483647), PxReal(-0.01),
                  PxReal(1e20), PxInt(0), PxText("'"), PxNull(), PxNull(), PxNull(), PxNull(),
                  PxInt(0), PxReal(86400000.0), PxInt(2), PxText("-0.5"), PxNull()});
  return rows;
}

bool SameNumber(const std::string& a, const std::string& b) {
  return a == b || std::strtod(a.c_str(), nullptr) == std::strtod(b.c_str(), nullptr);
}

class ValuesTest : public ToPostgresTest {};

TEST_F(ValuesTest, EveryFieldTypeArrivesAsTheReaderReadsIt) {
  ASSERT_EQ(MakePxTable((folder_ / "TOPG_TYPES.db").string(), kAllTypes, AllTypeRows()), "");
  SelectParadox({"TOPG_TYPES"});
  EXPECT_EQ(Send().failures, 0) << (fake_.dialogs.Failures().empty() ? ""
                                                                     : fake_.dialogs.Failures()[0]);
  Rows source = ParadoxRows("TOPG_TYPES");
  Rows stored = PgRows("SELECT * FROM \"TOPG_TYPES\"");
  ASSERT_EQ(source.size(), 3u);
  ASSERT_EQ(stored.size(), source.size());
  Rows types = PgRows(
      "SELECT data_type FROM information_schema.columns WHERE table_name = 'TOPG_TYPES' "
      "ORDER BY ordinal_position");
  ASSERT_EQ(types.size(), kExpectedTypes.size());
  for (size_t c = 0; c < types.size(); ++c) EXPECT_EQ(types[c][0].text(), kExpectedTypes[c]);

  for (size_t r = 0; r < source.size(); ++r) {
    for (size_t c = 0; c < kAllTypes.size(); ++c) {
      SCOPED_TRACE("row " + std::to_string(r) + " field " + kAllTypes[c].name);
      const Value& in = source[r][c];
      const Value& out = stored[r][c];
      if (in.is_null() || in.text().empty()) {
        EXPECT_TRUE(out.is_null()) << out.text();
      } else if (kExpectedTypes[c] == "numeric") {
        EXPECT_TRUE(SameNumber(in.text(), out.text())) << in.text() << " vs " << out.text();
      } else {
        EXPECT_EQ(out.text(), in.text());
      }
    }
  }
  // Spot checks that the reader and the copy are not both wrong the same way.
  EXPECT_EQ(stored[0][0].text(), kTricky);
  EXPECT_EQ(stored[0][7].text(), kMemoUtf8);
  EXPECT_EQ(stored[2][0].text(), "NULL");
  EXPECT_EQ(stored[2][7].text(), "'");
  EXPECT_TRUE(stored[1][3].is_null());
}

// Our writer covers what pxlib cannot write: BCD, and Binary, OLE and
// Graphic blobs. Values go in and must come out in their fixed text forms.
TEST_F(ValuesTest, WriterTablesArriveInTheirTextForms) {
  using paradox::FieldType;
  const std::vector<paradox::FieldInfo> fields = {
      {"BCD", FieldType::kBcd, 17, 2},   {"BINARY", FieldType::kBinary, 20, 0},
      {"OLE", FieldType::kOle, 20, 0},   {"GRAPHIC", FieldType::kGraphic, 20, 0},
      {"MEMO", FieldType::kMemo, 20, 0}, {"MONEY", FieldType::kMoney, 8, 0},
      {"TIME", FieldType::kTime, 4, 0},  {"STAMP", FieldType::kTimestamp, 8, 0},
      {"DATE", FieldType::kDate, 4, 0},  {"LOGICAL", FieldType::kLogical, 1, 0},
  };
  const std::vector<std::string> texts = {
      "-12345.67",     "\\x00ff27275c", "\\x0102",      "\\x4749463839610a",
      kMemoUtf8,       "1234.56",       "13:45:07.250", "2024-02-29 23:59:59",
      "0044-03-15 BC", "False"};
  auto writer = paradox::TableWriter::Create((folder_ / "TOPG_W.db").string(), fields);
  ASSERT_TRUE(writer.ok()) << writer.status().message();
  std::vector<paradox::Cell> row;
  for (const std::string& t : texts) row.push_back({false, t});
  ASSERT_TRUE((*writer)->Append(row).ok());
  ASSERT_TRUE((*writer)->Append(std::vector<paradox::Cell>(fields.size())).ok());
  ASSERT_TRUE((*writer)->Finish(paradox::TableWriter::Replace::kNever).ok());

  SelectParadox({"TOPG_W"});
  EXPECT_EQ(Send().failures, 0) << (fake_.dialogs.Failures().empty() ? ""
                                                                     : fake_.dialogs.Failures()[0]);
  Rows source = ParadoxRows("TOPG_W");
  Rows stored = PgRows("SELECT * FROM \"TOPG_W\"");
  ASSERT_EQ(stored.size(), 2u);
  ASSERT_EQ(source.size(), 2u);
  for (size_t c = 0; c < texts.size(); ++c) {
    SCOPED_TRACE(fields[c].name);
    EXPECT_EQ(source[0][c].text(), texts[c]);
    EXPECT_EQ(stored[0][c].text(), texts[c]);
    EXPECT_TRUE(stored[1][c].is_null());
  }
}

// A table of one row whose values run to megabytes goes by COPY, which
// streams them, rather than as one INSERT: what arrives is the same.
TEST_F(ValuesTest, OneRowOfMegabytesArrivesWhole) {
  using paradox::FieldType;
  const std::vector<paradox::FieldInfo> fields = {{"MEMO", FieldType::kMemo, 20, 0},
                                                  {"BINARY", FieldType::kBinary, 20, 0},
                                                  {"ALPHA", FieldType::kAlpha, 10, 0},
                                                  {"GRAPHIC", FieldType::kGraphic, 10, 0}};
  std::string memo = std::string(3 << 19, 'm') + "\t'\\\r\n\xC3\xA9";
  std::string hex = "\\x";
  for (int i = 0; i < (1 << 20) + 3; ++i) hex += "00ff275c"[(i % 4) * 2], hex += "00ff275c"[(i % 4) * 2 + 1];
  const std::vector<std::string> texts = {memo, hex, "it's", hex};
  auto writer = paradox::TableWriter::Create((folder_ / "TOPG_BIG.db").string(), fields);
  ASSERT_TRUE(writer.ok()) << writer.status().message();
  std::vector<paradox::Cell> row;
  for (const std::string& t : texts) row.push_back({false, t});
  ASSERT_TRUE((*writer)->Append(row).ok());
  ASSERT_TRUE((*writer)->Finish(paradox::TableWriter::Replace::kNever).ok());

  SelectParadox({"TOPG_BIG"});
  EXPECT_EQ(Send().failures, 0) << (fake_.dialogs.Failures().empty() ? ""
                                                                     : fake_.dialogs.Failures()[0]);
  Rows stored = PgRows("SELECT * FROM \"TOPG_BIG\"");
  ASSERT_EQ(stored.size(), 1u);
  for (size_t c = 0; c < texts.size(); ++c) EXPECT_TRUE(stored[0][c].text() == texts[c]) << c;
}

// The set-based INSERT stores what single-row INSERTs store, value for value.
TEST_F(ValuesTest, SetInsertStoresWhatRowStatementsStore) {
  const std::vector<std::string> tables = {"TOPG_SET_A", "TOPG_SET_B"};
  for (const std::string& t : tables) {
    drop_after_.push_back(t);
    (void)PgTry("DROP TABLE IF EXISTS \"" + t + "\"");
    Pg("CREATE TABLE \"" + t + "\"(\"N\" NUMERIC, \"T\" TEXT, \"S\" TEXt)");
  }
  const std::vector<std::vector<Value>> rows = {
      {Value::Text("1e+20"), Value::Text(kTricky), Value::Text("2024-02-29 23:59:59.5")},
      {Value::Null(), Value::Text(""), Value::Text("NULL")},
      {Value::Text("-0.001"), Value::Text("{\"a\",b}\\\"'\r\n\t,"), Value::Text(kMemoUtf8)},
      {Value::Text("0044"), Value::Text("  spaced  "), Value::Text("\\x00ff")},
  };
  Pg(transfer::SetInsertStatement("TOPG_SET_A", {true, false, false}, rows, rows.size()));
  for (const auto& row : rows) {
    Pg(transfer::RowStatement(transfer::PostgresInsertHead("TOPG_SET_B"), row));
  }
  Rows a = PgRows("SELECT * FROM \"TOPG_SET_A\"");
  Rows b = PgRows("SELECT * FROM \"TOPG_SET_B\"");
  ASSERT_EQ(a.size(), rows.size());
  EXPECT_EQ(a, b);
  EXPECT_EQ(a[2][1].text(), "{\"a\",b}\\\"'\r\n\t,");
  EXPECT_TRUE(a[1][1].is_null());
}

// COPY stores what single-row INSERTs store, value for value, whatever the
// text holds: COPY's own escapes and markers, line ends, non-ASCII, a long
// memo; an empty text becomes NULL in both.
TEST_F(ValuesTest, CopyStoresWhatRowStatementsStore) {
  const std::vector<std::string> tables = {"TOPG_COPY_A", "TOPG_COPY_B"};
  for (const std::string& t : tables) {
    drop_after_.push_back(t);
    (void)PgTry("DROP TABLE IF EXISTS \"" + t + "\"");
    Pg("CREATE TABLE \"" + t + "\"(\"N\" NUMERIC, \"T\" TEXT, \"S\" TEXt)");
  }
  const std::string long_memo = std::string(3 << 20, 'm') + "\t\\\r\n\xE2\x82\xAC";
  const std::vector<std::vector<Value>> rows = {
      {Value::Text("1e+20"), Value::Text(kTricky), Value::Text("2024-02-29 23:59:59.5")},
      {Value::Null(), Value::Text(""), Value::Text("NULL")},
      {Value::Text(" -0.001 "), Value::Text("\\N"), Value::Text("\\.")},
      {Value::Text("0044"), Value::Text("a\tb\\tc\r\n\nd\\"), Value::Text("\\")},
      {Value::Text("-7"), Value::Text("\x01\x7F\xC3\xA9\xF0\x9F\x98\x80 "), Value::Text(long_memo)},
      {Value::Text("3.25"), Value::Text(kMemoUtf8), Value::Text("\\x00ff")},
      // A large binary value given as its bytes goes as its hex text.
      {Value::Text("5"), Value::Bytes(std::string(1 << 20, '\\') + std::string("\0\t", 2)), Value()},
  };
  Connection pg;
  ASSERT_TRUE(pg.Open(PostgresConnectionString(fake_.settings.settings)).ok());
  Status copied =
      pg.CopyRows(transfer::QuotePostgresName("TOPG_COPY_A"), 3, rows, CopyEmpty::kNull);
  ASSERT_TRUE(copied.ok()) << copied.message();
  for (const auto& row : rows) {
    Pg(transfer::RowStatement(transfer::PostgresInsertHead("TOPG_COPY_B"), row));
  }
  Rows a = PgRows("SELECT * FROM \"TOPG_COPY_A\"");
  Rows b = PgRows("SELECT * FROM \"TOPG_COPY_B\"");
  ASSERT_EQ(a.size(), rows.size());
  EXPECT_EQ(a, b);
  EXPECT_EQ(a[2][1].text(), "\\N");
  EXPECT_EQ(a[4][2].text(), long_memo);
  std::string hex = "\\x";
  for (int i = 0; i < (1 << 20); ++i) hex += "5c";
  EXPECT_TRUE(a[6][1].text() == hex + "0009");
  EXPECT_TRUE(a[1][1].is_null());
}

TEST_F(ValuesTest, NamesWithQuotesCannotBreakOutOfTheirQuotes) {
  const std::vector<PxField> fields = {{"A\"B", pxfAlpha, 10}, {"C", pxfLong, 4}};
  ASSERT_EQ(MakePxTable((folder_ / "TOPG_Q.db").string(), fields, {{PxText("v"), PxInt(7)}}), "");
  SelectParadox({"TOPG_Q"});
  EXPECT_EQ(Send().failures, 0) << (fake_.dialogs.Failures().empty() ? ""
                                                                     : fake_.dialogs.Failures()[0]);
  Rows stored = PgRows("SELECT \"A\"\"B\", \"C\" FROM \"TOPG_Q\"");
  ASSERT_EQ(stored.size(), 1u);
  EXPECT_EQ(stored[0][0].text(), "v");
  EXPECT_EQ(stored[0][1].text(), "7");
}

}  // namespace
}  // namespace corvane::testing
