// Paradox delete and rename on real files in a scratch folder.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "maintenance/maintenance.h"
#include "maintenance/table_family.h"
#include "paradox/folder_index.h"
#include "window_fixture.h"
#include "support/temp_folder.h"

namespace corvane::maintenance {
namespace {

namespace fs = std::filesystem;
using ui::PointerShape;

class ParadoxMaintenanceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = temp_.path();
    w_.settings.settings.paradox_folder = dir_.string();
  }
  // Each file holds its own name, so a mix-up shows in the content.
  void Make(const std::vector<std::string>& names) {
    for (const auto& n : names) std::ofstream(dir_ / n, std::ios::binary) << "content of " << n;
  }
  std::string Read(const std::string& name) {
    std::ifstream in(dir_ / name, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  // File name -> content, for every file directly in the folder.
  std::map<std::string, std::string> Snapshot() {
    std::map<std::string, std::string> out;
    for (const auto& e : fs::directory_iterator(dir_)) {
      if (e.is_regular_file())
        out[e.path().filename().string()] = Read(e.path().filename().string());
    }
    return out;
  }
  std::vector<std::string> Files() {
    std::vector<std::string> out;
    for (const auto& [name, content] : Snapshot()) out.push_back(name);
    return out;
  }
  void List(const std::vector<std::string>& names, const std::vector<std::string>& selected) {
    testing::FakeTablesWindow::Fill(w_.paradox, names);
    w_.paradox.SelectNames(selected);
  }
  corvane::testing::TempFolder temp_{"corvane_maint"};
  fs::path dir_;
  testing::FakeTablesWindow w_;
};

TEST_F(ParadoxMaintenanceTest, DeletesSelectedTablesWithAllTheirFilesAndNothingElse) {
  Make({"ALPHA.DB", "ALPHA.MB", "ALPHA.PX", "ALPHA.X02", "ALPHA.Y02", "ALPHA.VAL", "ALPHA.F",
        "BETA.DB", "BETA.MB", "CHARLIE.DB", "charlie.tv", "delta.db", "delta.mb", "ECHO.DB",
        "ECHO.PX"});
  List({"ALPHA", "BETA", "CHARLIE", "DELTA", "ECHO"}, {"ALPHA", "CHARLIE", "DELTA"});

  Outcome out = DeleteParadoxTables(w_.window);

  EXPECT_EQ(out.failures, 0);
  // Neighbours right below a deleted entry keep their files; the form goes
  // with its table.
  EXPECT_EQ(Files(), (std::vector<std::string>{"BETA.DB", "BETA.MB", "ECHO.DB", "ECHO.PX"}));
  EXPECT_EQ(w_.paradox.Names(), (std::vector<std::string>{"BETA", "ECHO"}));
  EXPECT_TRUE(w_.dialogs.shown.empty());
  EXPECT_EQ(w_.pointer.history,
            (std::vector<PointerShape>{PointerShape::kHourglass, PointerShape::kDefault}));
  EXPECT_GT(w_.pump.count, 0);
}

TEST_F(ParadoxMaintenanceTest, DeletesReadOnlyFiles) {
  Make({"LOCKED.DB", "LOCKED.MB"});
  fs::permissions(dir_ / "LOCKED.DB", fs::perms::owner_read, fs::perm_options::replace);
  fs::permissions(dir_ / "LOCKED.MB", fs::perms::owner_read, fs::perm_options::replace);
  List({"LOCKED"}, {"LOCKED"});

  (void)DeleteParadoxTables(w_.window);

  EXPECT_TRUE(Files().empty());
  EXPECT_EQ(w_.paradox.Count(), 0);
}

TEST_F(ParadoxMaintenanceTest, DeleteLeavesEntriesWithoutATableFileHere) {
  fs::create_directory(dir_ / "sub");
  std::ofstream(dir_ / "sub" / "NESTED.DB") << "nested";
  Make({"ORPHAN.MB"});  // a memo file alone is no table
  List({"NESTED", "ORPHAN", "GONE"}, {"NESTED", "ORPHAN", "GONE"});

  (void)DeleteParadoxTables(w_.window);

  EXPECT_EQ(w_.paradox.Names(), (std::vector<std::string>{"GONE", "NESTED", "ORPHAN"}));
  EXPECT_TRUE(fs::exists(dir_ / "sub" / "NESTED.DB"));
  EXPECT_EQ(Files(), (std::vector<std::string>{"ORPHAN.MB"}));
}

TEST_F(ParadoxMaintenanceTest, DeleteSelectionRules) {
  Make({"KEEP.DB"});
  List({"KEEP"}, {});
  (void)DeleteParadoxTables(w_.window);  // no current entry
  EXPECT_EQ(w_.Messages(), (std::vector<std::string>{"Please select a table to delete."}));
  // The hourglass stands while the message shows.
  EXPECT_EQ(w_.dialogs.pointers, (std::vector<PointerShape>{PointerShape::kHourglass}));
  EXPECT_EQ(w_.pointer.shape, PointerShape::kDefault);

  w_.paradox.SetCurrentIndex(0);  // current but not selected
  (void)DeleteParadoxTables(w_.window);
  EXPECT_EQ(w_.dialogs.shown.size(), 1u);
  EXPECT_EQ(Files(), (std::vector<std::string>{"KEEP.DB"}));
  EXPECT_EQ(w_.paradox.Count(), 1);
}

TEST_F(ParadoxMaintenanceTest, RenameMovesEveryFileKeepingExtensionSpellingAndContent) {
  Make({"ORDERS.DB", "ORDERS.mb", "ORDERS.PX", "ORDERS.X03", "ORDERS.Y03", "ORDERS.VAL", "ORDERS.F",
        "AAA.DB"});
  List({"AAA", "ORDERS"}, {"ORDERS"});
  w_.dialogs.prompt_answers = {"Invoices2024"};

  Outcome out = RenameParadoxTable(w_.window);

  EXPECT_EQ(out.failures, 0);
  auto files = Snapshot();
  for (const char* ext : {".DB", ".mb", ".PX", ".X03", ".Y03", ".VAL", ".F"}) {
    EXPECT_EQ(files.count(std::string("ORDERS") + ext), 0u) << ext;
    EXPECT_EQ(files[std::string("Invoices2024") + ext], std::string("content of ORDERS") + ext);
  }
  ASSERT_EQ(w_.dialogs.shown.size(), 1u);
  EXPECT_EQ(w_.dialogs.shown[0].kind, "prompt");
  EXPECT_EQ(w_.dialogs.shown[0].text, "Enter new name of ORDERS:");
  EXPECT_EQ(w_.paradox.Names(), (std::vector<std::string>{"AAA", "Invoices2024"}));
  // The first entry is current without being selected: one table per click.
  EXPECT_EQ(w_.paradox.CurrentIndex(), 0);
  EXPECT_EQ(w_.paradox.SelectedCount(), 0);
}

TEST_F(ParadoxMaintenanceTest, RenameOntoAnotherTableIsRefusedAndChangesNothing) {
  Make({"ORDERS.DB", "ORDERS.MB", "customer.db", "customer.mb", "LONELY.DB", "NEWBIE.PX"});
  List({"CUSTOMER", "LONELY", "ORDERS"}, {"ORDERS"});
  auto before = Snapshot();

  w_.dialogs.prompt_answers = {"Customer"};
  Outcome out = RenameParadoxTable(w_.window);
  EXPECT_EQ(out.failures, 1);
  ASSERT_EQ(w_.dialogs.Failures().size(), 1u);
  EXPECT_NE(w_.dialogs.Failures()[0].find("Cannot rename ORDERS to Customer"), std::string::npos);
  EXPECT_NE(w_.dialogs.Failures()[0].find("Form2.PushButton7_Click"), std::string::npos);

  // A stray index of that name is refused too: it would be taken for ours.
  w_.dialogs.prompt_answers = {"NEWBIE"};
  w_.paradox.SelectNames({"ORDERS"});
  EXPECT_EQ(RenameParadoxTable(w_.window).failures, 1);

  EXPECT_EQ(Snapshot(), before);
  EXPECT_EQ(w_.paradox.Names(), (std::vector<std::string>{"CUSTOMER", "LONELY", "ORDERS"}));
}

TEST_F(ParadoxMaintenanceTest, RenameToItsOwnNameKeepsTheFiles) {
  Make({"ORDERS.DB", "ORDERS.MB", "ZED.DB"});
  List({"ORDERS", "ZED"}, {"ZED"});
  auto before = Snapshot();
  w_.dialogs.prompt_answers = {"\x01"};  // the default answer, unchanged

  EXPECT_EQ(RenameParadoxTable(w_.window).failures, 0);

  EXPECT_EQ(Snapshot(), before);
  EXPECT_EQ(w_.paradox.Names(), (std::vector<std::string>{"ORDERS", "ZED"}));
  EXPECT_EQ(w_.paradox.CurrentIndex(), 0);
}

TEST_F(ParadoxMaintenanceTest, RenameChangingOnlyTheCaseRenamesTheFiles) {
  Make({"ORDERS.DB", "ORDERS.MB"});
  List({"ORDERS"}, {"ORDERS"});
  w_.dialogs.prompt_answers = {"orders"};

  EXPECT_EQ(RenameParadoxTable(w_.window).failures, 0);

  auto files = Snapshot();
  EXPECT_EQ(files["orders.DB"], "content of ORDERS.DB");
  EXPECT_EQ(files["orders.MB"], "content of ORDERS.MB");
  EXPECT_EQ(w_.paradox.Names(), (std::vector<std::string>{"orders"}));
}

TEST_F(ParadoxMaintenanceTest, RenameCancelledOrUnsafeChangesNothing) {
  Make({"ORDERS.DB", "ORDERS.MB"});
  fs::create_directory(dir_ / "sub");
  List({"ORDERS"}, {"ORDERS"});
  auto before = Snapshot();

  w_.dialogs.prompt_answers = {""};  // Cancel, or a cleared field
  EXPECT_EQ(RenameParadoxTable(w_.window).failures, 0);
  // A name that would move the table into another folder.
  w_.dialogs.prompt_answers = {"sub/ORDERS"};
  EXPECT_EQ(RenameParadoxTable(w_.window).failures, 1);

  EXPECT_EQ(Snapshot(), before);
  EXPECT_TRUE(fs::is_empty(dir_ / "sub"));
  EXPECT_EQ(w_.paradox.Names(), (std::vector<std::string>{"ORDERS"}));
  EXPECT_EQ(w_.paradox.SelectedCount(), 1);
}

TEST_F(ParadoxMaintenanceTest, RenameRefusedByTheFileSystemKeepsTheTable) {
  Make({"ORDERS.DB", "ORDERS.MB"});
  List({"ORDERS"}, {"ORDERS"});
  auto before = Snapshot();
  const std::string too_long(300, 'N');  // longer than a file name may be
  w_.dialogs.prompt_answers = {too_long};

  EXPECT_EQ(RenameParadoxTable(w_.window).failures, 1);

  EXPECT_EQ(Snapshot(), before);
  ASSERT_EQ(w_.dialogs.Failures().size(), 1u);
  EXPECT_NE(w_.dialogs.Failures()[0].find("Main.RenameFile"), std::string::npos);
  // The table kept its name, and so does its entry.
  EXPECT_EQ(w_.paradox.Names(), (std::vector<std::string>{"ORDERS"}));
}

TEST_F(ParadoxMaintenanceTest, RenameSelectionRules) {
  Make({"A.DB", "B.DB"});
  List({"A", "B"}, {});
  (void)RenameParadoxTable(w_.window);
  w_.paradox.SelectNames({"A", "B"});
  (void)RenameParadoxTable(w_.window);
  w_.paradox.SetSelected(0, false);
  w_.paradox.SetSelected(1, false);  // a current entry, nothing selected
  (void)RenameParadoxTable(w_.window);

  EXPECT_EQ(w_.Messages(), (std::vector<std::string>{"Please select a table to rename.",
                                                     "Please select just one table to rename.",
                                                     "Please select just one table to rename."}));
  EXPECT_EQ(w_.dialogs.pointers, std::vector<PointerShape>(3, PointerShape::kHourglass));
  EXPECT_EQ(w_.pointer.shape, PointerShape::kDefault);
  EXPECT_EQ(Files(), (std::vector<std::string>{"A.DB", "B.DB"}));
}

TEST_F(ParadoxMaintenanceTest, RenameOfATableOnlyInASubFolderReplacesTheEntryOnly) {
  fs::create_directory(dir_ / "sub");
  std::ofstream(dir_ / "sub" / "NESTED.DB") << "nested";
  List({"NESTED"}, {"NESTED"});
  w_.dialogs.prompt_answers = {"MOVED"};

  EXPECT_EQ(RenameParadoxTable(w_.window).failures, 0);

  EXPECT_TRUE(fs::exists(dir_ / "sub" / "NESTED.DB"));
  EXPECT_TRUE(Files().empty());
  EXPECT_EQ(w_.paradox.Names(), (std::vector<std::string>{"MOVED"}));
}

// Deleting and renaming many tables reads their folder once, not once per
// table: what the handlers change themselves is followed, not read again.
TEST_F(ParadoxMaintenanceTest, ManyTablesCostOneReadingOfTheFolder) {
  std::vector<std::string> names;
  for (int i = 0; i < 100; ++i) {
    names.push_back("T" + std::to_string(i));
    Make({names.back() + ".DB", names.back() + ".MB", names.back() + ".PX"});
  }
  const uint64_t before = paradox::FamilyFolderListings();
  List(names, std::vector<std::string>(names.begin() + 1, names.end()));
  (void)DeleteParadoxTables(w_.window);
  w_.paradox.SelectNames({"T0"});
  w_.dialogs.prompt_answers = {"KEPT"};
  EXPECT_EQ(RenameParadoxTable(w_.window).failures, 0);
  EXPECT_EQ(Files(), (std::vector<std::string>{"KEPT.DB", "KEPT.MB", "KEPT.PX"}));
  // One reading, or one per lookup where the file system cannot be followed.
  const uint64_t reads = paradox::FamilyFolderListings() - before;
  EXPECT_TRUE(reads == 1 || reads > 100) << reads;
}

// An entry listed from a sub-folder means that table: a table of the same
// name in the folder itself is another one, and neither delete nor rename
// touches it.
TEST_F(ParadoxMaintenanceTest, ASubFolderEntryLeavesItsNamesakeHereAlone) {
  Make({"TWIN.DB", "TWIN.MB"});
  w_.paradox.AddAll({{"TWIN", "sub"}});
  w_.paradox.SelectNames({"TWIN"});
  (void)DeleteParadoxTables(w_.window);
  EXPECT_EQ(Files(), (std::vector<std::string>{"TWIN.DB", "TWIN.MB"}));
  EXPECT_EQ(w_.paradox.Names(), (std::vector<std::string>{"TWIN"}));
  w_.dialogs.prompt_answers = {"MOVED"};
  EXPECT_EQ(RenameParadoxTable(w_.window).failures, 0);
  EXPECT_EQ(Files(), (std::vector<std::string>{"TWIN.DB", "TWIN.MB"}));
}

TEST_F(ParadoxMaintenanceTest, AFailedMoveMidwayPutsTheTableBackWhole) {
  Make({"ORDERS.DB", "ORDERS.MB", "ORDERS.PX", "NEW.PX"});
  auto before = Snapshot();

  // NEW.PX blocks the third move; the two before it go back.
  FamilyRename r = RenameTableFiles(dir_, "ORDERS", "NEW", w_.dialogs, w_.pump);

  EXPECT_TRUE(r.refused.ok());
  EXPECT_FALSE(r.renamed);
  EXPECT_EQ(r.failures, 1);
  ASSERT_EQ(w_.dialogs.Failures().size(), 1u);
  EXPECT_NE(w_.dialogs.Failures()[0].find("Main.RenameFile"), std::string::npos);
  EXPECT_EQ(Snapshot(), before);
}

// Two tables whose names differ only in case, and one another program has
// open: a click acts on exactly the table meant, and every refusal is shown
// and leaves the files and the entry as they were.
TEST_F(ParadoxMaintenanceTest, DeleteAndRenameTouchExactlyTheTableMeant) {
  struct Case {
    const char* entry;
    const char* rename_to;  // nullptr: delete
    std::vector<std::string> gone, added;
    const char* failure;  // text of the one failure dialog, or nullptr
  } cases[] = {
      {"ABC", nullptr, {"ABC.DB", "ABC.MB", "ABC.F"}, {}, nullptr},
      {"abc", nullptr, {"abc.db", "abc.mb"}, {}, nullptr},
      {"ABC", "NEWNAME", {"ABC.DB", "ABC.MB", "ABC.F"}, {"NEWNAME.DB", "NEWNAME.MB", "NEWNAME.F"},
       nullptr},
      {"Abc", nullptr, {}, {}, "matches more than one table"},
      {"Abc", "X", {}, {}, "matches more than one table"},
      {"OPEN", nullptr, {}, {}, "in use"},
      {"OPEN", "SHUT", {}, {}, "in use"},
  };
  for (const Case& c : cases) {
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    Make({"abc.db", "abc.mb", "ABC.DB", "ABC.MB", "ABC.F", "OPEN.DB", "OPEN.LCK", "PARADOX.LCK"});
    auto before = Snapshot();
    w_.paradox.Clear();
    w_.dialogs.shown.clear();
    List({c.entry, "OTHER"}, {c.entry});
    Outcome out;
    if (c.rename_to) {
      w_.dialogs.prompt_answers = {c.rename_to};
      out = RenameParadoxTable(w_.window);
    } else {
      out = DeleteParadoxTables(w_.window);
    }
    auto after = Snapshot();
    for (const std::string& f : c.gone) EXPECT_EQ(after.count(f), 0u) << c.entry << " " << f;
    for (const std::string& f : c.added) EXPECT_EQ(after.count(f), 1u) << c.entry << " " << f;
    EXPECT_EQ(after.size(), before.size() - c.gone.size() + c.added.size()) << c.entry;
    for (const auto& [name, content] : after) {
      if (before.count(name)) {
        EXPECT_EQ(content, before[name]) << name;
      }
    }
    const auto failures = w_.dialogs.Failures();
    EXPECT_EQ(out.failures, c.failure ? 1 : 0) << c.entry;
    ASSERT_EQ(failures.size(), c.failure ? 1u : 0u) << c.entry;
    if (c.failure) {
      EXPECT_NE(failures[0].find(c.failure), std::string::npos) << failures[0];
      EXPECT_NE(failures[0].find(c.entry), std::string::npos) << failures[0];
      EXPECT_EQ(w_.paradox.Names(), (std::vector<std::string>{c.entry, "OTHER"}));
    }
  }
}

}  // namespace
}  // namespace corvane::maintenance
