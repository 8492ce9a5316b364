// A table whose files are renamed over while it is read gives rows of the
// version it opened only, then one error.
#include <gtest/gtest.h>

#include <filesystem>

#include "paradox/fixture_builder.h"
#include "support/temp_folder.h"
#include "paradox/table_reader.h"
#include "paradox/table_writer.h"

namespace corvane::paradox::testing {
namespace {

namespace fs = std::filesystem;

class ReaderVersionsTest : public ::testing::Test {
 protected:
  ::corvane::testing::TempFolder temp_{"corvane-reader-versions"};
  std::string dir_ = temp_.str();
};

// Version `v` of one table: every row's number and memo tell the version,
// and every memo lives in the .mb.
void WriteVersion(const std::string& db, char v, int rows) {
  const std::vector<FieldInfo> fields = {{"N", FieldType::kLong, 0, 0},
                                         {"Memo", FieldType::kMemo, 11, 0}};
  auto w = TableWriter::Create(db, fields, 1252);
  ASSERT_TRUE(w.ok()) << w.status().message();
  for (int i = 1; i <= rows; ++i) {
    const std::string memo(200, v);
    ASSERT_TRUE((*w)->Append({{false, std::to_string(v * 1000 + i)}, {false, memo}}).ok());
  }
  ASSERT_TRUE((*w)->Finish(TableWriter::Replace::kNever).ok());
}

TEST_F(ReaderVersionsTest, ATableRenamedOverWhileReadGivesOnlyRowsOfTheVersionOpened) {
  // Replaced after the first row (before its first value from the .mb),
  // in the middle, and after the last row: each time every row handed out
  // is of the old version, and the read ends with one error, not the end.
  constexpr int kRows = 400;  // several blocks
  for (int replace_after : {1, kRows / 2, kRows}) {
    SCOPED_TRACE(replace_after);
    const std::string old_dir = dir_ + "/old", new_dir = dir_ + "/new";
    fs::create_directories(old_dir);
    fs::create_directories(new_dir);
    WriteVersion(old_dir + "/T.db", 'a', kRows);
    WriteVersion(new_dir + "/T.db", 'b', kRows);
    auto reader = TableReader::Open(old_dir + "/T.db");
    ASSERT_TRUE(reader.ok()) << reader.status().message();
    std::vector<Cell> row;
    int read = 0;
    Result<bool> more = true;
    for (; read < replace_after && (more = (*reader)->Next(row)).ok() && *more; ++read) {
      EXPECT_EQ(row[1].text, std::string(200, 'a'));
    }
    ASSERT_EQ(read, replace_after);
    fs::rename(new_dir + "/T.db", old_dir + "/T.db");
    fs::rename(new_dir + "/T.mb", old_dir + "/T.mb");
    while ((more = (*reader)->Next(row)).ok() && *more) {
      ++read;
      EXPECT_EQ(row[0].text.substr(0, 2), "97") << "a row of the new version";
      EXPECT_EQ(row[1].text, std::string(200, 'a'));
    }
    ASSERT_FALSE(more.ok()) << "the end of a table that was replaced";
    EXPECT_NE(more.status().message().find("was replaced or removed"), std::string::npos)
        << more.status().message();
    EXPECT_TRUE((*reader)->broken());
    EXPECT_LE(read, kRows);
    fs::remove_all(old_dir);
    fs::remove_all(new_dir);
  }
}

}  // namespace
}  // namespace corvane::paradox::testing
