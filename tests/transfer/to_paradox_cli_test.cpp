// corvane-cli to-paradox end to end: the real binary, the test server, and
// the test's own program folder (CORVANE_PROGRAM_DIR) for dbtemp.mdb.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "paradox/table_reader.h"
#include "support/folder_bytes.h"
#include "support/scoped_env.h"
#include "support/temp_folder.h"
#include "to_paradox_fixture.h"

namespace corvane::testing {
namespace {

class ToParadoxCliTest : public ToParadoxTest {
 protected:
  // Exit status and everything printed; stdin is no terminal, so questions
  // without an option are answered No.
  std::pair<int, std::string> Cli(const std::string& args) {
    const char* bin = std::getenv("CORVANE_PROGRAM_DIR");
    const ConnectionSettings& s = fake_.settings.settings;
    const std::string cmd = "CORVANE_PROGRAM_DIR='" + program_.string() + "' " +
                            std::string(bin ? bin : "bin") + "/corvane-cli to-paradox --paradox '" +
                            folder_.string() + "' --server " + s.server + " --port " + s.port +
                            " --user " + s.user + " --password '" + s.password + "' --database " +
                            s.database + " " + args + " </dev/null 2>&1";
    return ShellOutput(cmd);
  }
  std::string FileText(const std::string& name) {
    std::stringstream s;
    s << std::ifstream(folder_ / name, std::ios::binary).rdbuf();
    return s.str();
  }
};

TEST_F(ToParadoxCliTest, OptionsAnswerTheQuestionsAndTheExitStatusTellsFailures) {
  MakePgTable("tx_cli_customers", "id int4, name text", {"1, 'Zoë'", "2, NULL"});
  EXPECT_EQ(Cli("--overwrite --skip-existing tx_cli_customers").first, 2);
  EXPECT_EQ(Cli("--all tx_cli_customers").first, 2);
  EXPECT_EQ(Cli("--jobs 0 tx_cli_customers").first, 2);
  EXPECT_EQ(Cli("--report '" + (program_ / "none" / "r.json").string() + "' tx_cli_customers").first,
            2);
  auto [status, out] = Cli("no_such_table");
  EXPECT_EQ(status, 1);
  EXPECT_NE(out.find("no PostgreSQL table no_such_table"), std::string::npos) << out;

  std::tie(status, out) = Cli("tx_cli_customers");  // the long name is not agreed to
  EXPECT_EQ(status, 0) << out;
  EXPECT_TRUE(TableFilesInFolder().empty());

  std::tie(status, out) = Cli("--trim-long-names TX_CLI_CUSTOMERS");
  EXPECT_EQ(status, 0) << out;
  const ReadTable t = ReadOurs((folder_ / "tx_cli_c.db").string());
  using Cells = std::vector<std::optional<std::string>>;
  EXPECT_EQ(t.rows, (std::vector<Cells>{{"1", "Zoë"}, {"2", std::nullopt}}));
  const std::string written = FileText("tx_cli_c.db");

  std::tie(status, out) = Cli("--trim-long-names --skip-existing tx_cli_customers");
  EXPECT_EQ(status, 0) << out;
  EXPECT_NE(out.find("Would you like to overwrite tx_cli_c? No"), std::string::npos) << out;
  EXPECT_EQ(FileText("tx_cli_c.db"), written);

  // A code page is forced only to one Paradox's drivers cover; a value it
  // lacks fails its row, naming the column and the character.
  std::tie(status, out) = Cli("--code-page 65001 tx_cli_customers");
  EXPECT_EQ(status, 2);
  EXPECT_NE(out.find("1252, 1250"), std::string::npos) << out;
  std::tie(status, out) = Cli("--trim-long-names --overwrite --code-page 866 tx_cli_customers");
  EXPECT_EQ(status, 1);
  EXPECT_NE(out.find("`name`"), std::string::npos) << out;
  EXPECT_NE(out.find("U+00EB"), std::string::npos) << out;

  // --keep-types, two tables side by side: a keyed table, and one whose
  // blank key is left off with one line saying why; both count as copied.
  MakePgTable("tx_k", "k text PRIMARY KEY, d date", {"'b', '2020-01-02'", "'a', NULL"});
  MakePgTable("tx_kb", "k text PRIMARY KEY", {"''", "'a'"});
  std::tie(status, out) = Cli("--keep-types --jobs 2 tx_k tx_kb");
  EXPECT_EQ(status, 0) << out;
  EXPECT_NE(out.find("tx_kb was written without a key"), std::string::npos) << out;
  EXPECT_EQ(out.find("tx_k was written without"), std::string::npos) << out;
  auto keyed = paradox::TableReader::ReadInfo((folder_ / "tx_k.db").string());
  ASSERT_TRUE(keyed.ok()) << keyed.status().message();
  EXPECT_EQ(keyed->key_fields, 1);
  EXPECT_EQ(keyed->fields[1].type, paradox::FieldType::kDate);
  EXPECT_EQ(ReadOurs((folder_ / "tx_k.db").string()).rows,
            (std::vector<Cells>{{"a", std::nullopt}, {"b", "2020-01-02"}}));

  std::filesystem::remove(program_ / "dbtemp.mdb");
  std::tie(status, out) = Cli("--trim-long-names --overwrite tx_cli_customers");
  EXPECT_EQ(status, 1);
  EXPECT_NE(out.find("dbtemp.mdb"), std::string::npos) << out;
  EXPECT_NE(out.find("Form2.PushButton3_Click at line 112"), std::string::npos) << out;
}

TEST_F(ToParadoxCliTest, TheReportTellsEachTableAsTextAndJson) {
  MakePgTable("rep_ok", "id int4, t text", {"1, 'a'", "2, NULL"});
  // No code page holds Han and Hebrew together: the Hebrew row is refused.
  MakePgTable("rep_bad", "id int4, t text", {"1, 'a'", "2, '\u4e2d'", "3, '\u05d0'"});
  MakePgTable("rep_skip", "id int4", {"1"});
  ASSERT_EQ(Cli("rep_skip").first, 0);
  const std::string report = (program_ / "report.json").string();
  const std::string rejects = (program_ / "rejects.csv").string();
  auto [status, out] = Cli("--skip-existing --report '" + report + "' --rejects '" + rejects +
                           "' rep_ok rep_bad rep_skip rep_none");
  EXPECT_EQ(status, 1) << out;  // a refused row and an unknown name
  std::stringstream json_text;
  json_text << std::ifstream(report).rdbuf();
  const std::string json = json_text.str();
  struct Case {
    std::string table, line, json;
  };
  const Case cases[] = {
      {"rep_ok", "2 2 0 copied",
       R"({"table": "rep_ok", "state": "copied", "rows_total": 2, "rows_read": 2, "rows_stored": 2, "rows_refused": 0,)"},
      {"rep_bad", "3 2 1 copied",
       R"({"table": "rep_bad", "state": "copied", "rows_total": 3, "rows_read": 3, "rows_stored": 2, "rows_refused": 1,)"},
      {"rep_skip", "- - - skipped",
       R"({"table": "rep_skip", "state": "skipped", "rows_total": 0, "rows_read": 0,)"},
      {"rep_none", "- - - not", R"({"table": "rep_none", "state": "not found",)"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SummaryLine(out, c.table), c.line) << out;
    EXPECT_NE(json.find(c.json), std::string::npos) << c.table << "\n" << json;
  }
  EXPECT_NE(json.find(R"("exit_status": 1)"), std::string::npos) << json;
  EXPECT_EQ(SummaryLine(out, "Total"), "5 4 1 2");  // the last: "2 copied, ..."
  EXPECT_EQ(ReadOurs((folder_ / "rep_bad.db").string()).rows.size(), 2u);
  // The refused row: one line on the terminal instead of the failure dialog,
  // in the report by number and column, and with its values in the rejects.
  EXPECT_NE(out.find("rep_bad row 3 column t: "), std::string::npos) << out;
  EXPECT_EQ(out.find("at line 200"), std::string::npos) << out;
  EXPECT_NE(json.find(R"("refused": [{"row": 3, "column": "t", "reason": ")"), std::string::npos)
      << json;
  std::stringstream csv;
  csv << std::ifstream(rejects).rdbuf();
  EXPECT_EQ(csv.str().rfind("table,row,column,reason,values\r\nrep_bad,3,t,", 0), 0u) << csv.str();
  EXPECT_TRUE(csv.str().ends_with(",3,\u05d0\r\n")) << csv.str();

  // --quiet: the failures only, and the report all the same.
  std::filesystem::remove(report);
  std::tie(status, out) = Cli("--quiet --overwrite --report '" + report + "' rep_ok");
  EXPECT_EQ(status, 0) << out;
  EXPECT_EQ(out, "");
  EXPECT_TRUE(std::filesystem::exists(report));
}

// A dry run decides each table as a copy would and says what it would
// write, refused rows included, but the folder and the database are as
// they were, and its scratch is gone, with what a killed run left; the
// copy that follows writes the fields it announced.
TEST_F(ToParadoxCliTest, ADryRunTellsWhatTheCopyWouldWriteAndChangesNothing) {
  MakePgTable("dry_new", "id int4, t text, amount numeric(10,2)",
              {"1, 'a', 1.50", "2, '\u4e2d', NULL", "3, '\u05d0', 2.25"});
  MakePgTable("dry_old", "k text PRIMARY KEY", {"'x'"});
  ASSERT_EQ(Cli("dry_old").first, 0);
  TempFolder scratch("dry-cache");
  ScopedEnv env;
  env.Set("XDG_CACHE_HOME", scratch.path().string());
  const pid_t ended = ::fork();  // a process id nobody runs under any more
  if (ended == 0) ::_exit(0);
  ::waitpid(ended, nullptr, 0);
  auto database = [&] {
    Rows a = PgRows("SELECT * FROM dry_new ORDER BY id"), b = PgRows("SELECT * FROM dry_old");
    std::string text;
    for (const Rows* rows : {&a, &b})
      for (const auto& row : *rows)
        for (const Value& v : row) text += (v.is_null() ? "NULL" : v.text()) + "|";
    return text;
  };
  const auto folder_before = FolderBytes(folder_);
  const std::string database_before = database();
  const std::string report = (program_ / "dry.json").string();
  struct Case {
    std::string args;
    int status;
    std::string new_line, old_line, plan;
  };
  const Case cases[] = {
      {"dry_new dry_old", 1, "3 2 1 would", "- - - skipped", "would create dry_new: id "},
      {"--overwrite --keep-types dry_new dry_old", 1, "3 2 1 would", "1 1 0 would",
       "would replace dry_old: k Alpha(1)"},
      {"--skip-existing --jobs 2 dry_old", 0, "", "- - - skipped", ""},
  };
  for (const Case& c : cases) {
    std::filesystem::create_directories(scratch.path() / "corvane" /
                                        ("dry-run-" + std::to_string(ended) + "-killed"));
    auto [status, out] = Cli("--dry-run --report '" + report + "' " + c.args);
    EXPECT_EQ(status, c.status) << c.args << "\n" << out;
    EXPECT_EQ(SummaryLine(out, "dry_new"), c.new_line) << c.args << "\n" << out;
    EXPECT_EQ(SummaryLine(out, "dry_old"), c.old_line) << c.args << "\n" << out;
    EXPECT_NE(out.find(c.plan), std::string::npos) << c.args << "\n" << out;
    EXPECT_EQ(FolderBytes(folder_), folder_before) << c.args;
    EXPECT_EQ(database(), database_before) << c.args;
    EXPECT_EQ(FolderBytes(scratch.path() / "corvane"), (std::map<std::string, std::string>{}))
        << c.args;
  }

  // The fields announced are those the copy writes (both refuse one row).
  ASSERT_EQ(Cli("--dry-run --report '" + report + "' dry_new").first, 1);
  std::stringstream json;
  json << std::ifstream(report).rdbuf();
  ASSERT_EQ(Cli("dry_new").first, 1);
  const ReadTable written = ReadOurs((folder_ / "dry_new.db").string());
  ASSERT_EQ(written.fields.size(), 3u);
  for (const paradox::FieldInfo& f : written.fields) {
    EXPECT_NE(json.str().find("{\"name\": \"" + f.name + "\", \"type\": \"" +
                              paradox::TypeLabel(f.type)),
              std::string::npos)
        << f.name << "\n" << json.str();
  }
  EXPECT_EQ(written.rows.size(), 2u);
}

// --all both ways, and --jobs 2 gives what --jobs 1 gives. The database is
// the test's own, since --all takes every table in it.
TEST_F(ToParadoxCliTest, AllTablesBothWaysWithOneJobAndWithTwo) {
  const std::string db = "corvane_all_" + std::to_string(::getpid());
  (void)PgTry("DROP DATABASE IF EXISTS " + db);
  Pg("CREATE DATABASE " + db);
  ConnectionSettings own = fake_.settings.settings;
  own.database = db;
  auto run_in = [&](const std::string& sql) {
    Connection c;
    Status s = c.Open(PostgresConnectionString(own));
    if (s.ok()) s = c.Execute(sql).status();
    EXPECT_TRUE(s.ok()) << sql << ": " << s.message();
  };
  run_in("CREATE TABLE big (id int4, name text, memo text)");
  run_in("INSERT INTO big SELECT g, 'n' || g, CASE WHEN g % 7 = 0 THEN NULL ELSE repeat('m', g % 300) END "
         "FROM generate_series(1, 3000) g");
  run_in("CREATE TABLE small (id int4, amount numeric(10,2))");
  run_in("INSERT INTO small VALUES (1, 1.5), (2, NULL)");
  run_in("CREATE TABLE empty (id int4)");
  run_in("CREATE SCHEMA other");
  run_in("CREATE TABLE other.inschema (id int4)");  // listed, but not on the search path

  std::map<int, std::filesystem::path> folders;
  for (int jobs : {1, 2}) {
    folders[jobs] = folder_ / ("jobs" + std::to_string(jobs));
    std::filesystem::create_directory(folders[jobs]);
    auto [status, out] = Cli("--database " + db + " --paradox '" + folders[jobs].string() +
                             "' --all --jobs " + std::to_string(jobs));
    EXPECT_EQ(SummaryLine(out, "big"), "3000 3000 0 copied") << out;
    EXPECT_EQ(SummaryLine(out, "empty"), "0 0 0 copied") << out;
    // Off the search path, and copied from its own schema all the same.
    EXPECT_EQ(SummaryLine(out, "other.inschema"), "0 0 0 copied") << out;
    EXPECT_LT(out.find("\nbig "), out.find("\nempty ")) << out;  // the list's order
    EXPECT_LT(out.find("\nempty "), out.find("\nsmall ")) << out;
    EXPECT_EQ(status, 0) << out;
  }
  for (const char* table : {"big.db", "small.db", "empty.db", "inschema.db"}) {
    const ReadTable one = ReadOurs((folders[1] / table).string());
    const ReadTable two = ReadOurs((folders[2] / table).string());
    EXPECT_EQ(one.error, "") << table;
    EXPECT_EQ(one.rows, two.rows) << table;
  }
  EXPECT_EQ(ReadOurs((folders[1] / "big.db").string()).rows.size(), 3000u);

  // And back: the folder's tables into PostgreSQL, once per job count. They
  // replace the tables of the same names ignoring case, under their spelling.
  std::vector<std::string> seen;
  for (int jobs : {1, 2}) {
    const char* bin = std::getenv("CORVANE_PROGRAM_DIR");
    const std::string cmd = std::string(bin ? bin : "bin") +
                            "/corvane-cli to-postgres --overwrite --all --jobs " +
                            std::to_string(jobs) + " --paradox '" + folders[1].string() +
                            "' --server " + own.server + " --port " + own.port + " --user " +
                            own.user + " --password '" + own.password + "' --database " + db +
                            " </dev/null 2>&1";
    FILE* p = popen(cmd.c_str(), "r");
    ASSERT_NE(p, nullptr);
    std::string printed;
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) printed.append(buf, n);
    EXPECT_EQ(pclose(p), 0) << printed;
    EXPECT_EQ(SummaryLine(printed, "BIG"), "3000 3000 0 copied") << printed;
    EXPECT_EQ(SummaryLine(printed, "EMPTY"), "0 0 0 copied") << printed;
    Connection c;
    ASSERT_TRUE(c.Open(PostgresConnectionString(own)).ok());
    std::string text;
    for (const char* t : {"big", "small", "empty"}) {
      auto rows = c.Execute(std::string("SELECT string_agg(t::text, '|' ORDER BY t::text) FROM \"") +
                            t + "\" t");
      ASSERT_TRUE(rows.ok()) << t << ": " << rows.status().message();
      text += (*rows)->FieldValue(0).text() + "#";
    }
    seen.push_back(text);
  }
  EXPECT_EQ(seen[0], seen[1]);
  EXPECT_NE(seen[0].find("(3000,n3000,"), std::string::npos);
  Pg("DROP DATABASE " + db + " WITH (FORCE)");
}

}  // namespace
}  // namespace corvane::testing
