// Files written whole: concurrent writers never mix their texts, nothing
// is left beside the file, and a failure says which file.
#include "base/whole_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "support/temp_folder.h"

namespace corvane {
namespace {

TEST(WholeFileTest, ConcurrentWritersEachLeaveAWholeFileAndNoScratch) {
  const testing::TempFolder temp("whole-file");
  const std::filesystem::path& dir = temp.path();
  const std::string path = (dir / "settings.ini").string();
  std::vector<std::string> texts;
  for (char c : {'a', 'b', 'c', 'd'}) texts.push_back(std::string(200000, c) + "\n");
  std::vector<std::thread> writers;
  for (const std::string& text : texts) {
    writers.emplace_back([&, text] {
      for (int i = 0; i < 20; ++i) EXPECT_TRUE(WriteWholeFile(path, text, 0600, "file").ok());
    });
  }
  for (std::thread& t : writers) t.join();
  std::ifstream in(path, std::ios::binary);
  std::stringstream got;
  got << in.rdbuf();
  EXPECT_NE(std::find(texts.begin(), texts.end(), got.str()), texts.end());
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 1);

  const Status missing = WriteWholeFile((dir / "no" / "x.json").string(), "{}", 0600, "the report");
  EXPECT_EQ(missing.code(), Status::Code::kIoError);
  EXPECT_NE(missing.message().find("the report " + (dir / "no" / "x.json").string()),
            std::string::npos)
      << missing.message();
}

}  // namespace
}  // namespace corvane
