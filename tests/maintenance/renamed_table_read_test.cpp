// A table with memos, written by our writer, renamed and read back: the
// memo file must follow the table file, or every long memo is lost.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "maintenance/maintenance.h"
#include "paradox/companion_files.h"
#include "paradox/read_all.h"
#include "paradox/table_writer.h"
#include "window_fixture.h"
#include "support/temp_folder.h"

namespace corvane::maintenance {
namespace {

namespace fs = std::filesystem;
using paradox::Cell;
using paradox::FieldInfo;
using paradox::FieldType;
using paradox::testing::Row;

Cell Text(std::string s) { return Cell{false, std::move(s)}; }

TEST(RenamedTableReadTest, MemosSurviveARenameAndTheOldNameIsGone) {
  corvane::testing::TempFolder temp("corvane_maint_memo");
  const fs::path& dir = temp.path();
  const std::vector<FieldInfo> fields = {{"Id", FieldType::kLong, 4, 0},
                                         {"Note", FieldType::kMemo, 20, 0}};
  // Memos longer than the leader live in the .mb; one spans several blocks.
  const std::vector<std::string> notes = {"short", std::string(3000, 'a') + "end",
                                          std::string(20000, 'z') + "tail"};
  {
    auto writer = paradox::TableWriter::Create((dir / "NOTES.DB").string(), fields);
    ASSERT_TRUE(writer.ok()) << writer.status().message();
    for (size_t i = 0; i < notes.size(); ++i) {
      ASSERT_TRUE((*writer)->Append({Text(std::to_string(i + 1)), Text(notes[i])}).ok());
    }
    ASSERT_TRUE((*writer)->Finish(paradox::TableWriter::Replace::kNever).ok());
  }
  ASSERT_FALSE(paradox::CompanionFiles(dir, "NOTES").empty());

  testing::FakeTablesWindow w;
  w.settings.settings.paradox_folder = dir.string();
  testing::FakeTablesWindow::Fill(w.paradox, {"NOTES"});
  w.paradox.SelectNames({"NOTES"});
  w.dialogs.prompt_answers = {"Memos"};
  ASSERT_EQ(RenameParadoxTable(w.window).failures, 0);

  EXPECT_TRUE(paradox::TableFiles(dir, "NOTES").empty());
  std::vector<fs::path> renamed = paradox::TableFiles(dir, "Memos");
  ASSERT_FALSE(renamed.empty());
  auto rows = paradox::testing::ReadAll(renamed.front().string());
  ASSERT_TRUE(rows.ok()) << rows.status().message();
  ASSERT_EQ(rows->size(), notes.size());
  for (size_t i = 0; i < notes.size(); ++i) {
    EXPECT_EQ((*rows)[i], (Row{std::to_string(i + 1), notes[i]})) << "row " << i;
  }
}

}  // namespace
}  // namespace corvane::maintenance
