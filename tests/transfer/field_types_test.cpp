#include "transfer/field_types.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace corvane::transfer {
namespace {

TEST(FieldTypeNameTest, KnowsExactlyTheThirtyNineCodes) {
  int known = 0;
  for (int code = -40000; code <= 40000; ++code) {
    if (code < INT16_MIN || code > INT16_MAX) continue;
    if (!FieldTypeName(static_cast<int16_t>(code)).empty()) ++known;
  }
  EXPECT_EQ(known, 39);
  EXPECT_EQ(FieldTypeName(0), "adEmpty");
  EXPECT_EQ(FieldTypeName(139), "adVarNumeric");
  EXPECT_EQ(FieldTypeName(205), "adLongVarBinary");
  EXPECT_EQ(FieldTypeName(8192), "");
  EXPECT_EQ(FieldTypeName(1), "");
  EXPECT_EQ(FieldTypeName(-1), "");
  EXPECT_EQ(FieldTypeName(15), "");
}

// Every code of the table with its class and PostgreSQL type text.
TEST(ColumnClassTest, MatchesTheTableForEveryKnownCode) {
  struct Row {
    int code;
    ColumnClass cls;
    const char* pg;
  };
  const std::vector<Row> rows = {
      {0, ColumnClass::kNone, "\" TEXT,"},
      {2, ColumnClass::kInt, "\" NUMERIC,"},
      {3, ColumnClass::kInt, "\" NUMERIC,"},
      {4, ColumnClass::kSingle, "\" NUMERIC,"},
      {5, ColumnClass::kDouble, "\" NUMERIC,"},
      {6, ColumnClass::kNone, "\" TEXT,"},
      {7, ColumnClass::kDate, "\" TEXT,"},
      {8, ColumnClass::kNone, "\" TEXT,"},
      {9, ColumnClass::kNone, "\" TEXT,"},
      {10, ColumnClass::kNone, "\" TEXT,"},
      {11, ColumnClass::kNone, "\" TEXT,"},
      {12, ColumnClass::kNone, "\" TEXT,"},
      {13, ColumnClass::kNone, "\" TEXT,"},
      {14, ColumnClass::kDecimal, "\" NUMERIC,"},
      {16, ColumnClass::kInt, "\" NUMERIC,"},
      {17, ColumnClass::kInt, "\" NUMERIC,"},
      {18, ColumnClass::kInt, "\" NUMERIC,"},
      {19, ColumnClass::kInt, "\" NUMERIC,"},
      {20, ColumnClass::kInt, "\" NUMERIC,"},
      {21, ColumnClass::kInt, "\" NUMERIC,"},
      {64, ColumnClass::kNone, "\" TEXT,"},
      {72, ColumnClass::kNone, "\" TEXT,"},
      {128, ColumnClass::kNone, "\" TEXT,"},
      {129, ColumnClass::kChar, "\" TEXT,"},
      {130, ColumnClass::kChar, "\" TEXT,"},
      {131, ColumnClass::kNumeric, "\" NUMERIC,"},
      {132, ColumnClass::kNone, "\" TEXT,"},
      {133, ColumnClass::kDate, "\" TEXT,"},
      {134, ColumnClass::kNone, "\" TEXT,"},
      {135, ColumnClass::kTimestamp, "\" TEXt,"},
      {136, ColumnClass::kNone, "\" TEXT,"},
      {138, ColumnClass::kNone, "\" TEXT,"},
      {139, ColumnClass::kNumeric, "\" NUMERIC,"},
      {200, ColumnClass::kChar, "\" TEXT,"},
      {201, ColumnClass::kChar, "\" TEXT,"},
      {202, ColumnClass::kChar, "\" TEXT,"},
      {203, ColumnClass::kChar, "\" TEXT,"},
      {204, ColumnClass::kNone, "\" TEXT,"},
      {205, ColumnClass::kAdLongVarBinary, "\" TEXT,"},
  };
  ASSERT_EQ(rows.size(), 39u);
  for (const Row& r : rows) {
    SCOPED_TRACE(r.code);
    EXPECT_EQ(ColumnClassOf(r.code), r.cls);
    EXPECT_EQ(PostgresColumnTypeText(ColumnClassOf(r.code)), r.pg);
  }
}

TEST(ColumnClassTest, UnknownCodesHaveNoClassAndReadAsSixteenBits) {
  EXPECT_EQ(ColumnClassOf(8192), ColumnClass::kNone);
  EXPECT_EQ(ColumnClassOf(-1), ColumnClass::kNone);
  EXPECT_EQ(PostgresColumnTypeText(ColumnClassOf(8192)), "\" TEXT,");
  // 65536 + 3 truncates to adInteger.
  EXPECT_EQ(ColumnClassOf(65539), ColumnClass::kInt);
  EXPECT_EQ(ColumnClassName(ColumnClass::kAdLongVarBinary), "adlongvarbinary");
  EXPECT_EQ(ColumnClassName(ColumnClass::kNone), "");
}

TEST(IfNullTest, ReplacesOnlyTheNull) {
  const Value fallback = Value::Text("x");
  EXPECT_EQ(IfNull(Value::Null(), fallback), fallback);
  EXPECT_EQ(IfNull(Value::Text(""), fallback), Value::Text(""));
  EXPECT_EQ(IfNull(Value::Text("NULL"), fallback), Value::Text("NULL"));
  EXPECT_EQ(ValueText(Value::Null()), "");
}

std::string Render(const std::vector<Value>& values) {
  return RowStatement("INSERT INTO \"T\" VALUES('", values);
}

TEST(RowStatementTest, RendersNullsEmptiesAndQuotes) {
  EXPECT_EQ(Render({Value::Text("x"), Value::Null(), Value::Text("O'Brien"), Value::Text("")}),
            "INSERT INTO \"T\" VALUES('x', NULL, 'O''Brien', NULL)");
  EXPECT_EQ(Render({Value::Null()}), "INSERT INTO \"T\" VALUES(NULL)");
  EXPECT_EQ(Render({Value::Text(""), Value::Text("a")}), "INSERT INTO \"T\" VALUES(NULL, 'a')");
  EXPECT_EQ(Render({Value::Text("'")}), "INSERT INTO \"T\" VALUES('''')");
  EXPECT_EQ(Render({Value::Text("NULL")}), "INSERT INTO \"T\" VALUES('NULL')");
  EXPECT_EQ(Render({Value::Text("a'b''c'")}), "INSERT INTO \"T\" VALUES('a''b''''c''')");
}

TEST(RowStatementTest, LeavesEverythingButTheQuoteAlone) {
  const std::string odd = "C:\\dir\\n\r\n\ttab \"q\" \xC3\xA9t\xC3\xA9 \\'";
  EXPECT_EQ(Render({Value::Text(odd), Value::Text("42")}),
            "INSERT INTO \"T\" VALUES('C:\\dir\\n\r\n\ttab \"q\" \xC3\xA9t\xC3\xA9 \\'''"
            ", '42')");
}

TEST(RowStatementTest, BuilderReusesItsBufferWithoutCarryOver) {
  std::string out = "left over from the last row";
  RowStatementBuilder b(out);
  b.Begin("INSERT INTO \"U\" VALUES('");
  b.Add(Value::Text("1"));
  b.Add(Value::Null());
  b.Finish();
  EXPECT_EQ(out, "INSERT INTO \"U\" VALUES('1', NULL)");
}

TEST(QuotingTest, NamesCannotEndTheirQuotes) {
  EXPECT_EQ(QuotePostgresName("CUSTOMER"), "\"CUSTOMER\"");
  EXPECT_EQ(QuotePostgresName("a\"b"), "\"a\"\"b\"");
  EXPECT_EQ(PostgresInsertHead("x\"); DROP TABLE y; --"),
            "INSERT INTO \"x\"\"); DROP TABLE y; --\" VALUES('");
  std::string out;
  AppendQuotedText(out, "'); DROP TABLE y; --");
  EXPECT_EQ(out, "''); DROP TABLE y; --");
}

}  // namespace
}  // namespace corvane::transfer
