// corvane-cli to-postgres end to end: the real binary, the test server.
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

extern "C" {
#include <paradox.h>
}

#include "paradox/fixture_builder.h"
#include "paradox/rules_builder.h"
#include "paradox/table_writer.h"
#include "pxlib_table.h"
#include "support/folder_bytes.h"
#include "transfer_fixture.h"

namespace corvane::testing {
namespace {

class ToPostgresCliTest : public ToPostgresTest {
 protected:
  struct Outcome {
    int status = -1;
    std::string output;  // stdout and stderr together
  };
  // Runs corvane-cli to-postgres with the test login and `args`; stdin is
  // not a terminal, so unanswered questions are answered No.
  Outcome Run(const std::string& args, const std::string& password = "") {
    const char* dir = std::getenv("CORVANE_PROGRAM_DIR");
    const ConnectionSettings& s = fake_.settings.settings;
    std::string cmd = std::string(dir ? dir : "bin") + "/corvane-cli to-postgres --paradox '" +
                      folder_.string() + "' --server " + s.server + " --port " + s.port +
                      " --user " + s.user + " --password '" +
                      (password.empty() ? s.password : password) + "' --database " + s.database +
                      " " + args + " </dev/null 2>&1";
    Outcome out;
    FILE* p = popen(cmd.c_str(), "r");
    if (p == nullptr) return out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.output.append(buf, n);
    const int st = pclose(p);
    out.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return out;
  }
  void MakeRows(const std::string& name, int n) {
    std::vector<PxRow> rows;
    for (int i = 1; i <= n; ++i) rows.push_back({PxInt(i)});
    ASSERT_EQ(MakePxTable((folder_ / (name + ".db")).string(), {{"ID", pxfLong, 4}}, rows), "");
    drop_after_.push_back(name);
    (void)PgTry("DROP TABLE IF EXISTS \"" + name + "\"");
  }
  std::string Count(const std::string& table) {
    Rows r = PgRows("SELECT count(*) FROM \"" + table + "\"");
    return r.empty() ? "?" : r[0][0].text();
  }
};

TEST_F(ToPostgresCliTest, CopiesThenSkipsOrOverwritesAnExistingTable) {
  MakeRows("TOPG_CLI", 3);
  Outcome first = Run("topg_cli");  // found ignoring case
  EXPECT_EQ(first.status, 0) << first.output;
  EXPECT_EQ(Count("TOPG_CLI"), "3");

  Pg("INSERT INTO \"TOPG_CLI\" VALUES (99)");
  // Without a terminal and without a choice: left as it is, and the run fails.
  Outcome skipped = Run("TOPG_CLI");
  EXPECT_EQ(skipped.status, 1) << skipped.output;
  EXPECT_NE(skipped.output.find("TOPG_CLI: exists; give --overwrite or --skip-existing"),
            std::string::npos)
      << skipped.output;
  EXPECT_EQ(Count("TOPG_CLI"), "4");
  skipped = Run("--skip-existing TOPG_CLI");
  EXPECT_EQ(skipped.status, 0) << skipped.output;
  EXPECT_NE(skipped.output.find("Would you like to overwrite TOPG_CLI? No"), std::string::npos)
      << skipped.output;

  Outcome replaced = Run("--overwrite TOPG_CLI");
  EXPECT_EQ(replaced.status, 0) << replaced.output;
  EXPECT_EQ(Count("TOPG_CLI"), "3");

  // --keep-types gives the Long integer field its own column type.
  const std::string type_sql =
      "SELECT format_type(atttypid, atttypmod) FROM pg_attribute WHERE attrelid = "
      "'\"TOPG_CLI\"'::regclass AND attname = 'ID'";
  EXPECT_EQ(PgRows(type_sql)[0][0].text(), "numeric");
  Outcome typed = Run("--overwrite --keep-types TOPG_CLI");
  EXPECT_EQ(typed.status, 0) << typed.output;
  EXPECT_EQ(PgRows(type_sql)[0][0].text(), "integer");
  EXPECT_EQ(Count("TOPG_CLI"), "3");
}

// The table list shows sub-folders' tables; such a table is copied from its
// own folder over the PostgreSQL table of its name.
TEST_F(ToPostgresCliTest, ASubFolderTableOverwritesItsPostgresTable) {
  std::filesystem::create_directories(folder_ / "a" / "b");
  ASSERT_EQ(MakePxTable((folder_ / "a" / "b" / "TOPG_NESTED.db").string(), {{"ID", pxfLong, 4}},
                        {{PxInt(1)}, {PxInt(2)}, {PxInt(3)}}),
            "");
  drop_after_.push_back("TOPG_NESTED");
  (void)PgTry("DROP TABLE IF EXISTS \"TOPG_NESTED\"");
  Pg("CREATE TABLE \"TOPG_NESTED\"(old text)");
  Pg("INSERT INTO \"TOPG_NESTED\" VALUES ('old')");
  Outcome out = Run("--overwrite TOPG_NESTED");
  EXPECT_EQ(out.status, 0) << out.output;
  EXPECT_EQ(Count("TOPG_NESTED"), "3");
  EXPECT_EQ(PgRows("SELECT sum(\"ID\") FROM \"TOPG_NESTED\"").at(0).at(0).text(), "6");
}

TEST_F(ToPostgresCliTest, BadUsageExitsTwoAndAnUnknownTableOne) {
  MakeRows("TOPG_CLI2", 1);
  EXPECT_EQ(Run("--overwrite --skip-existing TOPG_CLI2").status, 2);
  EXPECT_EQ(Run("").status, 2);
  EXPECT_EQ(Run("--all TOPG_CLI2").status, 2);
  EXPECT_EQ(Run("--jobs x TOPG_CLI2").status, 2);
  EXPECT_FALSE(PgTry("SELECT 1 FROM \"TOPG_CLI2\"").ok());  // nothing was sent
  // The tables found are copied; the unknown name is reported and fails the run.
  Outcome unknown = Run("TOPG_CLI2 NO_SUCH_TABLE");
  EXPECT_EQ(unknown.status, 1);
  EXPECT_NE(unknown.output.find("no Paradox table NO_SUCH_TABLE"), std::string::npos)
      << unknown.output;
  EXPECT_EQ(Count("TOPG_CLI2"), "1");
}

TEST_F(ToPostgresCliTest, AFailureShownMakesTheExitStatusOne) {
  MakeRows("TOPG_CLI3", 1);
  // The report of a run that fails before its first table replaces the
  // last run's, and says why.
  const std::string report = (folder_ / "report.json").string();
  std::ofstream(report) << R"({"exit_status": 0})";
  Outcome refused = Run("--report '" + report + "' TOPG_CLI3", "wrong password");
  EXPECT_EQ(refused.status, 1) << refused.output;
  EXPECT_FALSE(PgTry("SELECT 1 FROM \"TOPG_CLI3\"").ok());
  std::stringstream json;
  json << std::ifstream(report).rdbuf();
  EXPECT_NE(json.str().find(R"("exit_status": 1,)"), std::string::npos) << json.str();
  EXPECT_NE(json.str().find(R"("error": "cannot list the PostgreSQL tables: )"), std::string::npos)
      << json.str();

  // A keyed table with a blank key value: the rows arrive, the primary key
  // cannot be made, and that fails the table.
  const std::string keyed = (folder_ / "TOPG_CLI4.db").string();
  ASSERT_EQ(MakePxTable(keyed, {{"ID", pxfLong, 4}}, {{PxNull()}, {PxInt(2)}}), "");
  drop_after_.push_back("TOPG_CLI4");
  {
    std::fstream db(keyed, std::ios::in | std::ios::out | std::ios::binary);
    db.seekp(0x04).put(0);  // keyed
    db.seekp(0x23).put(1);  // on its first field
  }
  Outcome unkeyed = Run("--keep-types TOPG_CLI4");
  EXPECT_EQ(unkeyed.status, 1) << unkeyed.output;
  EXPECT_NE(unkeyed.output.find("PRIMARY KEY"), std::string::npos) << unkeyed.output;
  EXPECT_EQ(Count("TOPG_CLI4"), "2");
}

// A dry run decides each table and names its columns, typed or not, but
// creates, replaces and drops nothing, on the server or in the folder.
TEST_F(ToPostgresCliTest, ADryRunTellsTheColumnsAndChangesNothing) {
  MakeRows("DRY_PG_NEW", 3);
  MakeRows("DRY_PG_OLD", 2);
  ASSERT_EQ(Run("DRY_PG_OLD").status, 0);
  Pg("INSERT INTO \"DRY_PG_OLD\" VALUES (99)");
  auto server = [&] {
    Rows rows = PgRows(
        "SELECT string_agg(c.relname || ':' || c.relfilenode, ',' ORDER BY c.relname) "
        "FROM pg_class c WHERE c.relname LIKE '%DRY_PG%'");  // a scratch copy ends in the name
    return (rows.empty() || rows[0][0].is_null() ? "" : rows[0][0].text()) + " " +
           Count("DRY_PG_OLD");
  };
  const std::string server_before = server();
  const auto folder_before = FolderBytes(folder_);
  struct Case {
    std::string args;
    int status;
    std::vector<std::string> said;
  };
  const Case cases[] = {
      {"DRY_PG_NEW DRY_PG_OLD", 1,
       {"would create DRY_PG_NEW: ID NUMERIC", "DRY_PG_OLD: exists; give --overwrite"}},
      {"--overwrite --keep-types --jobs 2 DRY_PG_NEW DRY_PG_OLD", 0,
       {"would create DRY_PG_NEW: ID integer", "would replace DRY_PG_OLD: ID integer",
        "2 to copy"}},
  };
  for (const Case& c : cases) {
    Outcome out = Run("--dry-run " + c.args);
    EXPECT_EQ(out.status, c.status) << c.args << "\n" << out.output;
    for (const std::string& s : c.said) {
      EXPECT_NE(out.output.find(s), std::string::npos) << s << "\n" << out.output;
    }
    EXPECT_EQ(server(), server_before) << c.args;
    EXPECT_EQ(FolderBytes(folder_), folder_before) << c.args;
  }
}

// With --keep-types a reference becomes a foreign key even when the child
// is copied first and the tables go by separate jobs; in a sub-folder, from
// the rule file beside the tables there.
TEST_F(ToPostgresCliTest, KeepTypesAddsReferencesOnceEveryTableIsIn) {
  if (!have_pg_) GTEST_SKIP() << "no test server";
  drop_after_.insert(drop_after_.end(), {"CLI_CHILD", "CLI_PARENT"});
  for (const std::string sub : {"", "deep"}) {
    SCOPED_TRACE("in '" + sub + "'");
    for (const char* t : {"CLI_CHILD", "CLI_PARENT"}) {
      (void)PgTry(std::string("DROP TABLE IF EXISTS \"") + t + "\" CASCADE");
    }
    const std::filesystem::path dir = folder_ / sub;
    std::filesystem::create_directories(dir);
    auto parent = paradox::TableWriter::Create((dir / "CLI_PARENT.db").string(),
                                               {{"ID", paradox::FieldType::kLong, 0, 0}}, 1252, 0,
                                               1);
    ASSERT_TRUE(parent.ok()) << parent.status().message();
    ASSERT_TRUE((*parent)->Append({{false, "1"}}).ok());
    ASSERT_TRUE((*parent)->Finish(paradox::TableWriter::Replace::kNever).ok());
    ASSERT_EQ(MakePxTable((dir / "CLI_CHILD.db").string(), {{"ID", pxfLong, 4}}, {{PxInt(1)}}),
              "");
    paradox::testing::WriteFile(
        (dir / "CLI_CHILD.VAL").string(),
        paradox::testing::BuildVal(0x0C, {{0x04, 4, "ID"}}, {},
                                   {{"up", {1}, "CLI_PARENT.DB", {1}, false}}));
    Outcome run = Run("--keep-types --jobs 2 CLI_CHILD CLI_PARENT");
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(PgRows("SELECT count(*) FROM pg_constraint WHERE contype = 'f' AND conrelid = "
                     "'\"CLI_CHILD\"'::regclass")[0][0]
                  .text(),
              "1")
        << run.output;
    // A namesake of the next round's tables would be refused.
    for (const auto& e : std::filesystem::directory_iterator(dir)) {
      if (e.is_regular_file()) std::filesystem::remove(e.path());
    }
  }
}

}  // namespace
}  // namespace corvane::testing
