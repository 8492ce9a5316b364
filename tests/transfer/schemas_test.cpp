// One table name in two schemas: each list entry is its own schema's table,
// for the window's handlers (in-memory surfaces) and for corvane-cli; and
// tables of one run that would land on one table are refused before
// anything is written. Each test works in a database of its own, as --all
// sees every schema.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "catalog/postgres_catalog.h"
#include "maintenance/maintenance.h"
#include "paradox/table_writer.h"
#include "pxlib_table.h"
#include "support/scoped_env.h"
#include "to_paradox_fixture.h"

namespace corvane::testing {
namespace {

class SchemasTest : public ToParadoxTest {
 protected:
  void SetUp() override {
    ToParadoxTest::SetUp();
    if (!have_pg_) return;
    shared_db_ = fake_.settings.settings.database;
    db_ = "corvane_schemas_" + std::to_string(::getpid());
    (void)PgTry("DROP DATABASE IF EXISTS " + db_ + " WITH (FORCE)");
    Pg("CREATE DATABASE " + db_);
    fake_.settings.settings.database = db_;
    for (const char* sql :
         {"CREATE SCHEMA sales", "CREATE SCHEMA archive",
          "CREATE TABLE sales.dup (id int, who text)", "INSERT INTO sales.dup VALUES (1, 'sales')",
          "CREATE TABLE archive.dup (id int, who text)",
          "INSERT INTO archive.dup VALUES (1, 'archive'), (2, 'archive')"}) {
      Pg(sql);
    }
  }
  void TearDown() override {
    if (have_pg_) {
      drop_after_.clear();  // they went with the database
      fake_.settings.settings.database = shared_db_;
      (void)PgTry("DROP DATABASE IF EXISTS " + db_ + " WITH (FORCE)");
    }
    ToParadoxTest::TearDown();
  }

  void FillPostgresList() {
    ui::CountingPump pump;
    Status listed =
        catalog::ListPostgreSQLTables(fake_.settings.settings, fake_.postgres_list, pump);
    ASSERT_TRUE(listed.ok()) << listed.message();
  }
  // Makes the entry of schema.table the only one selected.
  void SelectOnly(const std::string& schema, const std::string& table) {
    ui::TableList& list = fake_.postgres_list;
    ui::DeselectAll(list);
    for (int i = 0; i < list.Count(); ++i) {
      if (list.Schema(i) == schema && list.Text(i) == table) {
        list.SetSelected(i, true);
        list.SetCurrentIndex(i);
        return;
      }
    }
    ADD_FAILURE() << "no entry " << schema << "." << table;
  }
  std::vector<std::string> SchemasOf(const std::string& table) const {
    std::vector<std::string> out;
    for (int i = 0; i < fake_.postgres_list.Count(); ++i) {
      if (fake_.postgres_list.Text(i) == table) out.push_back(fake_.postgres_list.Schema(i));
    }
    std::sort(out.begin(), out.end());
    return out;
  }
  // The `who` column of a PostgreSQL table, "" for one that is not there.
  std::string Who(const std::string& qualified) {
    Rows exists = PgRows("SELECT to_regclass('" + qualified + "') IS NOT NULL");
    if (exists.empty() || exists[0][0].text() != "True") return "";
    std::string out;
    for (const auto& row : PgRows("SELECT who FROM " + qualified + " ORDER BY id")) {
      out += row[0].text() + ";";
    }
    return out;
  }
  // The last field of each row of a Paradox table.
  std::string ParadoxWho(const std::string& file) {
    ReadTable t = ReadOurs((folder_ / file).string());
    std::string out = t.error;
    for (const auto& row : t.rows) out += row.back().value_or("NULL") + ";";
    return out;
  }
  void SelectEvery(ui::TableList& list, const std::vector<std::string>& names) {
    for (int i = 0; i < list.Count(); ++i) {
      const bool wanted = std::count(names.begin(), names.end(), list.Text(i)) > 0;
      list.SetSelected(i, wanted);
      if (wanted) list.SetCurrentIndex(i);
    }
  }
  int Maintain(maintenance::Outcome (*handler)(ui::TablesWindow&)) {
    ui::TablesWindow window = fake_.Window();
    return handler(window).failures;
  }
  std::string FileBytes(const std::string& file) {
    std::stringstream s;
    s << std::ifstream(folder_ / file, std::ios::binary).rdbuf();
    return s.str();
  }
  // corvane-cli with the test's login; exit status and everything printed.
  std::pair<int, std::string> Cli(const std::string& args, const std::string& env = "") {
    const char* bin = std::getenv("CORVANE_PROGRAM_DIR");
    const ConnectionSettings& s = fake_.settings.settings;
    const std::string cmd = env + " CORVANE_PROGRAM_DIR='" + program_.string() + "' " +
                            std::string(bin ? bin : "bin") + "/corvane-cli " + args + " --server " +
                            s.server + " --port " + s.port + " --user " + s.user + " --password '" +
                            s.password + "' --database " + s.database + " </dev/null 2>&1";
    return ShellOutput(cmd);
  }
  std::string ToParadoxArgs() const { return "to-paradox --paradox '" + folder_.string() + "'"; }
  std::string ToPostgresArgs() const { return "to-postgres --paradox '" + folder_.string() + "'"; }

  std::string shared_db_, db_;
};

TEST_F(SchemasTest, WindowCopiesEachEntryFromItsOwnSchemaAndRefusesBothAtOnce) {
  FillPostgresList();
  EXPECT_EQ(SchemasOf("dup"), (std::vector<std::string>{"archive", "sales"}));

  SelectOnly("archive", "dup");
  ui::TablesWindow window = fake_.Window();  // the column types too come from archive
  window.program_folder = program_.string();
  transfer::ToParadoxOptions keep_types;
  keep_types.keep_types = true;
  EXPECT_EQ(transfer::SendTablesToParadoxWith(window, keep_types).failures, 0) << FirstFailure();
  EXPECT_EQ(ParadoxWho("dup.db"), "archive;archive;");

  SelectOnly("sales", "dup");  // the folder now holds DUP: asked, and Yes
  EXPECT_EQ(SendToParadox().failures, 0) << FirstFailure();
  EXPECT_EQ(ParadoxWho("dup.db"), "sales;");

  // Both at once would write one file twice: refused before anything is
  // written, no question asked, the file as it was.
  const std::string before = FileBytes("dup.db");
  const size_t shown = fake_.dialogs.shown.size();
  SelectEvery(fake_.postgres_list, {"dup"});
  EXPECT_EQ(SendToParadox().failures, 1);
  const std::string failure = fake_.dialogs.Failures().back();
  EXPECT_NE(failure.find("sales.dup"), std::string::npos) << failure;
  EXPECT_NE(failure.find("archive.dup"), std::string::npos) << failure;
  EXPECT_NE(failure.find("Form2.PushButton3_Click at line 126"), std::string::npos) << failure;
  for (size_t k = shown; k < fake_.dialogs.shown.size(); ++k) {
    EXPECT_NE(fake_.dialogs.shown[k].kind, "question") << fake_.dialogs.shown[k].text;
  }
  EXPECT_EQ(FileBytes("dup.db"), before);
}

// Names one folder cannot tell apart: refused together, the rest copied.
TEST_F(SchemasTest, NamesThatShareAParadoxFileAreRefusedAndTheRestGoOn) {
  const std::vector<std::vector<std::string>> groups = {{"CASE", "case", "Case"},
                                                        {"customer_a", "customer_b"}};
  for (const auto& group : groups) {
    SCOPED_TRACE(group[0]);
    for (const std::string& name : group) MakePgTable(name, "id int", {"1"});
    MakePgTable("other", "id int", {"7"});
    fake_.postgres_list.Clear();
    FillPostgresList();
    std::vector<std::string> selected = group;
    selected.push_back("other");
    SelectEvery(fake_.postgres_list, selected);
    EXPECT_EQ(SendToParadox().failures, 1) << FirstFailure();
    for (const std::string& name : group) {
      EXPECT_NE(fake_.dialogs.Failures().back().find(name), std::string::npos) << name;
    }
    EXPECT_EQ(TableFilesInFolder(), (std::vector<std::string>{"other.db"}));
    std::filesystem::remove(folder_ / "other.db");
    fake_.paradox_list.Clear();
  }
}

TEST_F(SchemasTest, WindowWritesToTheSearchPathsFirstSchemaAndReplacesOnlyThere) {
  FillPostgresList();
  SelectOnly("archive", "dup");
  ASSERT_EQ(SendToParadox().failures, 0) << FirstFailure();
  fake_.paradox_list.Clear();
  SelectParadox({"DUP"});

  // No dup in public: nothing to ask about, a new public table.
  const size_t shown = fake_.dialogs.shown.size();
  EXPECT_EQ(Send().failures, 0) << FirstFailure();
  EXPECT_EQ(fake_.dialogs.shown.size(), shown);
  EXPECT_EQ(Who("public.\"DUP\""), "archive;archive;");
  EXPECT_EQ(Who("sales.dup"), "sales;");
  EXPECT_EQ(SchemasOf("DUP"), (std::vector<std::string>{"public"}));

  // A search path from PGOPTIONS is kept: sales' dup is asked about and
  // replaced, archive's and public's stay.
  ScopedEnv env;
  env.Set("PGOPTIONS", "-c search_path=sales");
  fake_.postgres_list.Clear();
  FillPostgresList();
  EXPECT_EQ(Send().failures, 0) << FirstFailure();
  EXPECT_EQ(fake_.dialogs.shown.back().text, "Would you like to overwrite dup?");
  EXPECT_EQ(Who("sales.dup"), "archive;archive;");
  EXPECT_EQ(Who("archive.dup"), "archive;archive;");
  EXPECT_EQ(Who("public.\"DUP\""), "archive;archive;");
  EXPECT_EQ(SchemasOf("dup"), (std::vector<std::string>{"archive", "sales"}));

  // Two Paradox entries of one name (a table and its namesake elsewhere)
  // would write one PostgreSQL table twice.
  fake_.paradox_list.Add("DUP");
  ui::SelectAll(fake_.paradox_list);
  EXPECT_EQ(Send().failures, 1);
  EXPECT_NE(fake_.dialogs.Failures().back().find("DUP and DUP"), std::string::npos);
  EXPECT_EQ(Who("sales.dup"), "archive;archive;");
}

TEST_F(SchemasTest, WindowDeletesAndRenamesTheEntrysOwnTable) {
  FillPostgresList();
  SelectOnly("archive", "dup");
  EXPECT_EQ(Maintain(maintenance::DeletePostgresTables), 0);
  EXPECT_EQ(Who("archive.dup"), "");
  EXPECT_EQ(Who("sales.dup"), "sales;");
  EXPECT_EQ(SchemasOf("dup"), (std::vector<std::string>{"sales"}));

  SelectOnly("sales", "dup");
  fake_.dialogs.prompt_answers = {"dup2"};
  EXPECT_EQ(Maintain(maintenance::RenamePostgresTable), 0);
  EXPECT_EQ(Who("sales.dup2"), "sales;");
  EXPECT_EQ(SchemasOf("dup2"), (std::vector<std::string>{"sales"}));

  SelectOnly("sales", "dup2");  // the renamed entry still knows its schema
  EXPECT_EQ(Maintain(maintenance::DeletePostgresTables), 0);
  EXPECT_EQ(Who("sales.dup2"), "");
}

TEST_F(SchemasTest, CommandLineNamesEachSchemasTable) {
  MakePgTable("plain", "id int", {"1"});
  auto [status, out] = Cli("tables --postgres");
  EXPECT_EQ(status, 0) << out;
  EXPECT_EQ(out, "archive.dup\nplain\nsales.dup\n");

  std::tie(status, out) = Cli(ToParadoxArgs() + " archive.dup");
  EXPECT_EQ(status, 0) << out;
  EXPECT_EQ(ParadoxWho("dup.db"), "archive;archive;");
  std::tie(status, out) = Cli(ToParadoxArgs() + " --overwrite dup");  // in no schema of the path
  EXPECT_EQ(status, 1) << out;
  EXPECT_NE(out.find("sales.dup"), std::string::npos) << out;

  // --all takes every schema; the two dups would share one file and are
  // refused whatever --overwrite says; plain goes.
  const std::string before = FileBytes("dup.db");
  std::tie(status, out) = Cli(ToParadoxArgs() + " --overwrite --all");
  EXPECT_EQ(status, 1) << out;
  EXPECT_NE(out.find("sales.dup"), std::string::npos) << out;
  EXPECT_NE(out.find("archive.dup"), std::string::npos) << out;
  EXPECT_NE(out.find("would both be written as the Paradox table dup"), std::string::npos) << out;
  EXPECT_EQ(FileBytes("dup.db"), before);
  EXPECT_EQ(ParadoxWho("plain.db"), "1;");

  // Back to PostgreSQL into the schema PGOPTIONS' search path names.
  std::tie(status, out) =
      Cli(ToPostgresArgs() + " --overwrite DUP", "PGOPTIONS='-c search_path=sales'");
  EXPECT_EQ(status, 0) << out;
  EXPECT_EQ(Who("sales.dup"), "archive;archive;");
  EXPECT_EQ(Who("archive.dup"), "archive;archive;");

  // Drop and rename: a bare name two schemas hold is refused, schema.table
  // acts on that table alone.
  std::tie(status, out) = Cli("drop --postgres dup");
  EXPECT_EQ(status, 2) << out;
  std::tie(status, out) = Cli("rename --postgres sales.dup dup3");
  EXPECT_EQ(status, 0) << out;
  std::tie(status, out) = Cli("drop --postgres archive.dup");
  EXPECT_EQ(status, 0) << out;
  EXPECT_EQ(Who("sales.dup3"), "archive;archive;");
  EXPECT_EQ(Who("archive.dup"), "");
}

TEST_F(SchemasTest, CommandLineRefusesNamesThatShareAParadoxFile) {
  for (const char* name : {"CASE", "case", "Case", "customer_a", "customer_b"}) {
    MakePgTable(name, "id int", {"1"});
  }
  auto [status, out] = Cli(ToParadoxArgs() + " --overwrite CASE case Case");
  EXPECT_EQ(status, 1) << out;
  for (const char* name : {"CASE", "case", "Case"}) {
    EXPECT_NE(out.find(std::string(name)), std::string::npos) << name << ": " << out;
  }
  EXPECT_NE(out.find("would all be written as the Paradox table"), std::string::npos) << out;
  std::tie(status, out) = Cli(ToParadoxArgs() + " --trim-long-names customer_a customer_b");
  EXPECT_EQ(status, 1) << out;
  EXPECT_TRUE(TableFilesInFolder().empty());
  // Not cut, the long names share nothing: they are skipped as asked.
  std::tie(status, out) = Cli(ToParadoxArgs() + " --skip-long-names customer_a customer_b");
  EXPECT_EQ(status, 0) << out;

  // The other way: a table and its namesake in a sub-folder would both be
  // written to the PostgreSQL table CASE, which keeps its own columns.
  std::tie(status, out) = Cli(ToParadoxArgs() + " --overwrite CASE");
  ASSERT_EQ(status, 0) << out;
  std::filesystem::create_directory(folder_ / "sub");
  std::filesystem::copy_file(folder_ / "CASE.db", folder_ / "sub" / "CASE.db");
  std::tie(status, out) = Cli(ToPostgresArgs() + " --overwrite --all");
  EXPECT_EQ(status, 1) << out;
  EXPECT_NE(out.find("sub/CASE and CASE would both be written as the PostgreSQL table CASE"),
            std::string::npos)
      << out;
  EXPECT_EQ(PgRows("SELECT format_type(atttypid, atttypmod) FROM pg_attribute WHERE attrelid = "
                   "'public.\"CASE\"'::regclass AND attname = 'id'")[0][0].text(),
            "integer");
}

// spell.db (ours) and SPELL.DB (pxlib) in one folder are both listed as
// SPELL: --all sends each from its own file, the second under the first
// free name, which the user is told, each with its own figures.
TEST_F(SchemasTest, CommandLineSendsEverySpellingOfOneFolderName) {
  MakePgTable("SPELL_2", "id int", {"9"});  // taken: the second goes on
  auto w = paradox::TableWriter::Create((folder_ / "spell.db").string(),
                                        {{"N", paradox::FieldType::kLong, 4, 0}});
  ASSERT_TRUE(w.ok()) << w.status().message();
  ASSERT_TRUE((*w)->Append({{false, "1"}}).ok());
  ASSERT_TRUE((*w)->Finish(paradox::TableWriter::Replace::kNever).ok());
  ASSERT_EQ(MakePxTable((folder_ / "SPELL.DB").string(), {{"N", 4, 4}}, {{PxInt(2)}, {PxInt(3)}}),
            "");
  auto [status, out] = Cli(ToPostgresArgs() + " --all");
  EXPECT_EQ(status, 0) << out;
  EXPECT_NE(out.find("SPELL.DB and spell.db in " + folder_.string() +
                     " are both listed as SPELL; SPELL.DB is sent as SPELL, spell.db as SPELL_3."),
            std::string::npos)
      << out;
  auto rows = [&](const std::string& table) {
    std::string text;
    for (const auto& row : PgRows("SELECT * FROM \"" + table + "\" ORDER BY 1")) {
      text += row[0].text() + ";";
    }
    return text;
  };
  EXPECT_EQ(rows("SPELL"), "2;3;");
  EXPECT_EQ(rows("SPELL_3"), "1;");
  EXPECT_EQ(rows("SPELL_2"), "9;");
  // Each has a line of its own figures.
  EXPECT_EQ(SummaryLine(out, "SPELL"), "2 2 0 copied") << out;
  EXPECT_EQ(SummaryLine(out, "SPELL_3"), "1 1 0 copied") << out;
}

}  // namespace
}  // namespace corvane::testing
