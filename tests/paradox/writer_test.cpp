// Tables written by TableWriter, read back by our reader and by pxlib.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "paradox/table_writer.h"
#include "writer_support.h"

namespace corvane::paradox {
namespace {

using testing::Null;
using testing::ReadWithOurReader;
using testing::ReadWithPxlib;
using testing::Rows;
using testing::ScratchFolder;
using testing::Text;

std::vector<FieldInfo> ScalarFields() {
  return {{"Name", FieldType::kAlpha, 20, 0},
          {"Small", FieldType::kShort, 0, 0},
          {"Count", FieldType::kLong, 0, 0},
          {"Ratio", FieldType::kNumber, 0, 0},
          {"Price", FieldType::kMoney, 0, 0},
          {"Day", FieldType::kDate, 0, 0},
          {"At", FieldType::kTime, 0, 0},
          {"Stamp", FieldType::kTimestamp, 0, 0},
          {"Flag", FieldType::kLogical, 0, 0},
          {"Amount", FieldType::kBcd, 0, 2},
          {"Serial", FieldType::kAutoIncrement, 0, 0}};
}

// Every value is given in the text form the reader gives back.
Rows ScalarRows() {
  return {
      {Text("Zoë Ålander & Søn"), Text("1"), Text("100000"), Text("100.5"), Text("-12.34"),
       Text("1996-05-04"), Text("10:30:00"), Text("2020-02-01 01:00:01"), Text("True"),
       Text("1.23"), Text("1")},
      {Text("trailing spaces   "), Text("32767"), Text("2147483647"),
       Text("1.7976931348623157e+308"), Text("0.01"), Text("9999-12-31"), Text("23:59:59.999"),
       Text("9999-12-31 23:59:59.999"), Text("False"), Text("999999999999999999999999999999.99"),
       Text("2147483647")},
      {Text("12345678901234567890"), Text("-32767"), Text("-2147483647"), Text("5e-324"), Text("0"),
       Text("0001-01-01"), Text("00:00:00"), Text("0001-01-01 00:00:00"), Text("True"),
       Text("-0.01"), Text("7")},
      {Text("x"), Text("0"), Text("0"), Text("-0.1"), Text("1e+20"), Text("0044-03-15 BC"),
       Text("12:00:00.5"), Text("0044-03-15 12:00:00 BC"), Text("False"), Text("0.00"), Text("8")},
      {Null(), Null(), Null(), Null(), Null(), Null(), Null(), Null(), Null(), Null(), Null()},
  };
}

// What the reader gives back: the input, with texts it normalises.
Rows ExpectedScalarRows() {
  Rows rows = ScalarRows();
  rows[3][6] = Text("12:00:00.500");
  return rows;
}

Status WriteTable(const std::string& path, const std::vector<FieldInfo>& fields, const Rows& rows,
                  int code_page = 1252) {
  auto w = TableWriter::Create(path, fields, code_page);
  if (!w.ok()) return w.status();
  for (const auto& row : rows) CORVANE_RETURN_IF_ERROR(w.value()->Append(row));
  return w.value()->Finish(TableWriter::Replace::kNever);
}

void ExpectSameRows(const Rows& got, const Rows& want, const std::string& who) {
  ASSERT_EQ(got.size(), want.size()) << who;
  for (size_t r = 0; r < want.size(); ++r) {
    ASSERT_EQ(got[r].size(), want[r].size()) << who << " row " << r;
    for (size_t c = 0; c < want[r].size(); ++c) {
      EXPECT_EQ(got[r][c].null, want[r][c].null) << who << " row " << r << " column " << c;
      EXPECT_EQ(got[r][c].text, want[r][c].text) << who << " row " << r << " column " << c;
    }
  }
}

TEST(TableWriterTest, EveryScalarTypeReadsBackUnchangedByBothReaders) {
  ScratchFolder dir;
  const std::string path = dir.File("types.db");
  ASSERT_TRUE(WriteTable(path, ScalarFields(), ScalarRows()).ok());

  auto ours = ReadWithOurReader(path);
  ASSERT_EQ(ours.error, "");
  EXPECT_EQ(ours.info.version_byte, 0x0B);
  EXPECT_EQ(ours.info.code_page, 1252);
  EXPECT_FALSE(ours.info.keyed);
  ExpectSameRows(ours.rows, ExpectedScalarRows(), "our reader");

  auto px = ReadWithPxlib(path);
  ASSERT_EQ(px.error, "");
  EXPECT_EQ(px.code_page, 1252);
  ASSERT_EQ(px.fields.size(), ScalarFields().size());
  for (size_t i = 0; i < px.fields.size(); ++i) {
    EXPECT_EQ(px.fields[i].name, ScalarFields()[i].name);
    EXPECT_EQ(px.fields[i].type, ScalarFields()[i].type);
  }
  ExpectSameRows(px.rows, ExpectedScalarRows(), "pxlib");
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{"types.db"});
}

TEST(TableWriterTest, AValueTheFieldCannotHoldFailsOnlyItsRow) {
  ScratchFolder dir;
  const std::string path = dir.File("refuse.db");
  auto w = TableWriter::Create(path, ScalarFields());
  ASSERT_TRUE(w.ok()) << w.status().message();
  Rows good = ScalarRows();
  struct Bad {
    size_t column;
    const char* value;
    const char* field;
  };
  const Bad bad[] = {
      {0, "Ωmega", "Name"},                  // not in code page 1252
      {0, "123456789012345678901", "Name"},  // 21 bytes into 20
      {0, "äöüäöüäöüäöüäöüäöüäöü", "Name"},  // 21 characters, 21 bytes in 1252
      {1, "32768", "Small"},                 // out of range
      {1, "-32768", "Small"},                // the NULL sentinel
      {2, "2147483648", "Count"},
      {2, "1.5", "Count"},  // not whole
      {2, "abc", "Count"},
      {3, "0.12345678901234567890", "Ratio"},  // more digits than a double keeps
      {3, "NaN", "Ratio"},
      {3, "inf", "Ratio"},
      {5, "2021-02-29", "Day"},  // no such date
      {5, "10000-01-01", "Day"},
      {5, "2021-01-01 10:00:00", "Day"},
      {6, "24:00:00", "At"},
      {6, "10:00:00.0001", "At"},  // finer than a millisecond
      {7, "2020-01-01 10:00:00.123456", "Stamp"},
      {7, "2020-01-01 10:00:00+02", "Stamp"},
      {8, "yes", "Flag"},
      {9, "1.234", "Amount"},                            // a third decimal
      {9, "1000000000000000000000000000000", "Amount"},  // 31 integer digits into 30
  };
  ASSERT_TRUE(w.value()->Append(good[0]).ok());
  for (const Bad& b : bad) {
    std::vector<Cell> row = good[1];
    row[b.column] = Text(b.value);
    Status st = w.value()->Append(row);
    ASSERT_FALSE(st.ok()) << b.value;
    EXPECT_EQ(st.code(), Status::Code::kInvalidArgument) << b.value;
    EXPECT_NE(st.message().find(std::string("field \"") + b.field + "\""), std::string::npos)
        << st.message();
  }
  Status wrong_width = w.value()->Append({Text("a")});
  EXPECT_FALSE(wrong_width.ok());
  ASSERT_TRUE(w.value()->Append(good[2]).ok());
  EXPECT_EQ(w.value()->rows_written(), 2u);
  ASSERT_TRUE(w.value()->Finish(TableWriter::Replace::kNever).ok());

  Rows want = {ExpectedScalarRows()[0], ExpectedScalarRows()[2]};
  ExpectSameRows(ReadWithOurReader(path).rows, want, "our reader");
  ExpectSameRows(ReadWithPxlib(path).rows, want, "pxlib");
}

TEST(TableWriterTest, NegativeZeroKeepsItsSignAndEmptyTextIsNull) {
  ScratchFolder dir;
  const std::string path = dir.File("zero.db");
  std::vector<FieldInfo> fields = {{"N", FieldType::kNumber, 0, 0}, {"A", FieldType::kAlpha, 5, 0}};
  ASSERT_TRUE(WriteTable(path, fields, {{Text("-0"), Text("")}, {Text("-0.0e5"), Text("a")}}).ok());
  auto ours = ReadWithOurReader(path);
  ExpectSameRows(ours.rows, {{Text("-0"), Null()}, {Text("-0"), Text("a")}}, "our reader");
}

TEST(TableWriterTest, OtherCodePagesAreRecordedAndUsed) {
  ScratchFolder dir;
  const std::string path = dir.File("cyr.db");
  std::vector<FieldInfo> fields = {{"Имя", FieldType::kAlpha, 10, 0}};
  ASSERT_TRUE(WriteTable(path, fields, {{Text("Привет")}}, 1251).ok());
  auto ours = ReadWithOurReader(path);
  EXPECT_EQ(ours.info.code_page, 1251);
  EXPECT_EQ(ours.info.fields[0].name, "Имя");
  ExpectSameRows(ours.rows, {{Text("Привет")}}, "our reader");
  auto px = ReadWithPxlib(path);
  EXPECT_EQ(px.code_page, 1251);
  ExpectSameRows(px.rows, {{Text("Привет")}}, "pxlib");
  // Six letters are six bytes in 1251: they fit a 6-byte field exactly.
  fields[0].size = 6;
  EXPECT_TRUE(WriteTable(dir.File("cyr6.db"), fields, {{Text("Привет")}}, 1251).ok());
}

TEST(TableWriterTest, BadDefinitionsAreRefusedBeforeAnyFileIsMade) {
  ScratchFolder dir;
  using F = std::vector<FieldInfo>;
  const F cases[] = {
      {},
      {{"A", FieldType::kAlpha, 0, 0}},
      {{"A", FieldType::kAlpha, 256, 0}},
      {{"B", FieldType::kBcd, 0, 33}},
      {{"M", FieldType::kMemo, 10, 0}},  // a memo needs a leader of at least 1
      {{"M", FieldType::kMemo, 251, 0}},
      {{"L", FieldType::kLong, 8, 0}},
      {{"", FieldType::kLong, 0, 0}},
      {{"x", FieldType::kLong, 0, 0}, {"X", FieldType::kShort, 0, 0}},
      {{"Ω", FieldType::kLong, 0, 0}},  // name not in code page 1252
      {{"x", static_cast<FieldType>(0x30), 4, 0}},
  };
  for (const F& fields : cases) {
    auto w = TableWriter::Create(dir.File("t.db"), fields);
    ASSERT_FALSE(w.ok());
    EXPECT_NE(w.status().message().find("t.db"), std::string::npos) << w.status().message();
  }
  EXPECT_FALSE(TableWriter::Create(dir.File("t.txt"), {{"x", FieldType::kLong, 0, 0}}).ok());
  EXPECT_FALSE(TableWriter::Create(dir.File("none/t.db"), {{"x", FieldType::kLong, 0, 0}}).ok());
  EXPECT_FALSE(TableWriter::Create(dir.File("t.db"), {{"x", FieldType::kLong, 0, 0}}, 4242).ok());
  EXPECT_TRUE(dir.Entries().empty());
}

}  // namespace
}  // namespace corvane::paradox
