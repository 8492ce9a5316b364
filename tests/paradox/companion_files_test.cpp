#include "paradox/companion_files.h"

#include <gtest/gtest.h>
#include <linux/magic.h>
#include <sys/vfs.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "paradox/folder_index.h"
#include "support/temp_folder.h"

namespace corvane::paradox {
namespace {

namespace fs = std::filesystem;

class CompanionFilesTest : public ::testing::Test {
 protected:
  void Touch(const std::string& name) { std::ofstream(dir_ / name) << "x"; }
  std::vector<std::string> Names(const std::vector<fs::path>& paths) {
    std::vector<std::string> out;
    for (const auto& p : paths) out.push_back(p.filename().string());
    return out;
  }
  corvane::testing::TempFolder temp_{"corvane_companion"};
  fs::path dir_ = temp_.path();
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

// A folder of many tables is listed once for all their lookups, and what
// another process changes afterwards is seen at the next lookup.
TEST_F(CompanionFilesTest, OneListingServesEveryLookupAndOthersChangesAreSeen) {
  struct statfs info {};
  ASSERT_EQ(statfs(dir_.c_str(), &info), 0);
  if (info.f_type != EXT4_SUPER_MAGIC && info.f_type != TMPFS_MAGIC && info.f_type != XFS_SUPER_MAGIC &&
      info.f_type != BTRFS_SUPER_MAGIC && info.f_type != OVERLAYFS_SUPER_MAGIC) {
    GTEST_SKIP() << dir_ << " is not on a local file system, where every lookup lists it";
  }
  for (int i = 0; i < 300; ++i) {
    Touch("T" + std::to_string(i) + ".DB");
    Touch("t" + std::to_string(i) + ".mb");
  }
  const uint64_t before = FamilyFolderListings();
  for (int i = 0; i < 300; ++i) {
    auto t = FindTable(dir_, "T" + std::to_string(i));
    ASSERT_TRUE(t.ok()) << i;
    EXPECT_EQ(Names(t->Files()), (std::vector<std::string>{"T" + std::to_string(i) + ".DB",
                                                           "t" + std::to_string(i) + ".mb"}));
  }
  EXPECT_EQ(FamilyFolderListings() - before, 1u);

  // Another process changes the folder; each lookup then sees it as it is.
  const std::string shell = "cd '" + dir_.string() +
                            "' && touch NEW.DB new.MB && rm T5.DB && mv T6.DB T6X.DB && "
                            "rm t7.mb && mkdir t7.mb && ln -s T8.DB LINKED.DB && mv T9.DB t10.db";
  ASSERT_EQ(std::system(shell.c_str()), 0);
  struct Case {
    const char* name;
    std::vector<std::string> files;  // empty: no such table
  } cases[] = {
      {"NEW", {"NEW.DB", "new.MB"}},    {"T5", {}},
      {"T6X", {"T6X.DB"}},              {"T6", {}},
      {"T7", {"T7.DB"}},                {"LINKED", {"LINKED.DB"}},
      {"T9", {}},                       {"T10", {"T10.DB"}},
      {"t10", {"t10.db", "t10.mb"}},    {"T11", {"T11.DB", "t11.mb"}},
  };
  for (const Case& c : cases) {
    auto t = FindTable(dir_, c.name);
    EXPECT_EQ(t.ok() ? Names(t->Files()) : std::vector<std::string>{}, c.files) << c.name;
  }
}

}  // namespace
}  // namespace corvane::paradox
