// The handler's visible behaviour: questions, lists, progress, pointer and
// failure dialogs, against the test PostgreSQL.
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

extern "C" {
#include <paradox.h>
}

#include "catalog/paradox_catalog.h"
#include "paradox/table_writer.h"
#include "pxlib_table.h"
#include "transfer_fixture.h"
#include "base/stop_request.h"
#include "transfer/scratch_tables.h"
#include "ui/pump.h"

namespace corvane::testing {
namespace {

using ui::Answer;
using ui::PointerShape;

class SendToPostgresTest : public ToPostgresTest {
 protected:
  // A table ID (Long), NAME (Alpha) with rows 1..n named "row<i>".
  void MakeNumbered(const std::string& name, int n) {
    std::vector<PxRow> rows;
    for (int i = 1; i <= n; ++i) rows.push_back({PxInt(i), PxText("row" + std::to_string(i))});
    MakeTable(name, {{"ID", pxfLong, 4}, {"NAME", pxfAlpha, 20}}, rows);
  }
  void MakeTable(const std::string& name, const std::vector<PxField>& fields,
                 const std::vector<PxRow>& rows) {
    std::string err = MakePxTable((folder_ / (name + ".db")).string(), fields, rows);
    ASSERT_EQ(err, "");
  }
  int64_t PgCount(const std::string& table) {
    Rows r = PgRows("SELECT count(*) FROM \"" + table + "\"");
    return r.empty() ? -1 : std::stoll(r[0][0].text());
  }
};

TEST_F(SendToPostgresTest, NoCurrentEntryAsksForATableAndOpensNothing) {
  fake_.paradox_list.Add("ANY");
  fake_.settings.settings.server = "host.invalid";  // an attempt would fail loudly
  EXPECT_EQ(Send().failures, 0);
  ASSERT_EQ(fake_.dialogs.shown.size(), 1u);
  EXPECT_EQ(fake_.dialogs.shown[0].text, "Please select a table to send.");
  EXPECT_EQ(fake_.dialogs.shown[0].title, "");
  EXPECT_TRUE(fake_.pointer.history.empty());
}

TEST_F(SendToPostgresTest, CurrentEntryWithoutSelectionCopiesNothing) {
  MakeNumbered("TOPG_NOSEL", 2);
  fake_.paradox_list.Add("TOPG_NOSEL");
  fake_.paradox_list.SetCurrentIndex(0);
  EXPECT_EQ(Send().failures, 0);
  EXPECT_TRUE(fake_.dialogs.shown.empty());
  EXPECT_EQ(fake_.postgres_list.Count(), 0);
  EXPECT_FALSE(PgTry("SELECT 1 FROM \"TOPG_NOSEL\"").ok());
}

TEST_F(SendToPostgresTest, FourRowsMoveTheBarByQuartersThenReset) {
  MakeNumbered("TOPG_FOUR", 4);
  SelectParadox({"TOPG_FOUR"});
  EXPECT_EQ(Send().failures, 0);
  EXPECT_EQ(fake_.progress.values, (std::vector<double>{25, 50, 75, 100, 0}));
  EXPECT_EQ(fake_.progress.text, "Progress Bar");
  EXPECT_EQ(fake_.postgres_list.Names(), std::vector<std::string>{"TOPG_FOUR"});
  Rows rows = PgRows("SELECT \"ID\", \"NAME\" FROM \"TOPG_FOUR\"");
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[3][0].text(), "4");
  EXPECT_EQ(rows[3][1].text(), "row4");
  Rows types = PgRows(
      "SELECT data_type FROM information_schema.columns WHERE table_name = 'TOPG_FOUR' "
      "ORDER BY ordinal_position");
  ASSERT_EQ(types.size(), 2u);
  EXPECT_EQ(types[0][0].text(), "numeric");
  EXPECT_EQ(types[1][0].text(), "text");
  EXPECT_EQ(fake_.pointer.history,
            (std::vector<PointerShape>{PointerShape::kHourglass, PointerShape::kDefault,
                                       PointerShape::kDefault}));
}

TEST_F(SendToPostgresTest, EmptyTableIsCreatedWithoutRows) {
  MakeNumbered("TOPG_EMPTY", 0);
  SelectParadox({"TOPG_EMPTY"});
  EXPECT_EQ(Send().failures, 0);
  EXPECT_EQ(PgCount("TOPG_EMPTY"), 0);
  EXPECT_EQ(fake_.progress.values, std::vector<double>{0});
  EXPECT_EQ(fake_.postgres_list.Names(), std::vector<std::string>{"TOPG_EMPTY"});
}

TEST_F(SendToPostgresTest, SeveralTablesGoBottomUpAndAskInThatOrder) {
  for (const char* t : {"TOPG_A", "TOPG_B", "TOPG_C"}) MakeNumbered(t, 1);
  SelectParadox({"TOPG_A", "TOPG_B", "TOPG_C"});
  Pg("CREATE TABLE \"TOPG_A\"(x text)");
  Pg("CREATE TABLE \"TOPG_C\"(x text)");
  fake_.postgres_list.Add("TOPG_A");
  fake_.postgres_list.Add("TOPG_C");
  fake_.dialogs.answers = {Answer::kYes, Answer::kNo};
  EXPECT_EQ(Send().failures, 0);
  ASSERT_EQ(fake_.dialogs.shown.size(), 2u);
  EXPECT_EQ(fake_.dialogs.shown[0].text, "Would you like to overwrite TOPG_C?");
  EXPECT_EQ(fake_.dialogs.shown[0].title, "Overwrite?");
  EXPECT_EQ(fake_.dialogs.shown[1].text, "Would you like to overwrite TOPG_A?");
  EXPECT_EQ(PgCount("TOPG_C"), 1);  // replaced by the Paradox rows
  EXPECT_EQ(PgCount("TOPG_B"), 1);
  EXPECT_EQ(PgCount("TOPG_A"), 0);  // No: untouched
  EXPECT_EQ(fake_.postgres_list.Names(), (std::vector<std::string>{"TOPG_A", "TOPG_B", "TOPG_C"}));
  // Hourglass until the first table is done; later tables run without it.
  EXPECT_EQ(fake_.pointer.history.front(), PointerShape::kHourglass);
  EXPECT_EQ(std::count(fake_.pointer.history.begin(), fake_.pointer.history.end(),
                       PointerShape::kHourglass),
            1);
}

TEST_F(SendToPostgresTest, OverwriteTakesThePostgresSpelling) {
  MakeNumbered("TOPG_CUST", 3);
  (void)PgTry("DROP TABLE IF EXISTS \"Topg_Cust\"");
  Pg("CREATE TABLE \"Topg_Cust\"(old text)");
  Pg("INSERT INTO \"Topg_Cust\" VALUES ('old')");
  drop_after_.push_back("Topg_Cust");
  fake_.postgres_list.Add("Topg_Cust");
  SelectParadox({"TOPG_CUST"});
  fake_.dialogs.answers = {Answer::kYes};
  EXPECT_EQ(Send().failures, 0);
  EXPECT_EQ(fake_.dialogs.shown.at(0).text, "Would you like to overwrite Topg_Cust?");
  EXPECT_EQ(PgCount("Topg_Cust"), 3);
  EXPECT_FALSE(PgTry("SELECT 1 FROM \"TOPG_CUST\"").ok());
  EXPECT_EQ(fake_.postgres_list.Names(), std::vector<std::string>{"Topg_Cust"});
}

TEST_F(SendToPostgresTest, FailingDropStillTakesTheEntryAndSendsTheRows) {
  MakeNumbered("TOPG_GHOST", 2);
  fake_.postgres_list.Add("TOPG_GHOST");  // listed, but no such table
  SelectParadox({"TOPG_GHOST"});
  fake_.dialogs.answers = {Answer::kYes};
  EXPECT_EQ(Send().failures, 1);
  std::vector<std::string> failures = fake_.dialogs.Failures();
  ASSERT_EQ(failures.size(), 1u);
  EXPECT_NE(failures[0].find("Form2.PushButton4_Click at line "), std::string::npos);
  // Nothing was built yet: the tail is empty, the DROP is never shown.
  EXPECT_EQ(fake_.FailureStatements(), std::vector<std::string>{""});
  EXPECT_EQ(PgCount("TOPG_GHOST"), 2);
  EXPECT_EQ(fake_.postgres_list.Names(), std::vector<std::string>{"TOPG_GHOST"});
}

// Rows that cannot go where the name leads (a table the list does not show,
// with too few columns) end with one dialog, not one per row.
TEST_F(SendToPostgresTest, RowsNoneOfWhichFitTheTargetEndWithOneDialog) {
  MakeNumbered("TOPG_NARROW", 5);
  SelectParadox({"TOPG_NARROW"});
  Pg("CREATE TABLE \"TOPG_NARROW\"(x int)");
  EXPECT_EQ(Send().failures, 2);
  const std::vector<std::string> failures = fake_.dialogs.Failures();
  ASSERT_EQ(failures.size(), 2u);
  EXPECT_NE(failures[0].find("already exists"), std::string::npos) << failures[0];
  EXPECT_NE(failures[1].find("stopped after row 1 of 5; 0 rows were stored."), std::string::npos)
      << failures[1];
}

// A name that is a view (its rows would go into the view's own table) or
// anything else but a table is refused before a row is sent.
TEST_F(SendToPostgresTest, ANameThatIsNotATableIsRefusedWithNothingWritten) {
  MakeNumbered("TOPG_VIEW", 5);
  struct Case {
    const char* create;
    const char* kind;
  };
  std::vector<Case> cases = {
      {"CREATE VIEW \"TOPG_VIEW\" AS SELECT * FROM topg_view_base", "a view"},
      {"CREATE MATERIALIZED VIEW \"TOPG_VIEW\" AS SELECT * FROM topg_view_base",
       "a materialized view"},
      {"CREATE SEQUENCE \"TOPG_VIEW\"", "a sequence"},
  };
  // A foreign table needs a wrapper only a superuser may install.
  if (PgTry("CREATE EXTENSION IF NOT EXISTS file_fdw").ok() &&
      PgTry("CREATE SERVER IF NOT EXISTS topg_files FOREIGN DATA WRAPPER file_fdw").ok()) {
    cases.push_back({"CREATE FOREIGN TABLE \"TOPG_VIEW\"(\"ID\" integer, \"NAME\" text) SERVER "
                     "topg_files OPTIONS (filename '/dev/null')",
                     "a foreign table"});
  }
  for (const auto& c : cases) {
    SCOPED_TRACE(c.kind);
    (void)PgTry("DROP VIEW IF EXISTS \"TOPG_VIEW\"");
    (void)PgTry("DROP MATERIALIZED VIEW IF EXISTS \"TOPG_VIEW\"");
    (void)PgTry("DROP SEQUENCE IF EXISTS \"TOPG_VIEW\"");
    (void)PgTry("DROP FOREIGN TABLE IF EXISTS \"TOPG_VIEW\"");
    (void)PgTry("DROP TABLE IF EXISTS topg_view_base");
    Pg("CREATE TABLE topg_view_base(\"ID\" integer, \"NAME\" text)");
    Pg(c.create);
    fake_.dialogs.shown.clear();
    fake_.postgres_list.Clear();
    fake_.paradox_list.Clear();
    SelectParadox({"TOPG_VIEW"});  // its DROP TABLE leaves the others be
    EXPECT_EQ(Send().failures, 1);
    const std::vector<std::string> failures = fake_.dialogs.Failures();
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_NE(failures[0].find(std::string("TOPG_VIEW is ") + c.kind + ", not a table"),
              std::string::npos)
        << failures[0];
    EXPECT_EQ(PgCount("topg_view_base"), 0);
    EXPECT_EQ(fake_.postgres_list.Count(), 0);
  }
  (void)PgTry("DROP SEQUENCE IF EXISTS \"TOPG_VIEW\"");
  (void)PgTry("DROP FOREIGN TABLE IF EXISTS \"TOPG_VIEW\"");
  (void)PgTry("DROP TABLE topg_view_base");
}

// Without a PostgreSQL connection nothing is tried: one dialog, not one
// per statement.
TEST_F(SendToPostgresTest, AnUnopenedConnectionIsOneFailure) {
  MakeNumbered("TOPG_NOPG", 2);
  SelectParadox({"TOPG_NOPG"});
  fake_.settings.settings.password = "not the password";
  EXPECT_EQ(Send().failures, 1);
  std::vector<std::string> failures = fake_.dialogs.Failures();
  ASSERT_EQ(failures.size(), 1u);
  EXPECT_NE(failures[0].find(" at line 122\r\r"), std::string::npos) << failures[0];
  EXPECT_EQ(fake_.postgres_list.Count(), 0);
  EXPECT_EQ(fake_.pointer.Get(), PointerShape::kDefault);
}

TEST_F(SendToPostgresTest, TableOnlyInASubFolderFailsToOpenAndIsNotListed) {
  std::filesystem::create_directory(folder_ / "sub");
  ASSERT_EQ(
      MakePxTable((folder_ / "sub" / "TOPG_SUB.db").string(), {{"ID", pxfLong, 4}}, {{PxInt(1)}}),
      "");
  SelectParadox({"TOPG_SUB"});
  EXPECT_EQ(Send().failures, 1);
  EXPECT_FALSE(PgTry("SELECT 1 FROM \"TOPG_SUB\"").ok());
  EXPECT_EQ(fake_.postgres_list.Count(), 0);
  EXPECT_EQ(fake_.progress.values, std::vector<double>{0});
}

// The list's entry is the table copied: a sub-folder's table goes over the
// PostgreSQL table of its name, not its namesake in the folder itself; an
// entry whose file has gone fails before anything is dropped.
// topg_spell.db (ours, with a memo) and TOPG_SPELL.DB (pxlib) in one folder,
// both selected in the window: each is read from its own files, the second
// sent under the next free name, and the user told so.
TEST_F(SendToPostgresTest, SpellingsOfOneFolderNameAreEachSentFromTheirOwnFiles) {
  auto w = paradox::TableWriter::Create(
      (folder_ / "topg_spell.db").string(),
      {{"ID", paradox::FieldType::kLong, 4, 0}, {"NAME", paradox::FieldType::kMemo, 11, 0}});
  ASSERT_TRUE(w.ok()) << w.status().message();
  ASSERT_TRUE((*w)->Append({{false, "7"}, {false, std::string(300, 'm')}}).ok());
  ASSERT_TRUE((*w)->Finish(paradox::TableWriter::Replace::kNever).ok());
  MakeNumbered("TOPG_SPELL", 2);  // after ours, which would not write beside a namesake
  for (const std::string t : {"TOPG_SPELL", "TOPG_SPELL_2"}) {
    (void)PgTry("DROP TABLE IF EXISTS \"" + t + "\"");
    drop_after_.push_back(t);
  }
  ASSERT_TRUE(catalog::ListParadoxTables(folder_.string(), fake_.paradox_list, fake_.counting_pump,
                                         fake_.dialogs).ok());
  ui::SelectAll(fake_.paradox_list);
  EXPECT_EQ(Send().failures, 0) << ::testing::PrintToString(fake_.dialogs.Failures());
  EXPECT_EQ(PgRows("SELECT string_agg(\"ID\" || \"NAME\", ',' ORDER BY \"ID\") FROM "
                   "\"TOPG_SPELL\"")[0][0].text(),
            "1row1,2row2");
  EXPECT_EQ(PgRows("SELECT \"ID\" || ':' || length(\"NAME\") FROM \"TOPG_SPELL_2\"")[0][0].text(),
            "7:300");
  bool told = false;
  for (const auto& shown : fake_.dialogs.shown) {
    told |= shown.text.find("TOPG_SPELL.db and topg_spell.db in " + folder_.string() +
                            " are both listed as TOPG_SPELL; TOPG_SPELL.db is sent as TOPG_SPELL, "
                            "topg_spell.db as TOPG_SPELL_2.") != std::string::npos;
  }
  EXPECT_TRUE(told);
  EXPECT_TRUE(ui::ListContains(fake_.postgres_list, "TOPG_SPELL_2"));
}

TEST_F(SendToPostgresTest, ASubFolderEntryCopiesFromThereAndAMissingSourceDropsNothing) {
  MakeNumbered("TOPG_TWIN", 2);
  std::filesystem::create_directories(folder_ / "sub" / "deep");
  std::vector<PxRow> five;
  for (int i = 1; i <= 5; ++i) five.push_back({PxInt(i)});
  ASSERT_EQ(MakePxTable((folder_ / "sub" / "deep" / "TOPG_TWIN.db").string(), {{"ID", pxfLong, 4}}, five), "");
  ASSERT_EQ(MakePxTable((folder_ / "sub" / "TOPG_GONE.db").string(), {{"ID", pxfLong, 4}}, five), "");
  for (const std::string t : {"TOPG_TWIN", "TOPG_GONE"}) {
    (void)PgTry("DROP TABLE IF EXISTS \"" + t + "\"");
    Pg("CREATE TABLE \"" + t + "\"(old text)");
    Pg("INSERT INTO \"" + t + "\" VALUES ('old')");
    drop_after_.push_back(t);
    fake_.postgres_list.Add(t);
  }
  ASSERT_TRUE(catalog::ListParadoxTables(folder_.string(), fake_.paradox_list, fake_.counting_pump,
                                         fake_.dialogs).ok());
  std::vector<std::string> places;
  for (int i = 0; i < fake_.paradox_list.Count(); ++i) {
    places.push_back(fake_.paradox_list.Text(i) + "@" + fake_.paradox_list.Folder(i));
    if (!fake_.paradox_list.Folder(i).empty()) fake_.paradox_list.SetSelected(i, true);
  }
  ASSERT_EQ(places, (std::vector<std::string>{"TOPG_GONE@sub", "TOPG_TWIN@", "TOPG_TWIN@sub/deep"}));
  fake_.paradox_list.SetCurrentIndex(2);
  std::filesystem::remove(folder_ / "sub" / "TOPG_GONE.db");
  fake_.dialogs.answers = {Answer::kYes, Answer::kYes};

  EXPECT_EQ(Send().failures, 1);
  EXPECT_EQ(PgCount("TOPG_TWIN"), 5);
  EXPECT_EQ(PgRows("SELECT old FROM \"TOPG_GONE\"").at(0).at(0).text(), "old");
  EXPECT_TRUE(ui::ListContains(fake_.postgres_list, "TOPG_GONE"));
  EXPECT_EQ(fake_.dialogs.Failures().size(), 1u);
  EXPECT_NE(fake_.dialogs.Failures()[0].find("TOPG_GONE"), std::string::npos);
  // Only the table that could be read was asked about.
  EXPECT_EQ(fake_.dialogs.answers.size(), 1u);
}

// Rows whose memo cannot be read (its .mb is gone) are reported in their
// place, one dialog each, and not sent as rows of nulls; the rest arrive.
TEST_F(SendToPostgresTest, UnreadableRowsAreReportedNotSentAsNulls) {
  using paradox::FieldType;
  const std::vector<paradox::FieldInfo> fields = {{"ID", FieldType::kLong, 4, 0},
                                                  {"MEMO", FieldType::kMemo, 11, 0}};
  auto writer = paradox::TableWriter::Create((folder_ / "TOPG_MB.db").string(), fields);
  ASSERT_TRUE(writer.ok()) << writer.status().message();
  for (int i = 0; i < 6; ++i) {
    const bool long_memo = i == 1 || i == 4;
    ASSERT_TRUE((*writer)
                    ->Append({{false, std::to_string(i)},
                              {!long_memo, long_memo ? std::string(200, 'm') : ""}})
                    .ok());
  }
  ASSERT_TRUE((*writer)->Finish(paradox::TableWriter::Replace::kNever).ok());
  // The .mb keeps its header block only: the two long memos are lost.
  for (const auto& e : std::filesystem::directory_iterator(folder_)) {
    if (e.path().extension() == ".mb") std::filesystem::resize_file(e.path(), 4096);
  }
  SelectParadox({"TOPG_MB"});
  EXPECT_EQ(Send().failures, 2);
  Rows stored = PgRows("SELECT \"ID\" FROM \"TOPG_MB\"");
  ASSERT_EQ(stored.size(), 4u);
  EXPECT_EQ(stored[1][0].text(), "2");
  EXPECT_EQ(stored[3][0].text(), "5");
  // Each dialog comes where the row is, after the row before it was sent.
  EXPECT_EQ(fake_.FailureStatements(),
            (std::vector<std::string>{"INSERT INTO \"TOPG_MB\" VALUES('0', NULL)",
                                      "INSERT INTO \"TOPG_MB\" VALUES('3', NULL)"}));
  EXPECT_EQ(fake_.progress.values.size(), 7u);
  EXPECT_EQ(fake_.postgres_list.Names(), std::vector<std::string>{"TOPG_MB"});
}

// A table whose .mb is missing fails once, naming it, and stores nothing;
// asked to, the rows go with the memos kept there as NULL, and the outcome
// counts them.
TEST_F(SendToPostgresTest, AMissingMbFailsTheTableOnceOrGivesNullsWhenAsked) {
  using paradox::FieldType;
  const std::vector<paradox::FieldInfo> fields = {{"ID", FieldType::kLong, 4, 0},
                                                  {"MEMO", FieldType::kMemo, 20, 0}};
  auto writer = paradox::TableWriter::Create((folder_ / "TOPG_NOMB.db").string(), fields);
  ASSERT_TRUE(writer.ok()) << writer.status().message();
  for (int i = 0; i < 20; ++i) {
    const std::string memo = i % 5 == 1 ? std::string(200, 'm') : "short";
    ASSERT_TRUE((*writer)->Append({{false, std::to_string(i)}, {false, memo}}).ok());
  }
  ASSERT_TRUE((*writer)->Finish(paradox::TableWriter::Replace::kNever).ok());
  std::filesystem::remove(folder_ / "TOPG_NOMB.mb");

  SelectParadox({"TOPG_NOMB"});
  EXPECT_EQ(Send().failures, 1);
  const std::vector<std::string> failures = fake_.dialogs.Failures();
  ASSERT_EQ(failures.size(), 1u);
  EXPECT_NE(failures[0].find((folder_ / "TOPG_NOMB.mb").string() + " is missing"),
            std::string::npos)
      << failures[0];
  EXPECT_FALSE(PgTry("SELECT 1 FROM \"TOPG_NOMB\"").ok()) << "no table, no rows";

  fake_.dialogs.shown.clear();
  fake_.paradox_list.Clear();
  SelectParadox({"TOPG_NOMB"});
  transfer::ToPostgresOptions as_null;
  as_null.missing_memos_as_null = true;
  const transfer::TransferOutcome outcome = Send(as_null);
  EXPECT_EQ(outcome.failures, 0) << ::testing::PrintToString(fake_.dialogs.Failures());
  EXPECT_EQ(outcome.values_made_null,
            (std::vector<std::pair<std::string, int64_t>>{{"TOPG_NOMB", 4}}));
  Rows stored = PgRows("SELECT count(*), count(\"MEMO\") FROM \"TOPG_NOMB\"");
  EXPECT_EQ(stored[0][0].text(), "20");
  EXPECT_EQ(stored[0][1].text(), "16");
}

// Whether this process holds `path` open.
bool HeldOpen(const std::filesystem::path& path) {
  std::error_code ec;
  for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd", ec)) {
    if (std::filesystem::read_symlink(fd.path(), ec) == path) return true;
  }
  return false;
}

// Renames the files of a new version of a table over the old ones at the
// first pump once the reader holds them open: before the copy reads its
// second row.
class ReplacingPump : public ui::EventPump {
 public:
  ReplacingPump(std::function<bool()> created, std::function<void()> replace)
      : created_(std::move(created)), replace_(std::move(replace)) {}
  void Pump() override {
    if (!done_ && created_()) {
      replace_();
      done_ = true;
    }
  }
  bool done_ = false;

 private:
  std::function<bool()> created_;
  std::function<void()> replace_;
};

TEST_F(SendToPostgresTest, ATableReplacedWhileReadFailsOnceAndStoresNothingOfTheNewVersion) {
  using paradox::FieldType;
  const std::vector<paradox::FieldInfo> fields = {{"ID", FieldType::kLong, 4, 0},
                                                  {"MEMO", FieldType::kMemo, 11, 0}};
  const std::filesystem::path other = folder_ / "next";
  std::filesystem::create_directories(other);
  // The first row has no memo; every other row's lives in the .mb.
  for (const auto& [dir, base] : {std::pair{folder_, 0}, std::pair{other, 1000}}) {
    auto w = paradox::TableWriter::Create((dir / "TOPG_TORN.db").string(), fields);
    ASSERT_TRUE(w.ok()) << w.status().message();
    for (int i = 1; i <= 50; ++i) {
      const std::string memo = i == 1 ? "" : std::string(300, base == 0 ? 'o' : 'n');
      ASSERT_TRUE((*w)->Append({{false, std::to_string(base + i)}, {i == 1, memo}}).ok());
    }
    ASSERT_TRUE((*w)->Finish(paradox::TableWriter::Replace::kNever).ok());
  }
  const std::filesystem::path mb = std::filesystem::canonical(folder_ / "TOPG_TORN.mb");
  ReplacingPump pump(
      [&] { return HeldOpen(mb); },
      [&] {
        for (const char* ext : {".db", ".mb"}) {
          std::filesystem::rename(other / (std::string("TOPG_TORN") + ext),
                                  folder_ / (std::string("TOPG_TORN") + ext));
        }
      });
  SelectParadox({"TOPG_TORN"});
  ui::TablesWindow window = fake_.Window(&pump);
  EXPECT_EQ(transfer::SendTablesToPostgres(window).failures, 1);
  ASSERT_TRUE(pump.done_);
  const std::vector<std::string> failures = fake_.dialogs.Failures();
  ASSERT_EQ(failures.size(), 1u);
  EXPECT_NE(failures[0].find("was replaced or removed by another program"), std::string::npos)
      << failures[0];
  // A table that fails is not put in place at all; if one is there, it
  // holds nothing of the new version.
  if (PgRows("SELECT count(*) FROM pg_class WHERE relname = 'TOPG_TORN'")[0][0].text() == "0") return;
  Rows mixed = PgRows("SELECT count(*) FROM \"TOPG_TORN\" WHERE \"ID\" > 1000 OR \"MEMO\" "
                      "LIKE 'n%'");
  EXPECT_EQ(mixed[0][0].text(), "0");
}

// The window's pump is served while rows flow, but not once per row.
TEST_F(SendToPostgresTest, ThePumpIsServedButNotPerRow) {
  MakeNumbered("TOPG_PUMP", 3000);
  SelectParadox({"TOPG_PUMP"});
  // Wired as the window wires its pump.
  ui::ThrottledPump window_pump(fake_.counting_pump);
  ui::TablesWindow window = fake_.Window(&window_pump);
  EXPECT_EQ(transfer::SendTablesToPostgres(window).failures, 0);
  EXPECT_EQ(PgCount("TOPG_PUMP"), 3000);
  EXPECT_GE(fake_.counting_pump.count, 1);
  EXPECT_LT(fake_.counting_pump.count, 3000);
}

// An existing table of the same name (not listed) makes the CREATE fail;
// rows its NUMERIC column refuses fail one by one, the others are added.
// Batches of 1 are the reference: larger batches must look the same.
class FailingRowsTest : public SendToPostgresTest {
 protected:
  struct Run {
    std::vector<std::string> dialogs;
    std::vector<double> progress;
    Rows stored;
    transfer::TableReport report;
  };
  Run SendWithBatch(size_t batch_rows) {
    fake_.dialogs.shown.clear();
    fake_.progress.values.clear();
    fake_.postgres_list.Clear();
    fake_.paradox_list.Clear();
    (void)PgTry("DROP TABLE IF EXISTS \"TOPG_BAD\"");
    Pg("CREATE TABLE \"TOPG_BAD\"(\"V\" NUMERIC)");
    fake_.paradox_list.Add("TOPG_BAD");
    fake_.paradox_list.SelectNames({"TOPG_BAD"});
    transfer::ToPostgresOptions options;
    options.batch_rows = batch_rows;
    transfer::TransferOutcome outcome = Send(options);
    EXPECT_EQ(outcome.tables.size(), 1u);
    return {fake_.dialogs.Failures(), fake_.progress.values,
            PgRows("SELECT \"V\" FROM \"TOPG_BAD\""),
            outcome.tables.empty() ? transfer::TableReport() : outcome.tables[0]};
  }
};

TEST_F(FailingRowsTest, BatchingIsInvisible) {
  drop_after_.push_back("TOPG_BAD");
  // With batches of 5: failures at the start, middle and end of batches.
  const std::vector<int> bad = {0, 2, 4, 5, 9, 12, 14};
  std::vector<PxRow> rows;
  for (int i = 0; i < 15; ++i) {
    bool is_bad = std::find(bad.begin(), bad.end(), i) != bad.end();
    rows.push_back({PxText(is_bad ? "x'" + std::to_string(i) : std::to_string(i))});
  }
  MakeTable("TOPG_BAD", {{"V", pxfAlpha, 10}}, rows);

  Run reference = SendWithBatch(1);
  // One dialog for the CREATE, then one per refused row with its INSERT.
  ASSERT_EQ(reference.dialogs.size(), 1 + bad.size());
  std::vector<std::string> statements = fake_.FailureStatements();
  EXPECT_EQ(statements[0], "CREATE TABLE \"TOPG_BAD\"(\"V\" TEXT);");
  EXPECT_EQ(statements[1], "INSERT INTO \"TOPG_BAD\" VALUES('x''0')");
  EXPECT_EQ(statements[7], "INSERT INTO \"TOPG_BAD\" VALUES('x''14')");
  EXPECT_EQ(reference.stored.size(), 15 - bad.size());
  // The report: what the server holds, and each refused row by its number
  // with its value; the CREATE that failed fails the table.
  const transfer::TableReport& r = reference.report;
  EXPECT_EQ(r.outcome, transfer::TableOutcome::kFailed);
  EXPECT_NE(r.why.find("TOPG_BAD"), std::string::npos) << r.why;
  EXPECT_EQ(r.rows_total, 15);
  EXPECT_EQ(r.rows_read, 15);
  EXPECT_EQ(r.rows_stored, static_cast<int64_t>(reference.stored.size()));
  ASSERT_EQ(r.refused.size(), bad.size());
  for (size_t k = 0; k < bad.size(); ++k) {
    EXPECT_EQ(r.refused[k].row, bad[k] + 1);
    EXPECT_EQ(r.refused[k].values,
              (std::vector<std::optional<std::string>>{"x'" + std::to_string(bad[k])}));
    EXPECT_NE(r.refused[k].reason.find("numeric"), std::string::npos) << r.refused[k].reason;
  }

  for (size_t batch : {5u, 1000u}) {
    SCOPED_TRACE(batch);
    Run batched = SendWithBatch(batch);
    EXPECT_EQ(batched.dialogs, reference.dialogs);
    EXPECT_EQ(batched.progress, reference.progress);
    EXPECT_EQ(batched.stored, reference.stored);
    EXPECT_EQ(batched.report.rows_stored, reference.report.rows_stored);
    EXPECT_EQ(batched.report.refused.size(), reference.report.refused.size());
  }
}

// Runs one statement on the side when the bar first moves: lets a test
// change the table the handler has just created.
class SideStatement : public ui::ProgressBar {
 public:
  SideStatement(ui::MemoryProgressBar& progress, std::string connection_string, std::string sql)
      : progress_(progress),
        connection_string_(std::move(connection_string)),
        sql_(std::move(sql)) {}
  void SetText(const std::string& text) override { progress_.SetText(text); }
  void SetValue(double percent) override {
    progress_.SetValue(percent);
    if (done_ || percent == 0) return;
    done_ = true;
    Connection c;
    ASSERT_TRUE(c.Open(connection_string_).ok());
    Status s = c.Execute(sql_).status();
    EXPECT_TRUE(s.ok()) << s.message();
  }

 private:
  ui::MemoryProgressBar& progress_;
  std::string connection_string_;
  std::string sql_;
  bool done_ = false;
};

// The bulk path (COPY): rows a constraint (added once rows flow) refuses
// replay on their own, in order, before any later row is stored.
TEST_F(SendToPostgresTest, BatchingIsInvisibleInATableItCreated) {
  const std::vector<int> bad = {5, 7, 9, 10, 14, 19, 23};
  std::vector<PxRow> rows;
  for (int i = 0; i < 25; ++i) {
    bool is_bad = std::find(bad.begin(), bad.end(), i) != bad.end();
    rows.push_back({PxText((is_bad ? "x" : "v") + std::to_string(i))});
  }
  MakeTable("TOPG_NEW", {{"V", pxfAlpha, 10}}, rows);
  const std::string cs = PostgresConnectionString(fake_.settings.settings);
  struct Run {
    std::vector<std::string> dialogs;
    std::vector<double> progress;
    Rows stored;
    transfer::TableReport report;
  };
  auto run = [&](size_t batch) {
    fake_.dialogs.shown.clear();
    fake_.progress.values.clear();
    fake_.paradox_list.Clear();
    fake_.postgres_list.Clear();
    SelectParadox({"TOPG_NEW"});
    // The rows go into a scratch table until they are all in.
    SideStatement side(fake_.progress, cs,
                       "DO $$BEGIN EXECUTE (SELECT format('ALTER TABLE %I ADD CHECK "
                       "(\"V\" NOT LIKE ''x%%'')', relname) FROM pg_class WHERE relname LIKE "
                       "'corvane~%~TOPG_NEW'); END$$");
    transfer::ToPostgresOptions options;
    options.batch_rows = batch;
    options.copy_rows = batch;
    transfer::TransferOutcome outcome = Send(options, &side);
    EXPECT_EQ(outcome.tables.size(), 1u);
    return Run{fake_.dialogs.Failures(), fake_.progress.values,
               PgRows("SELECT \"V\" FROM \"TOPG_NEW\""),
               outcome.tables.empty() ? transfer::TableReport() : outcome.tables[0]};
  };
  Run reference = run(1);
  ASSERT_EQ(reference.dialogs.size(), bad.size());
  ASSERT_EQ(reference.stored.size(), 25 - bad.size());
  EXPECT_EQ(fake_.FailureStatements()[0], "INSERT INTO \"TOPG_NEW\" VALUES('x5')");
  // Refused rows do not fail the table; the report holds what the server does.
  auto refused_rows = [](const transfer::TableReport& r) {
    std::vector<int64_t> numbers;
    for (const transfer::RefusedRow& x : r.refused) numbers.push_back(x.row);
    return numbers;
  };
  EXPECT_EQ(reference.report.outcome, transfer::TableOutcome::kCopied) << reference.report.why;
  EXPECT_EQ(reference.report.rows_stored, static_cast<int64_t>(reference.stored.size()));
  EXPECT_EQ(refused_rows(reference.report),
            (std::vector<int64_t>{6, 8, 10, 11, 15, 20, 24}));
  for (size_t batch : {3u, 5u}) {
    SCOPED_TRACE(batch);
    Run batched = run(batch);
    EXPECT_EQ(batched.dialogs, reference.dialogs);
    EXPECT_EQ(batched.progress, reference.progress);
    EXPECT_EQ(batched.stored, reference.stored);  // same rows in the same order
    EXPECT_EQ(refused_rows(batched.report), refused_rows(reference.report));
    EXPECT_EQ(batched.report.rows_stored, reference.report.rows_stored);
  }
}

// Cuts the handler's PostgreSQL session once the bar passes 30%.
class ConnectionKiller : public ui::ProgressBar {
 public:
  ConnectionKiller(ui::MemoryProgressBar& progress, std::string connection_string,
                   std::string table)
      : progress_(progress),
        connection_string_(std::move(connection_string)),
        table_(std::move(table)) {}
  void SetText(const std::string& text) override { progress_.SetText(text); }
  void SetValue(double percent) override {
    progress_.SetValue(percent);
    if (done_ || percent < 30) return;
    done_ = true;
    Connection c;
    if (!c.Open(connection_string_).ok()) return;
    // The session that holds the copy's advisory lock on the table's name,
    // waited for until it is gone, so the handler meets a dead session
    // however busy the machine is.
    (void)c.Execute(
        "SELECT pg_terminate_backend(pid, 10000) FROM pg_locks WHERE locktype = 'advisory' AND "
        "database = (SELECT oid FROM pg_database WHERE datname = current_database()) AND "
        "objid::bigint = (hashtext('" + table_ + "')::bigint & 4294967295)");
  }
  bool done_ = false;

 private:
  ui::MemoryProgressBar& progress_;
  std::string connection_string_, table_;
};

// The session cut mid-table ends that table with one dialog, and no part
// of the table is left; the next table goes on a new connection. Both ways rows
// travel: COPY, and single INSERTs (tables of their own, as the two run at
// the same time).
class LostConnectionTest : public SendToPostgresTest,
                           public ::testing::WithParamInterface<bool> {};

TEST_P(LostConnectionTest, EndsTheTableWithOneDialog) {
  const std::string lost = GetParam() ? "TOPG_LOST_R" : "TOPG_LOST_B";
  const std::string after = GetParam() ? "TOPG_AFTER_R" : "TOPG_AFTER_B";
  MakeNumbered(lost, 400);
  MakeNumbered(after, 30);
  drop_after_ = {lost, after};
  (void)PgTry("DROP TABLE IF EXISTS \"" + after + "\"");
  (void)PgTry("DROP TABLE IF EXISTS \"" + lost + "\"");
  SelectParadox({after, lost});
  std::string key = lost;
  for (char& ch : key) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  ConnectionKiller killer(fake_.progress, PostgresConnectionString(fake_.settings.settings), key);
  transfer::ToPostgresOptions options;
  options.batch_rows = 50;
  options.copy_rows = 50;
  options.multi_row = GetParam();
  EXPECT_EQ(Send(options, &killer).failures, 1);
  ASSERT_TRUE(killer.done_);
  EXPECT_FALSE(PgTry("SELECT 1 FROM \"" + lost + "\"").ok());
  const std::vector<std::string> failures = fake_.dialogs.Failures();
  ASSERT_EQ(failures.size(), 1u);
  const std::string said = "no row was stored, and no table " + lost + " was made.";
  EXPECT_NE(failures[0].find(said), std::string::npos) << failures[0];
  // The row that met the loss is the one the dialog quotes.
  const size_t at = failures[0].find("stopped after row ");
  ASSERT_NE(at, std::string::npos);
  const int reached = std::atoi(failures[0].c_str() + at + 18);
  EXPECT_GT(reached, 0);
  EXPECT_LT(reached, 400);
  const std::string next = std::to_string(reached);
  EXPECT_EQ(fake_.FailureStatements(),
            std::vector<std::string>{"INSERT INTO \"" + lost + "\" VALUES('" + next +
                                     "', 'row" + next + "')"});
  EXPECT_EQ(PgCount(after), 30);
  EXPECT_EQ(fake_.postgres_list.Names(), std::vector<std::string>{after});
}

INSTANTIATE_TEST_SUITE_P(InBulkAndRowByRow, LostConnectionTest, ::testing::Bool());

// Scratch names fit PostgreSQL's 63 bytes and name their owner; the names
// given to a key and a sequence made on one are those the server gives a
// table made under its own name, long and multi-byte names too.
TEST_F(SendToPostgresTest, ScratchAndDerivedNamesAreThoseTheServerUses) {
  std::string long_name;  // 62 bytes, two to a character
  for (int i = 0; i < 31; ++i) long_name += "\xC3\xA9";
  const struct {
    std::string table, column;
  } cases[] = {{"Topg_Plain", "Id"}, {long_name, "Id"}, {"Topg_Short", long_name}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.table);
    const std::string scratch = transfer::ScratchTableName(4194304, c.table);
    EXPECT_LE(scratch.size(), 63u);
    EXPECT_EQ(transfer::ScratchTableOwner(scratch), 4194304);
    // The server keeps it as it is (not cut, not refused as broken UTF-8);
    // unseen by other sessions, whose copies would clear it.
    Connection pg;
    ASSERT_TRUE(pg.Open(PostgresConnectionString(fake_.settings.settings)).ok());
    ASSERT_TRUE(pg.Execute("BEGIN").ok());
    ASSERT_TRUE(pg.Execute("CREATE TABLE \"" + scratch + "\"()").ok());
    auto named = pg.Execute("SELECT relname::text FROM pg_class WHERE relname LIKE 'corvane~4194304~%'");
    ASSERT_TRUE(named.ok() && !named.value()->Eof());
    EXPECT_EQ(named.value()->FieldValue(0).text(), scratch);
    named.value()->Close();
    (void)pg.Execute("ROLLBACK");
    (void)PgTry("DROP TABLE IF EXISTS \"" + c.table + "\"");
    Pg("CREATE TABLE \"" + c.table + "\"(\"" + c.column +
       "\" integer GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY)");
    drop_after_.push_back(c.table);
    const std::string regclass = "'\"" + c.table + "\"'::regclass";
    Rows given = PgRows("SELECT conname::text, (SELECT relname::text FROM pg_class WHERE oid = "
                        "pg_get_serial_sequence('\"" + c.table + "\"', '" + c.column +
                        "')::regclass) FROM pg_constraint WHERE contype = 'p' AND conrelid = " +
                        regclass);
    ASSERT_EQ(given.size(), 1u);
    EXPECT_EQ(given[0][0].text(), transfer::PostgresDerivedName(c.table, "", "pkey"));
    EXPECT_EQ(given[0][1].text(), transfer::PostgresDerivedName(c.table, c.column, "seq"));
  }
  for (const char* other : {"corvane~~T", "corvane~12", "corvane~x~T", "T~corvane~1~T"}) {
    EXPECT_EQ(transfer::ScratchTableOwner(other), 0) << other;
  }
}

// Asks the handler to stop (as closing the window does) once the bar
// passes 30%.
class StopAt30 : public ui::ProgressBar {
 public:
  explicit StopAt30(ui::MemoryProgressBar& progress) : progress_(progress) {}
  void SetText(const std::string& text) override { progress_.SetText(text); }
  void SetValue(double percent) override {
    progress_.SetValue(percent);
    if (percent >= 30) RequestStop();
  }

 private:
  ui::MemoryProgressBar& progress_;
};

// A copy stopped midway leaves the table it was to replace as it was, or
// no table where there was none, and no scratch table; nothing more is
// copied and no failure is claimed.
TEST_F(SendToPostgresTest, AStoppedCopyLeavesTheOldTableOrNone) {
  MakeNumbered("TOPG_STOP", 400);
  for (const bool overwrite : {false, true}) {
    SCOPED_TRACE(overwrite ? "overwrite" : "new table");
    fake_.paradox_list.Clear();
    fake_.postgres_list.Clear();
    SelectParadox({"TOPG_STOP"});
    if (overwrite) {
      Pg("CREATE TABLE \"TOPG_STOP\" AS SELECT 1 AS old");
      fake_.postgres_list.Add("TOPG_STOP");
      fake_.dialogs.answers = {Answer::kYes};
    }
    StopAt30 stopper(fake_.progress);
    transfer::ToPostgresOptions options;
    options.batch_rows = options.copy_rows = 50;
    EXPECT_EQ(Send(options, &stopper).failures, 0);
    ClearStopRequest();
    if (overwrite) {
      EXPECT_EQ(PgCount("TOPG_STOP"), 1);
    } else {
      EXPECT_FALSE(PgTry("SELECT 1 FROM \"TOPG_STOP\"").ok());
    }
    EXPECT_EQ(fake_.postgres_list.Count(), overwrite ? 1 : 0);
    EXPECT_TRUE(PgRows("SELECT 1 FROM pg_class WHERE relname LIKE 'corvane~%~TOPG_STOP'").empty());
  }
}

}  // namespace
}  // namespace corvane::testing
