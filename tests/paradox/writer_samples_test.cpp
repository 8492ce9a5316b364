// Round trip over real tables: every table our reader reads, written again
// by our writer and read back, gives the same values. The folder comes from
// CORVANE_PARADOX_SAMPLES; without it the test is skipped.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "paradox/code_page.h"
#include "paradox/table_writer.h"
#include "writer_support.h"

namespace corvane::paradox {
namespace {

namespace fs = std::filesystem;
using testing::ReadWithOurReader;
using testing::ScratchFolder;

std::vector<fs::path> SampleTables(const fs::path& root) {
  std::vector<fs::path> tables;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    std::string ext = e.path().extension().string();
    if (e.is_regular_file() && (ext == ".db" || ext == ".DB")) tables.push_back(e.path());
  }
  std::sort(tables.begin(), tables.end());
  return tables;
}

// The sample's fields as the writer takes them: a Memo needs a leader.
std::vector<FieldInfo> WritableFields(std::vector<FieldInfo> fields) {
  for (FieldInfo& f : fields) {
    if (f.type == FieldType::kMemo && f.size <= kBlobRefSize) f.size = kBlobRefSize + 1;
  }
  return fields;
}

TEST(TableWriterSamplesTest, EveryReadableSampleSurvivesARoundTrip) {
  const char* root = std::getenv("CORVANE_PARADOX_SAMPLES");
  if (root == nullptr || !fs::is_directory(root)) GTEST_SKIP() << "CORVANE_PARADOX_SAMPLES not set";
  ScratchFolder dir;
  int compared = 0;
  for (const fs::path& sample : SampleTables(root)) {
    SCOPED_TRACE(sample.string());
    auto original = ReadWithOurReader(sample.string());
    if (!original.error.empty()) continue;  // unreadable tables are the reader's tests' business
    const int code_page =
        IsSupportedCodePage(original.info.code_page) ? original.info.code_page : kDefaultCodePage;
    const std::string copy = dir.File("copy" + std::to_string(compared) + ".db");
    auto w = TableWriter::Create(copy, WritableFields(original.info.fields), code_page);
    ASSERT_TRUE(w.ok()) << w.status().message();
    for (const auto& row : original.rows) {
      Status st = w.value()->Append(row);
      EXPECT_TRUE(st.ok()) << st.message();
    }
    ASSERT_TRUE(w.value()->Finish(TableWriter::Replace::kNever).ok());
    auto back = ReadWithOurReader(copy);
    ASSERT_EQ(back.error, "");
    ASSERT_EQ(back.rows.size(), original.rows.size());
    for (size_t r = 0; r < back.rows.size(); ++r) {
      for (size_t c = 0; c < back.rows[r].size(); ++c) {
        EXPECT_EQ(back.rows[r][c].null, original.rows[r][c].null) << "row " << r << " field " << c;
        EXPECT_TRUE(back.rows[r][c].text == original.rows[r][c].text)
            << "row " << r << " field " << c << ": " << back.rows[r][c].text.substr(0, 80)
            << " != " << original.rows[r][c].text.substr(0, 80);
      }
    }
    ++compared;
  }
  EXPECT_GT(compared, 0);
  std::printf("round trip: %d sample tables\n", compared);
}

}  // namespace
}  // namespace corvane::paradox
