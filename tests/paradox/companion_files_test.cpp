#include "paradox/companion_files.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

namespace corvane::paradox {
namespace {

namespace fs = std::filesystem;

class CompanionFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ =
        fs::temp_directory_path() /
        ("corvane_companion_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
         "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  void Touch(const std::string& name) { std::ofstream(dir_ / name) << "x"; }
  std::vector<std::string> Names(const std::vector<fs::path>& paths) {
    std::vector<std::string> out;
    for (const auto& p : paths) out.push_back(p.filename().string());
    return out;
  }
  fs::path dir_;
};

TEST_F(CompanionFilesTest, ListsTheWholeFamilyInAnyCaseAndNothingElse) {
  for (const char* f :
       {"CUSTOMER.DB", "customer.mb", "Customer.PX", "CUSTOMER.X06", "CUSTOMER.Y06", "customer.xg0",
        "CUSTOMER.YG1", "CUSTOMER.VAL", "customer.tv", "CUSTOMER.FAM", "CUSTOMER.X0A"}) {
    Touch(f);
  }
  // Not members: other tables, other kinds of file, look-alike extensions.
  for (const char* f : {"CUSTOMERS.DB", "CUSTOME.DB", "CUSTOMER.LCK", "CUSTOMER.F", "CUSTOMER.txt",
                        "CUSTOMER.X1", "CUSTOMER.XGG", "CUSTOMER.db.bak", "ORDERS.MB"}) {
    Touch(f);
  }
  fs::create_directory(dir_ / "customer.val");  // a folder is never a member

  auto files = Names(TableFiles(dir_, "customer"));
  std::vector<std::string> expected = {"CUSTOMER.DB",  "CUSTOMER.FAM", "CUSTOMER.VAL",
                                       "CUSTOMER.X06", "CUSTOMER.X0A", "CUSTOMER.Y06",
                                       "CUSTOMER.YG1", "Customer.PX",  "customer.mb",
                                       "customer.tv",  "customer.xg0"};
  EXPECT_EQ(files, expected);

  auto companions = Names(CompanionFiles(dir_, "CUSTOMER"));
  expected.erase(expected.begin());
  EXPECT_EQ(companions, expected);
}

TEST_F(CompanionFilesTest, MissingFolderOrTableGivesNothing) {
  EXPECT_TRUE(TableFiles(dir_ / "absent", "x").empty());
  EXPECT_FALSE(FindTableFile(dir_ / "absent", "x").has_value());
  Touch("other.db");
  EXPECT_TRUE(TableFiles(dir_, "x").empty());
  EXPECT_FALSE(FindTableFile(dir_, "x").has_value());
}

TEST_F(CompanionFilesTest, FindTableFilePrefersTheExactSpelling) {
  Touch("ORDERS.DB");
  Touch("orders.mb");
  auto found = FindTableFile(dir_, "Orders");
  ASSERT_TRUE(found.has_value());
  EXPECT_EQ(found->filename(), "ORDERS.DB");

  Touch("Orders.db");
  found = FindTableFile(dir_, "Orders");
  ASSERT_TRUE(found.has_value());
  EXPECT_EQ(found->filename(), "Orders.db");
}

TEST_F(CompanionFilesTest, NamesBeyondAsciiFoldTheirCase) {
  Touch("ÄRGER.DB");
  Touch("ärger.MB");
  Touch("ПРОБА.db");
  EXPECT_EQ(TableFiles(dir_, "Ärger").size(), 2u);
  EXPECT_TRUE(FindTableFile(dir_, "проба").has_value());
  EXPECT_TRUE(SameNameIgnoringCase("ŁÓDŹ", "łódź"));
  EXPECT_TRUE(SameNameIgnoringCase("ΆΘΗΝΑ", "άθηνα"));
  EXPECT_FALSE(SameNameIgnoringCase("abc", "abd"));
  EXPECT_FALSE(SameNameIgnoringCase("ab", "abc"));
  // Broken UTF-8 still compares, byte for byte.
  EXPECT_TRUE(SameNameIgnoringCase("a\xff", "a\xff"));
  EXPECT_FALSE(SameNameIgnoringCase("A\xff", "a\xff"));
}

}  // namespace
}  // namespace corvane::paradox
