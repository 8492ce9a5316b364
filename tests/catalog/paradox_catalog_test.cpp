// The Paradox folder catalog on folder trees built here: which files count
// as tables, the names they are listed by, the walk's order and what it
// leaves out (unreadable, linked, unsafe and too long folders).
#include "catalog/paradox_catalog.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "base/utf8.h"
#include "catalog/folder_walk.h"
#include "support/temp_folder.h"
#include "ui/memory_surfaces.h"

namespace corvane::catalog {
namespace {

namespace fs = std::filesystem;

// While alive, the process acts as user "nobody" when it runs as root, so
// that permission bits bite; a no-op for other users.
class AsOtherUser {
 public:
  AsOtherUser() : active_(geteuid() == 0) {
    if (active_) {
      EXPECT_EQ(setegid(65534), 0);
      EXPECT_EQ(seteuid(65534), 0);
    }
  }
  ~AsOtherUser() {
    if (active_) {
      EXPECT_EQ(seteuid(0), 0);
      EXPECT_EQ(setegid(0), 0);
    }
  }

 private:
  bool active_;
};

class ParadoxCatalogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::permissions(root_, fs::perms::all);  // other users may walk it
  }
  std::string Touch(const std::string& rel) {
    const fs::path p = fs::path(root_) / rel;
    fs::create_directories(p.parent_path());
    std::ofstream(p) << "x";
    return p.string();
  }
  std::string Dir(const std::string& rel) {
    fs::create_directories(fs::path(root_) / rel);
    return root_ + "/" + rel;
  }
  std::vector<std::string> List(const std::string& folder) {
    ui::MemoryTableList list;
    list.Add("left over");
    Status st = ListParadoxTables(folder, list, pump_, dialogs_);
    EXPECT_TRUE(st.ok()) << st.message();
    return list.Names();
  }
  std::vector<std::string> Walk(const std::string& folder) {
    std::vector<std::string> folders = {folder + "/"};
    GetSubDirectories2016(folders, true, pump_, dialogs_);
    for (auto& f : folders) f = f.substr(root_.size());
    return folders;
  }

  corvane::testing::TempFolder temp_{"corvane_catalog"};
  std::string root_ = temp_.str();
  ui::CountingPump pump_;
  ui::ScriptedDialogs dialogs_;
};

TEST_F(ParadoxCatalogTest, FolderTestLooksAtTheFolderItselfOnly) {
  EXPECT_FALSE(TestParadoxFolder("").value());
  EXPECT_FALSE(TestParadoxFolder(root_ + "/absent").value());
  Dir("x.db");  // a folder is no table
  Touch("sub/orders.db");
  EXPECT_FALSE(TestParadoxFolder(root_).value());
  Touch("~Temp.DB");  // counts here, though never listed
  EXPECT_TRUE(TestParadoxFolder(root_).value());
  EXPECT_TRUE(TestParadoxFolder(root_ + "/").value());
  EXPECT_EQ(List(root_), std::vector<std::string>{"ORDERS"});
}

TEST_F(ParadoxCatalogTest, NamesAreUpperCasedWithEveryDotDbRemoved) {
  for (const char* f : {"Customer.db", "a.db.db", "my.dbase.db", ".hidden.db", "x.DB", "café.Db",
                        "~work.db", "notes.txt", "orders.dbf", "..DBDB.db"}) {
    Touch(f);
  }
  Dir("folder.db");
  // Sorted as the list sorts; "..DBDB" loses one ".DB" in one pass.
  EXPECT_EQ(List(root_),
            (std::vector<std::string>{".DB", ".HIDDEN", "A", "CAFÉ", "CUSTOMER", "MYASE", "X"}));
  EXPECT_EQ(TableNameOf("/x/y/Orders.Db"), "ORDERS");
  EXPECT_EQ(List(""), std::vector<std::string>{});  // cleared, nothing added
}

TEST_F(ParadoxCatalogTest, SameNameInThreeFoldersIsListedThreeTimes) {
  Touch("a/orders.db");
  Touch("b/Orders.DB");
  Touch("c/deeper/ORDERS.db");
  EXPECT_EQ(List(root_), (std::vector<std::string>{"ORDERS", "ORDERS", "ORDERS"}));
}

TEST_F(ParadoxCatalogTest, WalkIsBreadthFirstAndServesThePump) {
  for (const char* d : {"a/a1/a11", "a/a2", "b/b1", "c"}) Dir(d);
  std::vector<std::string> walked = Walk(root_);
  ASSERT_EQ(walked.size(), 8u);
  auto depth = [](const std::string& f) { return std::count(f.begin(), f.end(), '/'); };
  EXPECT_EQ(walked[0], "/");
  EXPECT_TRUE(std::is_sorted(walked.begin(), walked.end(),
                             [&](auto& x, auto& y) { return depth(x) < depth(y); }));
  std::sort(walked.begin(), walked.end());
  EXPECT_EQ(walked, (std::vector<std::string>{"/", "/a/", "/a/a1/", "/a/a1/a11/", "/a/a2/", "/b/",
                                              "/b/b1/", "/c/"}));
  EXPECT_GE(pump_.count, 8);
}

TEST_F(ParadoxCatalogTest, UnreadableFoldersAreLeftOutWithTheirFiles) {
  Touch("top.db");
  Touch("open/kept.db");
  Touch("open/inner/deep.db");
  Touch("shut/hidden.db");
  Touch("shut/below/lost.db");
  fs::permissions(Dir("shut"), fs::perms::none);
  {
    AsOtherUser other;
    EXPECT_EQ(List(root_), (std::vector<std::string>{"DEEP", "KEPT", "TOP"}));
    // The starting folder itself unreadable: nothing at all.
    EXPECT_EQ(List(root_ + "/shut"), std::vector<std::string>{});
  }
  EXPECT_TRUE(dialogs_.shown.empty());
}

TEST_F(ParadoxCatalogTest, LinkedFoldersAreNotFollowedSoLoopsEnd) {
  Touch("real/t1.db");
  Touch("elsewhere/t2.db");
  fs::create_directory_symlink(root_, root_ + "/real/loop");
  fs::create_directory_symlink("../elsewhere", root_ + "/real/link");
  fs::create_symlink(root_ + "/real/t1.db", root_ + "/real/alias.db");  // a linked file counts
  EXPECT_EQ(List(root_ + "/real"), (std::vector<std::string>{"ALIAS", "T1"}));
  EXPECT_EQ(Walk(root_ + "/real"), std::vector<std::string>{"/real/"});
}

TEST_F(ParadoxCatalogTest, UnsafeFolderNamesAreNeitherEnteredNorListed) {
  for (const char* d : {"ctl\x01name", "what?", "del\x7f", "c1\xc2\x85", "bad\xff", "Ünïcode ok"}) {
    Touch(std::string(d) + "/t.db");
  }
  EXPECT_EQ(List(root_), std::vector<std::string>{"T"});
  EXPECT_TRUE(dialogs_.shown.empty());
  // A file name that is not UTF-8 is left out with a note naming its bytes.
  Touch("caf\xe9.db");
  Touch("ok.db");
  EXPECT_EQ(List(root_), (std::vector<std::string>{"OK", "T"}));
  ASSERT_EQ(dialogs_.shown.size(), 1u);
  EXPECT_NE(dialogs_.shown[0].text.find("/caf\\xE9.db"), std::string::npos)
      << dialogs_.shown[0].text;
  EXPECT_TRUE(HasUnsafeCharacters("\xc2\x9f"));
  EXPECT_FALSE(HasUnsafeCharacters("\xc2\xa0"));  // 160 is safe
  EXPECT_FALSE(HasUnsafeCharacters(""));
}

// A folder path of 260 units or more (with its "/") is not entered: its own
// files are listed, its sub-folders are not walked.
TEST_F(ParadoxCatalogTest, FoldersOf260UnitsAreNotEntered) {
  // "é" is two bytes but one unit: the limit counts units.
  const std::string parent = Dir(std::string(100, 'p'));
  const size_t used = parent.size() + 1;  // parent + "/"
  ASSERT_LT(used + 20, 259u);
  std::string long_name, short_name;
  for (size_t i = used; i < 259; ++i) long_name += "é";
  short_name = long_name.substr(2);  // one unit fewer
  ASSERT_EQ(utf8::Utf16Length(parent + "/" + long_name + "/"), 260u);
  ASSERT_EQ(utf8::Utf16Length(parent + "/" + short_name + "/"), 259u);
  const std::string rel = std::string(100, 'p') + "/";
  Touch(rel + long_name + "/at260.db");
  Touch(rel + long_name + "/sub/below260.db");
  Touch(rel + short_name + "/at259.db");
  Touch(rel + short_name + "/sub/below259.db");
  EXPECT_EQ(List(root_), (std::vector<std::string>{"AT259", "AT260", "BELOW259"}));
}

TEST_F(ParadoxCatalogTest, FileTests) {
  const std::string file = Touch("f.db");
  EXPECT_TRUE(IsExistingFile(file));
  EXPECT_FALSE(IsExistingFile(root_));
  EXPECT_FALSE(IsExistingFile(root_ + "/missing"));
  ASSERT_EQ(mkfifo((root_ + "/pipe.db").c_str(), 0600), 0);
  EXPECT_FALSE(IsExistingFile(root_ + "/pipe.db"));  // opening it would hang a reader
  EXPECT_TRUE(IsFolder(root_));
  EXPECT_FALSE(IsFolder(file));
  EXPECT_FALSE(IsFolder(root_ + "/missing"));
  EXPECT_EQ(ListFiles(root_, "*.DB"), std::vector<std::string>{"f.db"});
  EXPECT_EQ(ListFiles(root_ + "/", "?.db"), std::vector<std::string>{"f.db"});
  EXPECT_EQ(ListFiles(root_ + "/missing", "*.db"), std::vector<std::string>{});
  EXPECT_EQ(FileNameOf("/a/b/c.db"), "c.db");
  EXPECT_EQ(FileNameOf("c.db"), "c.db");
  EXPECT_EQ(FileNameOf("/a/"), "");
}

}  // namespace
}  // namespace corvane::catalog
