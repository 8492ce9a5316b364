// Reads every table under $CORVANE_PARADOX_SAMPLES (real tables written by
// Paradox, the BDE and other programs; not part of the project). Skipped
// when the variable is not set.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "paradox/table_reader.h"

namespace corvane::paradox {
namespace {

std::vector<std::string> TablesUnder(const std::string& root) {
  std::vector<std::string> tables;
  for (const auto& e : std::filesystem::recursive_directory_iterator(root)) {
    std::string ext = e.path().extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), ::tolower);
    if (e.is_regular_file() && ext == ".db") tables.push_back(e.path().string());
  }
  std::sort(tables.begin(), tables.end());
  return tables;
}

TEST(ReaderSamplesTest, EveryRealTableOpensAndReadsAllItsRows) {
  const char* root = std::getenv("CORVANE_PARADOX_SAMPLES");
  if (!root || !*root) GTEST_SKIP() << "CORVANE_PARADOX_SAMPLES is not set";
  const std::vector<std::string> tables = TablesUnder(root);
  ASSERT_FALSE(tables.empty()) << "no .db files under " << root;
  for (const std::string& path : tables) {
    Result<std::unique_ptr<TableReader>> r = TableReader::Open(path);
    if (!r.ok()) {
      Result<TableInfo> info = TableReader::ReadInfo(path);
      ASSERT_TRUE(info.ok()) << info.status().message();
      EXPECT_TRUE(info->encrypted) << r.status().message();
      EXPECT_EQ(r.status().message(), path + " is password-protected");
      continue;
    }
    std::vector<Cell> row;
    uint64_t rows = 0;
    for (;;) {
      Result<bool> more = (*r)->Next(row);
      ASSERT_TRUE(more.ok()) << more.status().message();
      if (!*more) break;
      ++rows;
    }
    EXPECT_EQ(rows, (*r)->info().record_count) << path;
  }
}

}  // namespace
}  // namespace corvane::paradox
