// Setting a table aside while it is replaced: nothing of it may be lost,
// whichever way the replacement ends.
#include "paradox/table_set_aside.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

#include "paradox/companion_files.h"
#include "paradox/temp_file.h"
#include "support/temp_folder.h"

namespace corvane::paradox {
namespace {

namespace fs = std::filesystem;

class TableSetAsideTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // A table with memo, index and validity files, and neighbours that are
    // not part of it.
    for (const char* f : {"CUST.DB", "CUST.MB", "CUST.PX", "CUST.X02", "CUST.VAL", "CUST.FRM",
                          "CUSTOMER.DB", "other.db"}) {
      Write(f, std::string("contents of ") + f);
    }
  }
  void Write(const std::string& name, const std::string& text) {
    std::ofstream(dir_ / name, std::ios::binary) << text;
  }
  std::string Read(const std::string& name) {
    std::stringstream s;
    s << std::ifstream(dir_ / name, std::ios::binary).rdbuf();
    return s.str();
  }
  std::vector<std::string> Folder() {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }
  // Every file is back under its name with its bytes.
  void ExpectAsBefore() {
    EXPECT_EQ(Folder(),
              (std::vector<std::string>{"CUST.DB", "CUST.FRM", "CUST.MB", "CUST.PX", "CUST.VAL",
                                        "CUST.X02", "CUSTOMER.DB", "other.db"}));
    for (const char* f : {"CUST.DB", "CUST.MB", "CUST.PX", "CUST.X02", "CUST.VAL"}) {
      EXPECT_EQ(Read(f), std::string("contents of ") + f);
    }
  }
  corvane::testing::TempFolder temp_{"corvane_aside"};
  fs::path dir_ = temp_.path();
};

TEST_F(TableSetAsideTest, MovesTheWholeFamilyToHiddenNamesNoListingTakesForATable) {
  auto aside = TableSetAside::Create(dir_, "cust");
  ASSERT_TRUE(aside.ok()) << aside.status().message();
  EXPECT_EQ((*aside)->files().size(), 5u);
  EXPECT_TRUE(TableFiles(dir_, "cust").empty());
  for (const auto& m : (*aside)->files()) {
    const std::string hidden = m.hidden.filename();
    EXPECT_EQ(hidden.rfind(".corvane-old-", 0), 0u) << hidden;
    EXPECT_TRUE(hidden.ends_with(m.original.filename().string() + ".aside")) << hidden;
    EXPECT_FALSE(IsTableFamilyExtension(m.hidden.extension().string()));
    EXPECT_EQ(m.hidden.parent_path(), dir_);
  }
  // The neighbours did not move.
  EXPECT_EQ(Read("CUST.FRM"), "contents of CUST.FRM");
  EXPECT_EQ(Read("CUSTOMER.DB"), "contents of CUSTOMER.DB");
  ASSERT_TRUE((*aside)->Restore().ok());
  ExpectAsBefore();
}

TEST_F(TableSetAsideTest, DiscardDeletesOnlyTheHiddenFilesAndDestructionRestores) {
  {
    auto aside = TableSetAside::Create(dir_, "Cust");
    ASSERT_TRUE(aside.ok());
  }  // never resolved: the table comes back
  ExpectAsBefore();
  auto aside = TableSetAside::Create(dir_, "CUST");
  ASSERT_TRUE(aside.ok());
  Write("cust.db", "the new table");
  ASSERT_TRUE((*aside)->Discard().ok());
  aside->reset();
  EXPECT_EQ(Folder(), (std::vector<std::string>{"CUST.FRM", "CUSTOMER.DB", "cust.db", "other.db"}));
  EXPECT_EQ(Read("cust.db"), "the new table");
}

TEST_F(TableSetAsideTest, RestoreNeverReplacesAFileThatTookTheName) {
  auto aside = TableSetAside::Create(dir_, "CUST");
  ASSERT_TRUE(aside.ok());
  Write("CUST.MB", "someone else's memo file");
  Status restored = (*aside)->Restore();
  EXPECT_FALSE(restored.ok());
  EXPECT_NE(restored.message().find("CUST.MB"), std::string::npos) << restored.message();
  EXPECT_NE(restored.message().find(".corvane-old-"), std::string::npos) << restored.message();
  EXPECT_EQ(Read("CUST.MB"), "someone else's memo file");
  EXPECT_EQ(Read("CUST.DB"), "contents of CUST.DB");
  // The old memo file is still there, under its hidden name.
  const fs::path kept = (*aside)->files().at(1).hidden;
  EXPECT_EQ(Read(kept.filename()), "contents of CUST.MB");
}

TEST_F(TableSetAsideTest, AMissingTableOrCaseTwinsAreHandledAsTheDropDoes) {
  auto none = TableSetAside::Create(dir_, "nosuch");
  ASSERT_FALSE(none.ok());
  EXPECT_EQ(none.status().code(), Status::Code::kNotFound);
  EXPECT_NE(none.status().message().find("nosuch"), std::string::npos);
  // Two table files that differ only in case: only the one the name picks
  // moves; the companions they share stay.
  Write("cust.db", "a twin");
  auto aside = TableSetAside::Create(dir_, "cust");
  ASSERT_TRUE(aside.ok());
  ASSERT_EQ((*aside)->files().size(), 1u);
  EXPECT_EQ((*aside)->files()[0].original.filename(), "cust.db");
  EXPECT_EQ(Read("CUST.DB"), "contents of CUST.DB");
  ASSERT_TRUE((*aside)->Restore().ok());
  EXPECT_EQ(Read("cust.db"), "a twin");
}

// A process that died with the table set aside, in a child so its locks die
// with it.
void SetAsideAndDie(const fs::path& dir) {
  const pid_t child = ::fork();
  if (child == 0) {
    auto aside = TableSetAside::Create(dir, "cust");
    ::_exit(aside.ok() ? 0 : 1);  // no destructor: nothing is put back
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST_F(TableSetAsideTest, RecoveryPutsBackOrClearsOnlyWhatTheDeadLeft) {
  {
    auto live = TableSetAside::Create(dir_, "cust");  // still at work
    ASSERT_TRUE(live.ok());
    auto scratch = TempFile::Create(dir_ / "new.db");  // being written
    ASSERT_TRUE(scratch.ok());
    ASSERT_TRUE((*scratch)->WriteAt(0, "x", 1).ok());
    Write(".corvane-Ab12Zz", "left by a writer that died");
    Write(".corvane-Em9ty0", "");  // died before writing: no lock, so no live work
    Write(".corvane-Ab12Z", "not one of our names");
    EXPECT_TRUE(RecoverInterruptedWrites(dir_).ok());
    EXPECT_TRUE(fs::exists((*scratch)->path()));
    EXPECT_FALSE(fs::exists(dir_ / ".corvane-Ab12Zz"));
    EXPECT_FALSE(fs::exists(dir_ / ".corvane-Em9ty0"));
    EXPECT_TRUE(fs::exists(dir_ / ".corvane-Ab12Z"));
    fs::remove(dir_ / ".corvane-Ab12Z");
    EXPECT_FALSE(FindTableFile(dir_, "cust").has_value());  // the live one was left alone
  }
  ExpectAsBefore();

  SetAsideAndDie(dir_);
  Write("CUST.MB", "memo of a replacement that never got its table file");
  EXPECT_TRUE(RecoverInterruptedWrites(dir_).ok());
  ExpectAsBefore();  // the name was free: the old table is back, its own memo with it

  SetAsideAndDie(dir_);
  Write("Cust.db", "the replacement");
  EXPECT_TRUE(RecoverInterruptedWrites(dir_).ok());
  EXPECT_EQ(Folder(), (std::vector<std::string>{"CUST.FRM", "CUSTOMER.DB", "Cust.db", "other.db"}));
}

// A writer that dies after publishing a new table's memo file, before (or
// after) its table file: the memo of a table that never came goes too.
void PublishAndDie(const fs::path& dir, const std::string& table, bool with_table_file) {
  const pid_t child = ::fork();
  if (child == 0) {
    auto mb = TempFile::Create(dir / (table + ".MB"));
    auto db = TempFile::Create(dir / (table + ".DB"));
    if (!mb.ok() || !db.ok() || !(*mb)->WriteAt(0, "memo", 4).ok() ||
        !(*db)->WriteAt(0, "table", 5).ok()) {
      ::_exit(1);
    }
    auto record = RecordCompanions(dir / (table + ".DB"), {{mb->get(), dir / (table + ".MB")}});
    if (!record.ok() || !(*mb)->Publish(dir / (table + ".MB"), false).ok()) ::_exit(1);
    if (with_table_file && !(*db)->Publish(dir / (table + ".DB"), false).ok()) ::_exit(1);
    ::_exit(0);  // no destructor: the record stays behind, unlocked
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

// A rename of CUST's files to NEWC killed after its first file.
void RenameFirstAndDie(const fs::path& dir) {
  const pid_t child = ::fork();
  if (child == 0) {
    auto record = RecordRenames(dir, {{"CUST.DB", "NEWC.DB"}, {"CUST.MB", "NEWC.MB"}});
    if (!record.ok() || ::rename((dir / "CUST.DB").c_str(), (dir / "NEWC.DB").c_str()) != 0)
      ::_exit(1);
    ::_exit(0);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST_F(TableSetAsideTest, RecoveryUndoesARenameCutShort) {
  RenameFirstAndDie(dir_);
  ASSERT_TRUE(fs::exists(dir_ / "NEWC.DB"));
  EXPECT_TRUE(RecoverInterruptedWrites(dir_).ok());
  ExpectAsBefore();
}

TEST_F(TableSetAsideTest, RecoveryRemovesTheCompanionsOfANewTableThatNeverCame) {
  PublishAndDie(dir_, "NEW", false);
  PublishAndDie(dir_, "DONE", true);
  Write("LONE.MB", "a memo file nobody recorded");
  ASSERT_TRUE(fs::exists(dir_ / "NEW.MB"));
  EXPECT_TRUE(RecoverInterruptedWrites(dir_).ok());
  EXPECT_EQ(Folder(), (std::vector<std::string>{"CUST.DB", "CUST.FRM", "CUST.MB", "CUST.PX",
                                                "CUST.VAL", "CUST.X02", "CUSTOMER.DB", "DONE.DB",
                                                "DONE.MB", "LONE.MB", "other.db"}));
}

}  // namespace
}  // namespace corvane::paradox
