#include "paradox/companion_files.h"

#include <gtest/gtest.h>

#include <algorithm>
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
        "CUSTOMER.YG1", "CUSTOMER.VAL", "customer.tv", "CUSTOMER.FAM", "CUSTOMER.X0A",
        "CUSTOMER.F", "customer.f12", "CUSTOMER.R", "CUSTOMER.R1", "CUSTOMER.SET"}) {
    Touch(f);
  }
  // Not members: other tables, other kinds of file, look-alike extensions.
  for (const char* f : {"CUSTOMERS.DB", "CUSTOME.DB", "CUSTOMER.LCK", "CUSTOMER.F123", "CUSTOMER.txt",
                        "CUSTOMER.X1", "CUSTOMER.XGG", "CUSTOMER.db.bak", "ORDERS.MB", "CUSTOMER.FX",
                        "CUSTOMER.SC"}) {
    Touch(f);
  }
  fs::create_directory(dir_ / "customer.val");  // a folder is never a member

  auto files = Names(TableFiles(dir_, "customer"));
  std::vector<std::string> expected = {
      "CUSTOMER.DB",  "CUSTOMER.F",   "CUSTOMER.FAM", "CUSTOMER.R",   "CUSTOMER.R1",
      "CUSTOMER.SET", "CUSTOMER.VAL", "CUSTOMER.X06", "CUSTOMER.X0A", "CUSTOMER.Y06",
      "CUSTOMER.YG1", "Customer.PX",  "customer.f12", "customer.mb",  "customer.tv",
      "customer.xg0"};
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

// Two tables whose names differ only in case are two tables here: a name
// means the one spelled so, another case only when it is the only match, and
// a companion spelled otherwise goes with a table only when no other could
// claim it.
TEST_F(CompanionFilesTest, FindTableTakesExactlyOneTable) {
  for (const char* f : {"abc.db", "abc.mb", "abc.F", "ABC.DB", "ABC.MB", "ABC.R1", "Abc.px",
                        "solo.DB", "SOLO.mb", "Solo.set", "two.db", "Two.db", "TWO.tv"}) {
    Touch(f);
  }
  struct Case {
    const char* name;
    std::vector<std::string> files;  // empty: refused
    Status::Code refusal;
  } cases[] = {
      {"ABC", {"ABC.DB", "ABC.MB", "ABC.R1"}, Status::Code::kOk},
      {"abc", {"abc.db", "abc.F", "abc.mb"}, Status::Code::kOk},
      {"aBc", {}, Status::Code::kInvalidArgument},  // abc or ABC?
      {"SOLO", {"solo.DB", "SOLO.mb", "Solo.set"}, Status::Code::kOk},
      {"TWO", {}, Status::Code::kInvalidArgument},
      {"Two", {"Two.db"}, Status::Code::kOk},  // TWO.tv: two or Two's?
      {"none", {}, Status::Code::kNotFound},
  };
  for (const Case& c : cases) {
    Result<TableFamily> found = FindTable(dir_, c.name);
    EXPECT_EQ(found.status().code(), c.refusal) << c.name << ": " << found.status().message();
    if (!found.ok()) {
      EXPECT_TRUE(DroppableTableFiles(dir_, c.name).empty()) << c.name;
      continue;
    }
    std::vector<std::string> names = Names(found->Files());
    std::sort(names.begin() + 1, names.end());
    EXPECT_EQ(names, c.files) << c.name;
    EXPECT_EQ(Names(DroppableTableFiles(dir_, c.name)), Names(found->Files())) << c.name;
  }
  EXPECT_NE(FindTable(dir_, "TWO").status().message().find("Two.db, two.db"), std::string::npos);
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
