// The "Send Table/s To Paradox" handler: questions, names, replacing,
// failures with their line numbers, progress, pointer and the list refill.
#include <sqlite3.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "to_paradox_fixture.h"

namespace corvane::testing {
namespace {

namespace fs = std::filesystem;
using Cells = std::vector<std::optional<std::string>>;

// Line numbers of the failure dialogs shown, in order.
std::vector<int> FailureLines(const ui::ScriptedDialogs& dialogs) {
  std::vector<int> lines;
  for (const std::string& text : dialogs.Failures()) {
    const size_t at = text.find(" at line ");
    lines.push_back(at == std::string::npos ? -1 : std::stoi(text.substr(at + 9)));
  }
  return lines;
}

std::vector<std::string> StagingTables(const fs::path& db_path) {
  sqlite3* db = nullptr;
  sqlite3_open(db_path.c_str(), &db);
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db, "SELECT name FROM sqlite_schema WHERE type = 'table'", -1, &st, nullptr);
  std::vector<std::string> names;
  while (st && sqlite3_step(st) == SQLITE_ROW) {
    names.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
  }
  sqlite3_finalize(st);
  sqlite3_close(db);
  return names;
}

class ToParadoxHandlerTest : public ToParadoxTest {
 protected:
  Cells Column0(const std::string& file) {
    const ReadTable t = ReadOurs((folder_ / file).string());
    EXPECT_TRUE(t.error.empty()) << t.error;
    Cells out;
    for (const auto& row : t.rows) out.push_back(row.at(0));
    return out;
  }
  std::vector<std::string> Questions() const {
    std::vector<std::string> out;
    for (const auto& s : fake_.dialogs.shown) {
      if (s.kind == "question") out.push_back(s.title + ": " + s.text);
    }
    return out;
  }
};

TEST_F(ToParadoxHandlerTest, WithoutACurrentEntryOnlyAsksForOne) {
  fake_.postgres_list.Add("t");
  SendToParadox();
  ASSERT_EQ(fake_.dialogs.shown.size(), 1u);
  EXPECT_EQ(fake_.dialogs.shown[0].text, "Please select a table to send.");
  EXPECT_EQ(fake_.dialogs.shown[0].title, "");
  EXPECT_TRUE(fake_.pointer.history.empty());
  EXPECT_TRUE(TableFilesInFolder().empty());
}

TEST_F(ToParadoxHandlerTest, NamesOverEightUnitsAreCutAfterAskingCaseKept) {
  MakePgTable("txabcdef", "a int4", {"1"});
  MakePgTable("txcustomers", "a int4", {"2"});
  SelectPostgres({"txabcdef", "txcustomers"});
  EXPECT_EQ(SendToParadox().failures, 0) << FirstFailure();
  EXPECT_EQ(Questions(), (std::vector<std::string>{
                             "Continue?: TXCUSTOMERS is more than 8 characters. It will be "
                             "trimmed into TXCUSTOM. Continue?"}));
  EXPECT_EQ(TableFilesInFolder(), (std::vector<std::string>{"txabcdef.db", "txcustom.db"}));
  EXPECT_EQ(Column0("txcustom.db"), Cells{"2"});
  // Refilled once from the folder, as the catalog names tables.
  EXPECT_EQ(fake_.paradox_list.Names(), (std::vector<std::string>{"TXABCDEF", "TXCUSTOM"}));
}

TEST_F(ToParadoxHandlerTest, FieldNamesParadoxCannotHoldRefuseTheTableOrAreMadeValid) {
  MakePgTable("txfields",
              "\"ok\" int4, \"[x]\" int4, \"a->b\" int4, \"#\" int4, \" lead\" int4, \"" +
                  std::string(40, 'c') + "\" int4",
              {"1, 2, 3, 4, 5, 6"});
  SelectPostgres({"txfields"});
  const transfer::TransferOutcome refused = SendToParadox();
  EXPECT_EQ(refused.failures, 1);
  EXPECT_NE(FirstFailure().find("Column \"[x]\" of table txfields cannot be a Paradox field "
                                "name: a Paradox field name cannot hold [ ] { } ( or ). Nothing "
                                "was written."),
            std::string::npos)
      << FirstFailure();
  EXPECT_TRUE(TableFilesInFolder().empty());

  fake_.dialogs.shown.clear();
  fake_.postgres_list.Clear();
  SelectPostgres({"txfields"});
  ui::TablesWindow window = fake_.Window();
  window.program_folder = program_.string();
  transfer::ToParadoxOptions trim;
  trim.trim_field_names = true;
  EXPECT_EQ(transfer::SendTablesToParadoxWith(window, trim).failures, 0) << FirstFailure();
  const ReadTable made = ReadPxlib((folder_ / "txfields.db").string());
  ASSERT_EQ(made.error, "");
  std::vector<std::string> names;
  for (const auto& f : made.fields) names.push_back(f.name);
  EXPECT_EQ(names, (std::vector<std::string>{"ok", "_x_", "a_b", "No", "lead",
                                             std::string(25, 'c')}));
  ASSERT_EQ(made.rows.size(), 1u);
  EXPECT_EQ(made.rows[0][5], "6");
  int told = 0;
  for (const auto& shown : fake_.dialogs.shown) {
    told += shown.kind == "message" && shown.text.find("is written as the Paradox field") !=
                                           std::string::npos;
  }
  EXPECT_EQ(told, 5);
}

TEST_F(ToParadoxHandlerTest, NoToEitherQuestionSkipsOnlyThatTable) {
  MakePgTable("txlongnm1", "a int4", {"1"});
  MakePgTable("tx_kept", "a int4", {"2"});
  MakePgTable("tx_short", "a int4", {"3"});
  std::ofstream(folder_ / "TX_KEPT.DB") << "the user's table";
  fake_.paradox_list.Add("TX_KEPT");
  SelectPostgres({"tx_kept", "txlongnm1", "tx_short"});
  fake_.dialogs.answers = {ui::Answer::kNo, ui::Answer::kNo};
  EXPECT_EQ(SendToParadox().failures, 0) << FirstFailure();
  EXPECT_EQ(Questions(),
            (std::vector<std::string>{"Continue?: TXLONGNM1 is more than 8 characters. It will "
                                      "be trimmed into TXLONGNM. Continue?",
                                      "Overwrite?: Would you like to overwrite tx_kept?"}));
  EXPECT_EQ(TableFilesInFolder(), (std::vector<std::string>{"TX_KEPT.DB", "tx_short.db"}));
  std::stringstream kept;
  kept << std::ifstream(folder_ / "TX_KEPT.DB").rdbuf();
  EXPECT_EQ(kept.str(), "the user's table");
}

TEST_F(ToParadoxHandlerTest, YesToOverwriteReplacesTheTableWithItsCompanions) {
  MakePgTable("tx_old", "a text", {"'new'"});
  SelectPostgres({"tx_old"});
  ASSERT_EQ(SendToParadox().failures, 0);
  fs::rename(folder_ / "tx_old.db", folder_ / "TX_OLD.DB");
  std::ofstream(folder_ / "TX_OLD.PX") << "stale index";
  Pg("UPDATE tx_old SET a = 'newer'");
  EXPECT_EQ(SendToParadox().failures, 0) << FirstFailure();
  EXPECT_EQ(Questions(),
            std::vector<std::string>{"Overwrite?: Would you like to overwrite tx_old?"});
  EXPECT_EQ(TableFilesInFolder(), std::vector<std::string>{"tx_old.db"});
  EXPECT_EQ(Column0("tx_old.db"), Cells{"newer"});
}

TEST_F(ToParadoxHandlerTest, ANameListedOnlyFromASubFolderIsAskedThenWrittenBeside) {
  fs::create_directories(folder_ / "sub");
  std::ofstream(folder_ / "sub" / "TX_SUBT.DB") << "a table of the sub-folder";
  fake_.paradox_list.Add("TX_SUBT");
  MakePgTable("tx_subt", "a int4", {"5"});
  SelectPostgres({"tx_subt"});
  EXPECT_EQ(SendToParadox().failures, 1);
  EXPECT_EQ(Questions(),
            std::vector<std::string>{"Overwrite?: Would you like to overwrite tx_subt?"});
  EXPECT_EQ(FailureLines(fake_.dialogs), std::vector<int>{160});
  EXPECT_EQ(Column0("tx_subt.db"), Cells{"5"});
  std::stringstream kept;
  kept << std::ifstream(folder_ / "sub" / "TX_SUBT.DB").rdbuf();
  EXPECT_EQ(kept.str(), "a table of the sub-folder");
}

TEST_F(ToParadoxHandlerTest, TwoTablesCutToOneNameAreBothRefusedBeforeAnythingIsWritten) {
  MakePgTable("txcusts_1", "a int4", {"1"});
  MakePgTable("txcusts_2", "a int4", {"2"});
  SelectPostgres({"txcusts_1", "txcusts_2"});
  EXPECT_EQ(SendToParadox().failures, 1);
  EXPECT_EQ(FailureLines(fake_.dialogs), std::vector<int>{126});
  EXPECT_NE(FirstFailure().find("txcusts_2 and txcusts_1 would both be written as the Paradox "
                                "table txcusts_"),
            std::string::npos)
      << FirstFailure();
  EXPECT_TRUE(TableFilesInFolder().empty());
  EXPECT_TRUE(StagingTables(program_ / "dbtemp.mdb").empty());
}

TEST_F(ToParadoxHandlerTest, ALeftoverStagingTableIsDroppedFirst) {
  {
    Connection staging;
    ASSERT_TRUE(staging.Open(StagingConnectionString((program_ / "dbtemp.mdb").string())).ok());
    ASSERT_TRUE(staging.Execute("CREATE TABLE `TX_LEFT`(`zzz` VARCHAR)").ok());
    ASSERT_TRUE(staging.Execute("INSERT INTO `TX_LEFT` VALUES('stale')").ok());
  }
  MakePgTable("tx_left", "a text", {"'fresh'"});
  SelectPostgres({"tx_left"});
  EXPECT_EQ(SendToParadox().failures, 0) << FirstFailure();
  const ReadTable t = ReadOurs((folder_ / "tx_left.db").string());
  ASSERT_EQ(t.fields.size(), 1u);
  EXPECT_EQ(t.fields[0].name, "a");
  EXPECT_EQ(t.rows, std::vector<Cells>{{"fresh"}});
  EXPECT_TRUE(StagingTables(program_ / "dbtemp.mdb").empty());
}

// A caller that keeps the Paradox list itself gets the tables written
// added to it, sorted in; the folder is not read again, so an entry it no
// longer holds stays, and a table that failed is not added.
TEST_F(ToParadoxHandlerTest, WithoutTheRefillTheTablesWrittenJoinTheList) {
  // Names of its own: tests beside it use tx_ tables of one database.
  MakePgTable("tj_one", "a int4", {"1"});
  MakePgTable("tj_two", "a int4", {"2"});
  MakePgTable("tj_case", "\"a\" int4, \"A\" int4", {"1, 2"});  // refused by the staging table
  SelectPostgres({"tj_two", "tj_case", "tj_one"});
  fake_.paradox_list.Add("ZZ_GONE");
  ui::TablesWindow window = fake_.Window();
  window.program_folder = program_.string();
  transfer::ToParadoxOptions options;
  options.refill_paradox_list = false;
  EXPECT_GT(transfer::SendTablesToParadoxWith(window, options).failures, 0);
  std::vector<std::string> listed;
  for (int i = 0; i < fake_.paradox_list.Count(); ++i) listed.push_back(fake_.paradox_list.Text(i));
  EXPECT_EQ(listed, (std::vector<std::string>{"TJ_ONE", "TJ_TWO", "ZZ_GONE"}));
  EXPECT_EQ(TableFilesInFolder(), (std::vector<std::string>{"tj_one.db", "tj_two.db"}));
}

TEST_F(ToParadoxHandlerTest, AMissingStagingDatabaseEndsEachTableWithOneRowDialog) {
  fs::remove(program_ / "dbtemp.mdb");
  MakePgTable("tx_two", "a int4", {"1", "2", "3"});
  MakePgTable("tx_one", "a int4", {"7"});
  SelectPostgres({"tx_two", "tx_one"});
  EXPECT_EQ(SendToParadox().failures, 13);
  // The open fails once; then per table the steps on it, and its rows end
  // with one dialog saying how far they got instead of one per row.
  EXPECT_EQ(FailureLines(fake_.dialogs), (std::vector<int>{112, 182, 184, 188, 200, 218, 220, 182,
                                                           184, 188, 200, 218, 220}));
  const auto statements = fake_.FailureStatements();
  EXPECT_EQ(statements[0], "");
  EXPECT_EQ(statements[3], "CREATE TABLE `tx_two`(`a` INT);");
  EXPECT_EQ(statements[4], "INSERT INTO `tx_two` VALUES('1')");
  EXPECT_EQ(statements[6], statements[4]);  // the statement built last, also after the rows
  EXPECT_EQ(statements[10], "INSERT INTO `tx_one` VALUES('7')");
  EXPECT_NE(fake_.dialogs.Failures()[4].find("broke off after 1 of 3 rows"), std::string::npos);
  EXPECT_NE(FirstFailure().find("dbtemp.mdb"), std::string::npos) << FirstFailure();
  EXPECT_FALSE(fs::exists(program_ / "dbtemp.mdb"));
  EXPECT_TRUE(TableFilesInFolder().empty());
}

// Columns whose names differ only in case: the staging table is refused,
// and its rows end with one dialog instead of one per row.
TEST_F(ToParadoxHandlerTest, ARefusedStagingTableEndsItsRowsWithOneDialog) {
  MakePgTable("tx_case", "\"a\" int4, \"A\" int4", {"1, 2", "3, 4", "5, 6"});
  SelectPostgres({"tx_case"});
  EXPECT_EQ(SendToParadox().failures, 2);
  EXPECT_EQ(FailureLines(fake_.dialogs), (std::vector<int>{188, 200}));
  EXPECT_NE(fake_.dialogs.Failures()[1].find("broke off after 1 of 3 rows"), std::string::npos)
      << fake_.dialogs.Failures()[1];
  EXPECT_TRUE(TableFilesInFolder().empty());
}

TEST_F(ToParadoxHandlerTest, ProgressPerRowAndPointerAfterEveryTable) {
  MakePgTable("tx_four", "a int4", {"1", "2", "3", "4"});
  MakePgTable("tx_none", "a int4");
  SelectPostgres({"tx_four", "tx_none"});
  EXPECT_EQ(SendToParadox().failures, 0) << FirstFailure();
  EXPECT_EQ(fake_.progress.values, (std::vector<double>{0, 25, 50, 75, 100, 0}));
  EXPECT_EQ(fake_.progress.text, "Progress Bar");
  using P = ui::PointerShape;
  EXPECT_EQ(fake_.pointer.history,
            (std::vector<P>{P::kHourglass, P::kDefault, P::kDefault, P::kDefault}));
  EXPECT_EQ(Column0("tx_four.db"), (Cells{"1", "2", "3", "4"}));
  EXPECT_TRUE(Column0("tx_none.db").empty());
}

// The export of a table of thousands of rows moves the bar under its
// "Writing" line, upwards, then clears it; what is written stays the rows.
TEST_F(ToParadoxHandlerTest, TheExportMovesTheBar) {
  struct Seen : ui::ProgressBar {
    void SetValue(double percent) override { values.emplace_back(text, percent); }
    void SetText(const std::string& t) override { text = t; }
    std::string text;
    std::vector<std::pair<std::string, double>> values;
  } bar;
  const int kRows = 3000;
  MakePgTable("tx_many", "a int4, b text");
  Pg("INSERT INTO tx_many SELECT g, 'r' || g FROM generate_series(0, " + std::to_string(kRows - 1) +
     ") g");
  SelectPostgres({"tx_many"});
  ui::TablesWindow window = fake_.Window(nullptr, &bar);
  window.program_folder = program_.string();
  EXPECT_EQ(transfer::SendTablesToParadox(window).failures, 0) << FirstFailure();
  EXPECT_TRUE(fake_.dialogs.shown.empty());
  const std::string writing = "Writing tx_many.db to the Paradox folder...";
  std::vector<double> export_values;
  for (const auto& [text, value] : bar.values) {
    if (text == writing) export_values.push_back(value);
  }
  ASSERT_GE(export_values.size(), 4u);
  EXPECT_EQ(export_values.back(), 0);  // cleared, not left standing
  export_values.pop_back();
  EXPECT_EQ(std::adjacent_find(export_values.begin(), export_values.end(), std::greater_equal<>()),
            export_values.end());  // each one higher than the one before
  EXPECT_GT(export_values.front(), 0);
  EXPECT_LE(export_values.back(), 100);
  EXPECT_EQ(bar.text, "Progress Bar");
  const ReadTable made = ReadPxlib((folder_ / "tx_many.db").string());
  ASSERT_EQ(made.error, "");
  ASSERT_EQ(made.rows.size(), static_cast<size_t>(kRows));
  for (int i : {0, kRows / 2, kRows - 1}) {
    EXPECT_EQ(made.rows[i][0], std::to_string(i));
    EXPECT_EQ(made.rows[i][1], "r" + std::to_string(i));
  }
}

TEST_F(ToParadoxHandlerTest, AMissingSourceTableFailsEachStepThatNeedsIt) {
  SelectPostgres({"tx_ghost"});
  EXPECT_EQ(SendToParadox().failures, 6);
  EXPECT_EQ(FailureLines(fake_.dialogs), (std::vector<int>{168, 172, 188, 190, 212, 214}));
  EXPECT_EQ(fake_.FailureStatements()[2], "CREATE TABLE `tx_ghost`);");
  EXPECT_TRUE(TableFilesInFolder().empty());
}

}  // namespace
}  // namespace corvane::testing
