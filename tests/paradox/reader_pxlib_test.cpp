// The reader against tables written by pxlib: every field type pxlib can
// write, NULLs, extremes, the block sizes pxlib picks and several code pages.
#include <gtest/gtest.h>

#include <filesystem>

#include "paradox/fixture_builder.h"
#include "support/temp_folder.h"
#include "paradox/pxlib_maker.h"
#include "paradox/read_all.h"

namespace corvane::paradox::testing {
namespace {

class ReaderPxlibTest : public ::testing::Test {
 protected:
  std::string Make(const PxlibTable& t, const std::string& name) {
    const std::string path = dir_ + "/" + name;
    const std::string err = t.Write(path);
    EXPECT_EQ(err, "");
    return path;
  }
  ::corvane::testing::TempFolder temp_{"corvane-reader-pxlib"};
  std::string dir_ = temp_.str();
};

TEST_F(ReaderPxlibTest, EveryTypePxlibWritesWithNullsAndExtremes) {
  PxlibTable t;
  t.Field("Name", 0x01, 255)
      .Field("Day", 0x02, 4)
      .Field("Small", 0x03, 2)
      .Field("Big", 0x04, 4)
      .Field("Pay", 0x05, 8)
      .Field("Ratio", 0x06, 8)
      .Field("Ok", 0x09, 1)
      .Field("At", 0x14, 4)
      .Field("Stamp", 0x15, 8)
      .Field("Id", 0x16, 4)
      .Field("Raw", 0x18, 3);
  const std::string wide = std::string(250, 'w') + "end  ";
  t.Row({std::string("Smith, \"J\""), 728783L, -1L, 100000L, -12.34, 0.1, 1L, 37800000L,
         63716202001000.0, 1L, std::string("\x01\x02\x03")});
  // pxlib fills an autoincrement field itself; everything else is NULL.
  t.Row({{}, {}, {}, {}, {}, {}, {}, {}, {}, 2L, {}});
  t.Row({wide, 675334L, -32767L, -2147483647L, 1e20, -1000.0, 0L, 0L, 63082368000123.0, 2147483647L,
         std::string("abc")});
  t.Row({std::string("x"), 784979L, 32767L, 2147483647L, 0.005, 123456789.125, 1L, 86399999L,
         62135683200000.0, 3L, std::string("\xff\xfe\xfd")});
  Result<std::vector<Row>> rows = ReadAll(Make(t, "types.db"));
  ASSERT_TRUE(rows.ok()) << rows.status().message();
  const std::vector<Row> want = {
      {"Smith, \"J\"", "1996-05-04", "-1", "100000", "-12.34", "0.1", "True", "10:30:00",
       "2020-02-01 01:00:01", "1", "\\x010203"},
      {kNull, kNull, kNull, kNull, kNull, kNull, kNull, kNull, kNull, "2", kNull},
      {wide, "1850-01-01", "-32767", "-2147483647", "1e+20", "-1000", "False", "00:00:00",
       "2000-01-01 00:00:00.123", "2147483647", "\\x616263"},
      {"x", "2150-03-14", "32767", "2147483647", "0.005", "123456789.125", "True", "23:59:59.999",
       "1970-01-01 00:00:00", "3", "\\xfffefd"},
  };
  EXPECT_EQ(*rows, want);
}

TEST_F(ReaderPxlibTest, ManyBlocksOfEveryBlockSizePxlibPicks) {
  std::vector<int> sizes_seen;
  for (int width : {20, 100, 200}) {
    PxlibTable t;
    t.Field("Text", 0x01, width).Field("N", 0x04, 4);
    for (long i = 0; i < 2000; ++i) t.Row({"row " + std::to_string(i), i * 7 - 5000});
    const std::string path = Make(t, "w" + std::to_string(width) + ".db");
    Result<std::unique_ptr<TableReader>> r = TableReader::Open(path);
    ASSERT_TRUE(r.ok()) << r.status().message();
    sizes_seen.push_back((*r)->info().block_size);
    EXPECT_EQ((*r)->info().record_count, 2000u);
    Result<std::vector<Row>> rows = ReadAll(path);
    ASSERT_TRUE(rows.ok()) << rows.status().message();
    ASSERT_EQ(rows->size(), 2000u);
    for (long i = 0; i < 2000; ++i) {
      ASSERT_EQ((*rows)[i], (Row{"row " + std::to_string(i), std::to_string(i * 7 - 5000)}));
    }
  }
  EXPECT_NE(sizes_seen[0], sizes_seen[2]) << "expected pxlib to pick different block sizes";
}

TEST_F(ReaderPxlibTest, TextOfSeveralCodePagesArrivesAsUtf8) {
  struct Case {
    int code_page;
    const char* text;
  };
  for (const Case c : {Case{866, "Привет, мир"}, Case{1251, "Съешь же ещё"}, Case{437, "Grüße ½"},
                       Case{850, "Ñandú Ø"}, Case{852, "Łódź żółw"}, Case{1252, "café € “q”"}}) {
    PxlibTable t(c.code_page);
    t.Field("Word", 0x01, 40).Row({std::string(c.text)});
    const std::string path = Make(t, "cp" + std::to_string(c.code_page) + ".db");
    Result<std::unique_ptr<TableReader>> r = TableReader::Open(path);
    ASSERT_TRUE(r.ok()) << r.status().message();
    EXPECT_EQ((*r)->info().code_page, c.code_page);
    EXPECT_EQ((*r)->info().fields[0].name, "Word");
    Result<std::vector<Row>> rows = ReadAll(path);
    ASSERT_TRUE(rows.ok()) << rows.status().message();
    EXPECT_EQ(*rows, (std::vector<Row>{{c.text}})) << c.code_page;
  }
}

}  // namespace
}  // namespace corvane::paradox::testing
