#include "to_paradox_fixture.h"

#include <sqlite3.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>

#include "paradox/writer_support.h"

namespace corvane::testing {

void ToParadoxTest::SetUp() {
  ToPostgresTest::SetUp();
  if (!have_pg_) return;
  program_ = folder_.parent_path() / (folder_.filename().string() + "-program");
  std::filesystem::create_directories(program_);
  const std::string db = (program_ / "dbtemp.mdb").string();
  sqlite3* handle = nullptr;
  ASSERT_EQ(sqlite3_open(db.c_str(), &handle), SQLITE_OK);
  sqlite3_exec(handle, "PRAGMA user_version=1;", nullptr, nullptr, nullptr);
  sqlite3_close(handle);
}

void ToParadoxTest::TearDown() {
  ToPostgresTest::TearDown();
  std::error_code ec;
  if (!program_.empty()) std::filesystem::remove_all(program_, ec);
}

transfer::TransferOutcome ToParadoxTest::SendToParadox() {
  ui::TablesWindow window = fake_.Window();
  window.program_folder = program_.string();
  return transfer::SendTablesToParadox(window);
}

void ToParadoxTest::MakePgTable(const std::string& name, const std::string& definition,
                                const std::vector<std::string>& rows) {
  (void)PgTry("DROP TABLE IF EXISTS \"" + name + "\"");
  drop_after_.push_back(name);
  Pg("CREATE TABLE \"" + name + "\" (" + definition + ")");
  for (const std::string& row : rows) Pg("INSERT INTO \"" + name + "\" VALUES (" + row + ")");
}

void ToParadoxTest::SelectPostgres(const std::vector<std::string>& names) {
  for (const std::string& n : names) fake_.postgres_list.Add(n);
  fake_.postgres_list.SelectNames(names);
}

std::string ToParadoxTest::FirstFailure() const {
  const auto failures = fake_.dialogs.Failures();
  return failures.empty() ? "" : failures.front();
}

std::vector<std::string> ToParadoxTest::TableFilesInFolder() const {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(folder_)) {
    names.push_back(e.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

namespace {

ReadTable Convert(std::string error, std::vector<paradox::FieldInfo> fields,
                  const paradox::testing::Rows& rows) {
  ReadTable out{std::move(error), std::move(fields), {}};
  for (const auto& row : rows) {
    out.rows.emplace_back();
    for (const paradox::Cell& c : row) {
      out.rows.back().push_back(c.null ? std::nullopt : std::optional(c.text));
    }
  }
  return out;
}

}  // namespace

ReadTable ReadOurs(const std::string& db_path) {
  auto back = paradox::testing::ReadWithOurReader(db_path);
  return Convert(back.error, back.info.fields, back.rows);
}

std::pair<int, std::string> ShellOutput(const std::string& command) {
  std::string output;
  FILE* p = popen(command.c_str(), "r");
  if (p == nullptr) return {-1, output};
  char buf[4096];
  for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) output.append(buf, n);
  const int status = pclose(p);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

ReadTable ReadPxlib(const std::string& db_path) {
  auto back = paradox::testing::ReadWithPxlib(db_path);
  return Convert(back.error, back.fields, back.rows);
}

}  // namespace corvane::testing
