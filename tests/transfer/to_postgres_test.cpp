// The handler's visible behaviour: questions, lists, progress, pointer and
// failure dialogs, against the test PostgreSQL.
#include <cctype>
#include <string>
#include <vector>

extern "C" {
#include <paradox.h>
}

#include "paradox/table_writer.h"
#include "pxlib_table.h"
#include "transfer_fixture.h"
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

// Rows that cannot go where the name leads (a view the list does not show,
// too few columns) end with one dialog, not one per row.
TEST_F(SendToPostgresTest, RowsNoneOfWhichFitTheTargetEndWithOneDialog) {
  MakeNumbered("TOPG_VIEW", 5);
  (void)PgTry("DROP VIEW IF EXISTS \"TOPG_VIEW\"");
  Pg("CREATE VIEW \"TOPG_VIEW\" AS SELECT 1 AS x");
  SelectParadox({"TOPG_VIEW"});
  EXPECT_EQ(Send().failures, 2);
  const std::vector<std::string> failures = fake_.dialogs.Failures();
  ASSERT_EQ(failures.size(), 2u);
  EXPECT_NE(failures[0].find("already exists"), std::string::npos) << failures[0];
  EXPECT_NE(failures[1].find("stopped after row 1 of 5; 0 rows were stored."), std::string::npos)
      << failures[1];
  Pg("DROP VIEW \"TOPG_VIEW\"");
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
  for (const auto& e : std::filesystem::directory_iterator(folder_)) {
    if (e.path().extension() == ".mb") std::filesystem::remove(e.path());
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
    SideStatement side(fake_.progress, cs,
                       "ALTER TABLE \"TOPG_NEW\" ADD CHECK (\"V\" NOT LIKE 'x%')");
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

// The session cut mid-table ends that table with one dialog that counts the
// rows stored; the next table goes on a new connection. Both ways rows
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
  const int64_t stored = PgCount(lost);
  EXPECT_GT(stored, 0);
  EXPECT_LT(stored, 400);
  const std::vector<std::string> failures = fake_.dialogs.Failures();
  ASSERT_EQ(failures.size(), 1u);
  EXPECT_NE(failures[0].find(std::to_string(stored) + " rows were stored"), std::string::npos)
      << failures[0];
  const std::string next = std::to_string(stored + 1);
  EXPECT_EQ(fake_.FailureStatements(),
            std::vector<std::string>{"INSERT INTO \"" + lost + "\" VALUES('" + next +
                                     "', 'row" + next + "')"});
  EXPECT_EQ(PgCount(after), 30);
  EXPECT_EQ(fake_.postgres_list.Names(), (std::vector<std::string>{after, lost}));
}

INSTANTIATE_TEST_SUITE_P(InBulkAndRowByRow, LostConnectionTest, ::testing::Bool());

}  // namespace
}  // namespace corvane::testing
