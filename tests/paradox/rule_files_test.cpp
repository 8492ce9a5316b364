// Validity checks and secondary indexes written with a table: read back by
// our reader, the index records read by pxlib and each found in the table
// where its place fields say, the .y checked by pxlib as the primary index
// of its .x; rules without a form left off with a word; rule files placed,
// replaced and renamed with their table, and none left by a full disk.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <chrono>
#include <map>
#include <random>
#include <thread>

#include "paradox/rule_file_names.h"
#include "paradox/table_reader.h"
#include "paradox/table_rules.h"
#include "paradox/table_set_aside.h"
#include "paradox/table_writer.h"
#include "support/test_seed.h"
#include "index_check.h"
#include "writer_support.h"

namespace corvane::paradox {
namespace {

namespace fs = std::filesystem;
using testing::ScratchFolder;

std::string Slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

const std::vector<FieldInfo> kFields = {{"Id", FieldType::kLong, 0, 0},
                                        {"Name", FieldType::kAlpha, 12, 0},
                                        {"Qty", FieldType::kShort, 0, 0},
                                        {"When", FieldType::kDate, 0, 0},
                                        {"Note", FieldType::kMemo, 20, 0}};

testing::Rows SomeRows(int n) {
  testing::Rows rows;
  const char* names[] = {"apple", "Apple", "BANANA", "cherry", "Cherry", ""};
  for (int i = 0; i < n; ++i) {
    char date[16];
    std::snprintf(date, sizeof date, "20%02d-%02d-%02d", i / 336, i / 28 % 12 + 1, i % 28 + 1);
    rows.push_back({testing::Text(std::to_string(i + 1)),
                    testing::Text(std::string(names[i % 6]) + (i % 6 == 5 ? "" : std::to_string(i % 7))),
                    i % 9 == 0 ? testing::Null() : testing::Text(std::to_string(i % 40 - 20)),
                    testing::Text(date), testing::Text("n" + std::to_string(i))});
  }
  return rows;
}

Status WriteTable(const std::string& path, int key_fields, const testing::Rows& rows,
                  const RulesToWrite& rules, std::vector<std::string>* left_off = nullptr,
                  TableWriter::Replace replace = TableWriter::Replace::kNever) {
  auto w = TableWriter::Create(path, kFields, 1252, 0, key_fields);
  if (!w.ok()) return w.status();
  for (const auto& row : rows) {
    Status s = (*w)->Append(row);
    if (!s.ok()) return Status::Error(s.code(), "row " + row[0].text + ": " + s.message());
  }
  (*w)->SetRules(rules);
  Status st = (*w)->Finish(replace);
  if (left_off) *left_off = (*w)->rules_left_off();
  return st;
}

struct Expect {
  NamedIndex asked;
  std::vector<int> fields;
  bool composite;
};

TEST(RuleFilesTest, IndexesAndChecksReadBackAndFindTheirRecords) {
  const std::vector<Expect> indexes = {
      {{"", {"Qty"}}, {2}, false},
      {{"", {"Name"}}, {1}, false},
      {{"ByNameQty", {"Name", "qty"}}, {1, 2}, true},
      {{"Folded", {"Name"}, true}, {1}, true},
      {{"Latest", {"When"}, false, false, true}, {3}, true},
      {{"OneEach", {"When"}, false, true}, {3}, true},
  };
  RulesToWrite rules;
  for (const Expect& e : indexes) rules.indexes.push_back(e.asked);
  rules.fields = {{"Qty", true, "-20", "19", "3", ""},
                  {"name", false, std::nullopt, std::nullopt, "x", "*!"}};
  for (int key_fields : {0, 1}) {
    SCOPED_TRACE("key fields " + std::to_string(key_fields));
    ScratchFolder dir;
    const std::string path = dir.File("ORDERS.DB");
    std::vector<std::string> left_off;
    ASSERT_EQ(WriteTable(path, key_fields, SomeRows(700), rules, &left_off).message(), "");
    EXPECT_TRUE(left_off.empty()) << left_off.front();
    Result<TableInfo> info = TableReader::ReadInfo(path);
    ASSERT_TRUE(info.ok());
    const TableRules back = ReadTableRules(*info);
    ASSERT_TRUE(back.problems.empty()) << back.problems.front();
    ASSERT_TRUE(back.validity);
    ASSERT_EQ(back.validity->rules.size(), 2u);
    EXPECT_EQ(back.validity->rules[0].field, 2);
    EXPECT_TRUE(back.validity->rules[0].required);
    EXPECT_EQ(back.validity->rules[0].minimum, "-20");
    EXPECT_EQ(back.validity->rules[0].maximum, "19");
    EXPECT_EQ(back.validity->rules[0].default_value, "3");
    EXPECT_EQ(back.validity->rules[1].default_value, "x");
    EXPECT_EQ(back.validity->rules[1].picture, "*!");
    ASSERT_EQ(back.indexes.size(), indexes.size());
    std::map<std::string, const SecondaryIndex*> by_name;
    for (const SecondaryIndex& x : back.indexes) by_name[x.name] = &x;
    for (const Expect& e : indexes) {
      const std::string name = e.asked.name.empty() ? e.asked.fields[0] : e.asked.name;
      ASSERT_TRUE(by_name.count(name)) << name;
      const SecondaryIndex& x = *by_name[name];
      EXPECT_EQ(x.fields, e.fields) << name;
      EXPECT_EQ(x.composite, e.composite) << name;
      EXPECT_EQ(x.case_insensitive, e.asked.case_insensitive) << name;
      EXPECT_EQ(x.unique, e.asked.unique) << name;
      EXPECT_EQ(x.descending, e.asked.descending) << name;
      EXPECT_EQ(x.entries, 700u) << name;
      EXPECT_EQ(testing::IndexRecordsProblem(*info, x, dir.path()), "") << name;
    }
  }
}

// Each rule the table cannot hold costs itself only, with a line naming it.
TEST(RuleFilesTest, RulesWithoutAFormAreLeftOffAndTheTableStands) {
  ScratchFolder dir;
  RulesToWrite rules;
  rules.fields = {{"Name", false, "a", std::nullopt, std::string(13, 'x'), ""},
                  {"Note", true, "m", std::nullopt, std::nullopt, ""},
                  {"Gone", true, std::nullopt, std::nullopt, std::nullopt, ""}};
  rules.indexes = {{"dup", {"Name"}, false, true}, {"", {"Note"}}, {"", {"Gone"}}};
  std::vector<std::string> left_off;
  ASSERT_EQ(WriteTable(dir.File("T.db"), 0, SomeRows(50), rules, &left_off).message(), "");
  ASSERT_EQ(left_off.size(), 6u);
  for (const char* expected : {"\"Name\"", "\"Note\"", "Gone", "same values", "cannot be indexed"}) {
    EXPECT_TRUE(std::any_of(left_off.begin(), left_off.end(),
                            [&](const std::string& l) { return l.find(expected) != l.npos; }))
        << expected;
  }
  EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"T.db", "T.mb", "T.val"}));
  Result<TableInfo> info = TableReader::ReadInfo(dir.File("T.db"));
  ASSERT_TRUE(info.ok());
  const TableRules back = ReadTableRules(*info);
  ASSERT_TRUE(back.validity);
  ASSERT_EQ(back.validity->rules.size(), 2u);
  EXPECT_EQ(back.validity->rules[0].minimum, "a");
  EXPECT_FALSE(back.validity->rules[0].default_value);
  EXPECT_TRUE(back.validity->rules[1].required);
  EXPECT_FALSE(back.validity->rules[1].minimum);
}

// The rule files come and go with their table: refused with it, replaced
// with it (none of the old table's left), renamed with it.
TEST(RuleFilesTest, RuleFilesFollowTheirTable) {
  ScratchFolder dir;
  RulesToWrite first;
  first.fields = {{"Qty", true, std::nullopt, std::nullopt, std::nullopt, ""}};
  first.indexes = {{"", {"Qty"}}, {"", {"When"}}};
  ASSERT_EQ(WriteTable(dir.File("T.DB"), 1, SomeRows(5), first).message(), "");
  const std::vector<std::string> old_files = {"T.DB", "T.MB", "T.PX", "T.VAL", "T.X03",
                                              "T.X04", "T.Y03", "T.Y04"};
  ASSERT_EQ(dir.Entries(), old_files);
  RulesToWrite second;
  second.indexes = {{"pair", {"Name", "Qty"}}};
  EXPECT_FALSE(WriteTable(dir.File("T.DB"), 1, SomeRows(3), second).ok());
  EXPECT_EQ(dir.Entries(), old_files);
  ASSERT_EQ(WriteTable(dir.File("T.DB"), 1, SomeRows(3), second, nullptr, TableWriter::Replace::kAllowed).message(), "");
  EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"T.DB", "T.MB", "T.PX", "T.XG0", "T.YG0"}));

  // Renamed by hand, then the names inside follow.
  ASSERT_EQ(WriteTable(dir.File("OLDNAME.db"), 0, SomeRows(3), first).message(), "");
  for (const std::string& e : dir.Entries()) {
    if (e.rfind("OLDNAME.", 0) == 0) fs::rename(dir.path() / e, dir.path() / ("NEW" + e.substr(7)));
  }
  EXPECT_TRUE(StoreTableNameInRuleFiles(dir.path() / "NEW.db").empty());
  Result<TableInfo> info = TableReader::ReadInfo(dir.File("NEW.db"));
  ASSERT_TRUE(info.ok());
  const TableRules back = ReadTableRules(*info);
  ASSERT_TRUE(back.validity);
  EXPECT_EQ(back.validity->table_name, "NEW.db");
  ASSERT_EQ(back.indexes.size(), 2u);
  for (const auto& [file, name] : {std::pair{"NEW.x03", "NEW.x03"}, {"NEW.y03", "NEW.y03"}}) {
    EXPECT_NE(Slurp(dir.path() / file).find(std::string(name) + '\0'), std::string::npos) << file;
    EXPECT_EQ(Slurp(dir.path() / file).find("OLDNAME"), std::string::npos) << file;
  }
}

// A disk that fills while the rule files are written fails the table, and
// nothing is left: no table, no rule file, no scratch file.
TEST(RuleFilesTest, AFullDiskLeavesNothingBehind) {
  ScratchFolder dir;
  const fs::path small = dir.path() / "small";
  fs::create_directories(small);
  if (::geteuid() != 0 || ::mount("tmpfs", small.c_str(), "tmpfs", 0, "size=600k") != 0) {
    GTEST_SKIP() << "cannot mount a small tmpfs here (needs root)";
  }
  struct Unmount {
    const fs::path& at;
    ~Unmount() { ::umount(at.c_str()); }
  } unmount{small};
  std::vector<FieldInfo> wide = {{"Text", FieldType::kAlpha, 250, 0}};
  auto w = TableWriter::Create((small / "W.db").string(), wide, 1252, 0, 0);
  ASSERT_TRUE(w.ok());
  for (int i = 0; i < 1400; ++i) {
    ASSERT_TRUE((*w)->Append({testing::Text("row " + std::to_string(i * 7919 % 1400))}).ok());
  }
  RulesToWrite rules;
  rules.indexes = {{"", {"Text"}}, {"again", {"Text"}, true}};
  (*w)->SetRules(rules);
  const Status st = (*w)->Finish(TableWriter::Replace::kNever);
  std::vector<std::string> left;
  for (const auto& e : fs::directory_iterator(small)) left.push_back(e.path().filename().string());
  EXPECT_FALSE(st.ok());
  EXPECT_TRUE(left.empty()) << left.front();
}

// Version `v` of table K over whatever K is, replaced as the export does it
// (the old table set aside at the last moment). The versions differ in
// their rules: an index on Name and checks, or two others and none.
Status WriteVersion(const fs::path& folder, char v) {
  RulesToWrite rules;
  if (v == 'a') {
    rules.fields = {{"Qty", true, std::nullopt, std::nullopt, std::nullopt, ""}};
    rules.indexes = {{"", {"Name"}}};
  } else {
    rules.indexes = {{"pair", {"Name", "Qty"}}, {"", {"When"}}};
  }
  testing::Rows rows = SomeRows(20000);
  for (auto& row : rows) row[1] = testing::Text(std::string(1, v) + row[0].text);
  auto w = TableWriter::Create((folder / "K.db").string(), kFields, 1252, 0, 0);
  if (!w.ok()) return w.status();
  for (const auto& row : rows) CORVANE_RETURN_IF_ERROR((*w)->Append(row));
  (*w)->SetRules(rules);
  std::unique_ptr<TableSetAside> old;
  CORVANE_RETURN_IF_ERROR((*w)->Finish([&]() -> Status {
    auto aside = TableSetAside::Create(folder, "K");
    if (aside.ok()) old = std::move(aside).value();
    return aside.ok() || aside.status().code() == Status::Code::kNotFound ? Status::Ok()
                                                                           : aside.status();
  }));
  return old ? old->Discard() : Status::Ok();
}

// Killed at random moments while it replaces a table, the writer leaves
// (once the folder is recovered, as every listing does) the old table with
// its own rule files or the new one with its own, and nothing else.
TEST(RuleFilesTest, KilledAtRandomMomentsTheTableAndItsRulesAreWholeOldOrNew) {
  ScratchFolder dir;
  auto run = [&](char v) {
    const pid_t pid = ::fork();
    if (pid == 0) ::_exit(WriteVersion(dir.path(), v).ok() ? 0 : 1);
    return pid;
  };
  const auto t0 = std::chrono::steady_clock::now();
  int status = 0;
  ::waitpid(run('a'), &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  const auto full = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - t0);
  const std::map<char, std::vector<std::string>> files = {
      {'a', {"K.db", "K.mb", "K.val", "K.x02", "K.y02"}},
      {'b', {"K.db", "K.mb", "K.x04", "K.xg0", "K.y04", "K.yg0"}}};
  const unsigned seed = corvane::testing::TestSeed();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  std::uniform_int_distribution<int64_t> moment(0, full.count() * 11 / 10);
  char now = 'a';
  for (int i = 0; i < 12; ++i) {
    const pid_t pid = run(now == 'a' ? 'b' : 'a');
    std::this_thread::sleep_for(std::chrono::milliseconds(moment(random)));
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(RecoverInterruptedWrites(dir.path()).ok());
    Result<TableInfo> info = TableReader::ReadInfo(dir.File("K.db"));
    ASSERT_TRUE(info.ok()) << info.status().message();
    testing::ReadBack rows = testing::ReadWithOurReader(dir.File("K.db"));
    ASSERT_EQ(rows.rows.size(), 20000u);
    now = rows.rows[0][1].text[0];
    ASSERT_TRUE(files.count(now)) << rows.rows[0][1].text;
    EXPECT_EQ(dir.Entries(), files.at(now)) << "round " << i;
    const TableRules rules = ReadTableRules(*info);
    EXPECT_TRUE(rules.problems.empty()) << rules.problems.front();
    for (const SecondaryIndex& x : rules.indexes) EXPECT_EQ(x.entries, 20000u) << x.file;
  }
  // Not killed, the other version takes the table's place with its rules.
  const char other = now == 'a' ? 'b' : 'a';
  ::waitpid(run(other), &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(dir.Entries(), files.at(other));
}

// Real files renamed: their stored names follow, every layout (level 4 and
// 5 .val, level 5 and 7 indexes) still reads the same, and a level 3 .val,
// which stores no name, is left as it was.
TEST(RuleFilesSamplesTest, RenamedSamplesNameTheirNewTableInside) {
  const char* root = std::getenv("CORVANE_PARADOX_SAMPLES");
  if (root == nullptr || !*root) GTEST_SKIP() << "CORVANE_PARADOX_SAMPLES is not set";
  ScratchFolder dir;
  int n = 0;
  for (const char* table : {"db/AREACODES.DB", "joins/fk4.db", "joins/C.DB", "mtdemo/FILMS.DB",
                            "fields/logical.db"}) {
    SCOPED_TRACE(table);
    const fs::path sample = fs::path(root) / table;
    const std::string stem = "REN" + std::to_string(++n);
    for (const auto& file : fs::directory_iterator(sample.parent_path())) {
      if (file.path().stem() == sample.stem()) {
        fs::copy_file(file.path(), dir.path() / (stem + file.path().extension().string()));
      }
    }
    const fs::path db = dir.path() / (stem + sample.extension().string());
    Result<TableInfo> before = TableReader::ReadInfo(sample.string());
    Result<TableInfo> after = TableReader::ReadInfo(db.string());
    ASSERT_TRUE(before.ok() && after.ok());
    const TableRules want = ReadTableRules(*before);
    EXPECT_TRUE(StoreTableNameInRuleFiles(db).empty());
    const TableRules got = ReadTableRules(*after);
    EXPECT_TRUE(got.problems.empty()) << got.problems.front();
    ASSERT_EQ(got.indexes.size(), want.indexes.size());
    for (size_t i = 0; i < want.indexes.size(); ++i) {
      EXPECT_EQ(got.indexes[i].fields, want.indexes[i].fields);
      EXPECT_EQ(Slurp(want.indexes[i].file).size(), Slurp(got.indexes[i].file).size());
      EXPECT_NE(Slurp(got.indexes[i].file).find(stem + "."), std::string::npos);
    }
    ASSERT_EQ(got.validity.has_value(), want.validity.has_value());
    if (!want.validity) continue;
    EXPECT_EQ(got.validity->rules.size(), want.validity->rules.size());
    const bool level3 = want.validity->version_byte == 0x01;
    EXPECT_EQ(got.validity->table_name.find(stem) != std::string::npos, !level3)
        << got.validity->table_name;
  }
}

}  // namespace
}  // namespace corvane::paradox
