// corvane-cli dump and schema, run as a user runs them, on hand-built tables.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "paradox/fixture_builder.h"
#include "support/temp_folder.h"
#include "paradox/table_writer.h"

namespace corvane::paradox::testing {
namespace {

struct CliRun {
  int exit_code;
  std::string out;
};

// `limits`: shell commands run first (such as a ulimit).
CliRun RunCli(const std::string& args, const std::string& limits = "") {
  const char* dir = std::getenv("CORVANE_PROGRAM_DIR");
  const std::string cmd =
      limits + std::string(dir ? dir : "bin") + "/corvane-cli " + args + " 2>&1";
  CliRun run{-1, {}};
  std::FILE* p = popen(cmd.c_str(), "r");
  if (!p) return run;
  char buf[4096];
  for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) run.out.append(buf, n);
  const int status = pclose(p);
  run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

class DumpCliTest : public ::testing::Test {
 protected:
  ::corvane::testing::TempFolder temp_{"corvane-reader-cli"};
  std::string dir_ = temp_.str();
};

TEST_F(DumpCliTest, DumpQuotesWhatCsvNeedsAndLeavesNullEmpty) {
  MbBuilder mb;
  const std::vector<uint32_t> p = mb.AddSubAllocated({"two\r\nlines, \"q\""});
  FixtureTable t;
  t.fields = {{0x01, 12, "Name, full"}, {0x04, 4, "N"}, {0x0C, 11, "Memo"}, {0x09, 1, "Ok"}};
  t.records = {
      Alpha(12, "O\"Brien") + FlipInt(4, -7) + BlobRef(11, "t", p[0], 15) + FlipInt(1, 1),
      Zeros(12) + Zeros(4) + Zeros(11) + Zeros(1),
      Alpha(12, "caf\xe9") + FlipInt(4, 0) + BlobRef(11, "x", 0, 1, 0) + FlipInt(1, 0),
  };
  WriteFile(dir_ + "/t.db", BuildDb(t));
  WriteFile(dir_ + "/t.mb", mb.bytes());
  const CliRun run = RunCli("dump " + dir_ + "/t.db");
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.out,
            "\"Name, full\",N,Memo,Ok\n"
            "\"O\"\"Brien\",-7,\"two\r\nlines, \"\"q\"\"\",True\n"
            ",,,\n"
            "café,0,x,False\n");
}

// No row goes out without its memos: the dump fails once, naming the file;
// the layout needs no memo and is still shown.
TEST_F(DumpCliTest, DumpOfATableWhoseMbIsMissingFailsOnceNamingIt) {
  FixtureTable t;
  t.fields = {{0x03, 2, "Id"}, {0x0D, 10, "Data"}};
  t.records = {FlipInt(2, 1) + BlobRef(10, "", 0x1000 | 63, 20), FlipInt(2, 2) + Zeros(10)};
  WriteFile(dir_ + "/b.db", BuildDb(t));
  const CliRun run = RunCli("dump " + dir_ + "/b.db");
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_EQ(run.out, "corvane-cli: " + dir_ + "/b.db has memo or blob fields, but the blob file " +
                         dir_ + "/b.mb is missing; none of its rows were read.\n");
  const CliRun schema = RunCli("schema " + dir_ + "/b.db");
  EXPECT_EQ(schema.exit_code, 0) << schema.out;
  EXPECT_NE(schema.out.find("Records: 2\n"), std::string::npos) << schema.out;
}

TEST_F(DumpCliTest, SchemaShowsTheLayout) {
  FixtureTable t;
  t.version = 0x0C;
  t.file_type = 0;
  t.code_page = 850;
  t.sort_id = "intl850";
  t.fields = {{0x01, 30, "Name"}, {0x17, 2, "Amount"}, {0x10, 10, "Picture"}};
  t.records = {Alpha(30, "a") + Bcd(2, "1") + Zeros(10)};
  WriteFile(dir_ + "/s.db", BuildDb(t));
  const CliRun run = RunCli("schema " + dir_ + "/s.db");
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.out, "File: " + dir_ + "/s.db\n" +
                         "Version: Paradox 7 (version byte 0x0C)\n"
                         "Keyed: yes\n"
                         "Code page: 850\n"
                         "Sort order: intl850\n"
                         "Records: 1\n"
                         "Block size: 2048\n"
                         "Header size: 2048\n"
                         "Record size: 57\n"
                         "Password-protected: no\n"
                         "Fields: 3\n"
                         "  1  Name  A (Alpha)  size 30\n"
                         "  2  Amount  # (BCD)  size 17  scale 2\n"
                         "  3  Picture  G (Graphic)  size 10\n");
}

TEST_F(DumpCliTest, SchemaMarksTheKeyAndChecksThePrimaryIndex) {
  const std::string db = dir_ + "/k.db";
  auto w = TableWriter::Create(db, {{"Id", FieldType::kLong, 0, 0}, {"N", FieldType::kAlpha, 5, 0}},
                               1252, 0, 1);
  ASSERT_TRUE(w.ok());
  ASSERT_TRUE((*w)->Append({{false, "7"}, {false, "x"}}).ok());
  ASSERT_TRUE((*w)->Finish(TableWriter::Replace::kNever).ok());
  CliRun good = RunCli("schema " + db);
  EXPECT_EQ(good.exit_code, 0);
  for (const char* line :
       {"Keyed: yes, on the first 1 field\n", "  1  Id  I (Long integer)  size 4  key\n",
        "  2  N  A (Alpha)  size 5\n",
        "Primary index: k.px, 1 level, 1 entries, agrees with the table\n"}) {
    EXPECT_NE(good.out.find(line), std::string::npos) << line << good.out;
  }
  std::FILE* px = std::fopen((dir_ + "/k.px").c_str(), "r+b");
  ASSERT_NE(px, nullptr);
  std::fseek(px, 2048 + 6, SEEK_SET);  // the first entry's key
  std::fputc(0x7F, px);
  std::fclose(px);
  CliRun bad = RunCli("schema " + db);
  EXPECT_EQ(bad.exit_code, 1);
  EXPECT_NE(bad.out.find("Primary index: k.px does not agree with the table"), std::string::npos)
      << bad.out;
}

TEST_F(DumpCliTest, BadUsageAndMissingFiles) {
  EXPECT_EQ(RunCli("dump").exit_code, 2);
  EXPECT_EQ(RunCli("schema a.db b.db").exit_code, 2);
  const CliRun missing = RunCli("dump " + dir_ + "/none.db");
  EXPECT_EQ(missing.exit_code, 1);
  EXPECT_EQ(missing.out, "corvane-cli: " + dir_ + "/none.db: no such file\n");
}

// schema shows the rules of the real tables that keep them: one line of
// each kind, and every sample with a .val or index exits 0.
TEST(SchemaSamplesCliTest, ShowsTheRulesOfRealTables) {
  const char* root = std::getenv("CORVANE_PARADOX_SAMPLES");
  if (root == nullptr || !*root) GTEST_SKIP() << "CORVANE_PARADOX_SAMPLES is not set";
  struct Shown {
    const char* table;
    const char* line;
  };
  const Shown cases[] = {
      {"mtdemo/FILMS.DB", "  Year: minimum \"1900\"; maximum \"1999\"; picture \"####\"\n"},
      {"mtdemo/EMPLOYEE.DB", "  Store #: picture \"*!\"; lookup STORE.DB, fills all fields"},
      {"fields/logical.db", "  BOOL: required; default \"True\"\n"},
      {"joins/joinb.db", "  Id: lookup joina.db, as help\n"},
      {"joins/fk4.db",
       "Reference: \"reference\": FK1, FK -> two.db (field 1, 2), on update cascade"},
      {"joins/fk2.db", "Reference: \"reference\": FK -> primary.db (field 1), on update refused"},
      {"joins/primary.db", "Referred to by: fk3.db \"reference\"\n"},
      {"db/CUSTOMER.DB", "Secondary index: CUSTOMER.X06 \"City\" on City, 20 entries\n"},
      {"db/AREACODES.DB", "\"ste\" on State, composite, case-insensitive, 370 entries\n"},
      {"joins/indexed.db", "\"Descending\" on Indexed, composite, case-insensitive, descending"},
  };
  for (const Shown& c : cases) {
    const std::string path = std::string(root) + "/" + c.table;
    if (!std::filesystem::exists(path)) continue;
    const CliRun run = RunCli("schema '" + path + "'");
    EXPECT_EQ(run.exit_code, 0) << run.out;
    EXPECT_NE(run.out.find(c.line), std::string::npos) << c.line << "\n" << run.out;
  }
  for (const auto& e : std::filesystem::recursive_directory_iterator(root)) {
    const std::string ext = e.path().extension().string();
    if (ext != ".val" && ext != ".VAL") continue;
    for (const char* db : {".db", ".DB"}) {
      const std::filesystem::path table = std::filesystem::path(e.path()).replace_extension(db);
      if (!std::filesystem::exists(table)) continue;
      const CliRun run = RunCli("schema '" + table.string() + "'");
      EXPECT_EQ(run.exit_code, 0) << run.out;
      EXPECT_NE(run.out.find("Validity checks: "), std::string::npos) << run.out;
    }
  }
}

// The fuzz corpus holds a table whose memo claims almost 4 GiB: under a
// memory limit the damaged value is one error of its record, reported
// before any room is taken for it, and the dump ends with a failure status.
TEST_F(DumpCliTest, AHugeMemoLengthUnderAMemoryLimitIsOneClearError) {
  std::FILE* f = std::fopen(CORVANE_FUZZ_CORPUS "/huge-memo-length", "rb");
  ASSERT_NE(f, nullptr);
  std::string entry;
  char buf[4096];
  for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) entry.append(buf, n);
  std::fclose(f);
  ASSERT_GT(entry.size(), 4u);
  const auto* b = reinterpret_cast<const unsigned char*>(entry.data());
  const size_t db_len = b[0] | (b[1] << 8) | (b[2] << 16) | (size_t{b[3]} << 24);
  ASSERT_LE(db_len, entry.size() - 4);
  WriteFile(dir_ + "/h.db", entry.substr(4, db_len));
  WriteFile(dir_ + "/h.mb", entry.substr(4 + db_len));
  const CliRun run = RunCli("dump " + dir_ + "/h.db", "ulimit -v 1000000; ");
  EXPECT_EQ(run.exit_code, 1) << run.out;
  EXPECT_NE(run.out.find("the blob file " + dir_ + "/h.mb"), std::string::npos) << run.out;
  EXPECT_EQ(run.out.find("bad_alloc"), std::string::npos) << run.out;
  // The record before and the one after the damaged memo are still there.
  EXPECT_NE(run.out.find("1,"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("3,"), std::string::npos) << run.out;
}

}  // namespace
}  // namespace corvane::paradox::testing
