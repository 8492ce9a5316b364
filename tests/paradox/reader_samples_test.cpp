// Reads every table under $CORVANE_PARADOX_SAMPLES (real tables written by
// Paradox, the BDE and other programs; not part of the project). Skipped
// when the variable is not set.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "paradox/code_page.h"
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
    // Password-protected tables too: they are decrypted with the key in
    // their header.
    Result<std::unique_ptr<TableReader>> r = TableReader::Open(path);
    ASSERT_TRUE(r.ok()) << r.status().message();
    std::vector<Cell> row;
    uint64_t rows = 0;
    for (;;) {
      Result<bool> more = (*r)->Next(row);
      ASSERT_TRUE(more.ok()) << more.status().message();
      if (!*more) break;
      ++rows;
    }
    EXPECT_EQ(rows, (*r)->info().record_count) << path;
    // The header names code page 0 for HP Roman-8 tables; the driver tells.
    if ((*r)->info().sort_order == "BLROM800") {
      EXPECT_EQ((*r)->info().code_page, kRoman8CodePage) << path;
    }
  }
}

// Real password-protected tables decrypt to their known text (when the
// sample folder holds them).
TEST(ReaderSamplesTest, EncryptedSamplesDecryptToTheirText) {
  const char* root = std::getenv("CORVANE_PARADOX_SAMPLES");
  if (!root || !*root) GTEST_SKIP() << "CORVANE_PARADOX_SAMPLES is not set";
  struct Known {
    const char* file;
    size_t field;
    const char* first_value;
  };
  for (const Known k : {Known{"encrypt/encrypted.db", 1, "Value 1"},
                        Known{"encrypt/encrypted35.db", 1, "Test 1"}}) {
    const std::string path = std::string(root) + "/" + k.file;
    if (!std::filesystem::exists(path)) continue;
    Result<std::unique_ptr<TableReader>> r = TableReader::Open(path);
    ASSERT_TRUE(r.ok()) << r.status().message();
    std::vector<Cell> row;
    Result<bool> more = (*r)->Next(row);
    ASSERT_TRUE(more.ok() && *more) << path;
    EXPECT_EQ(row.at(k.field).text, k.first_value) << path;
  }
}

}  // namespace
}  // namespace corvane::paradox
