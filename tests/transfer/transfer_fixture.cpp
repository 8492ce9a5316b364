#include "transfer_fixture.h"

#include <cstdlib>
#include <sstream>

namespace corvane::testing {

std::vector<std::string> FakeTablesWindow::FailureStatements() const {
  std::vector<std::string> out;
  for (const std::string& text : dialogs.Failures()) {
    const size_t at = text.find("\r\rsql: ");
    out.push_back(at == std::string::npos ? "<no sql>" : text.substr(at + 7));
  }
  return out;
}

void ToPostgresTest::SetUp() {
  auto pg = TestPostgres();
  if (!pg) GTEST_SKIP() << "no test PostgreSQL: run through scripts/test.sh";
  have_pg_ = true;
  temp_ = std::make_unique<TempFolder>("corvane-topg");
  folder_ = temp_->path();
  fake_.settings.settings = *pg;
  fake_.settings.settings.paradox_folder = folder_.string();
}

void ToPostgresTest::TearDown() {
  if (!have_pg_) return;
  for (const std::string& t : drop_after_) (void)PgTry("DROP TABLE IF EXISTS \"" + t + "\"");
  temp_.reset();
}

transfer::TransferOutcome ToPostgresTest::Send(transfer::ToPostgresOptions options,
                                               ui::ProgressBar* bar) {
  ui::TablesWindow window = fake_.Window(nullptr, bar);
  return transfer::SendTablesToPostgresWith(window, options);
}

Status ToPostgresTest::PgTry(const std::string& sql) {
  Connection c;
  CORVANE_RETURN_IF_ERROR(c.Open(PostgresConnectionString(fake_.settings.settings)));
  return c.Execute(sql).status();
}

void ToPostgresTest::Pg(const std::string& sql) {
  Status s = PgTry(sql);
  ASSERT_TRUE(s.ok()) << sql << ": " << s.message();
}

namespace {

Rows ReadAll(RecordSet& rs) {
  Rows rows;
  while (!rs.Eof()) {
    std::vector<Value> row;
    for (int i = 0; i < rs.FieldCount(); ++i) row.push_back(rs.FieldValue(i));
    rows.push_back(std::move(row));
    Status s = rs.MoveNext();
    EXPECT_TRUE(s.ok()) << s.message();
    if (!s.ok()) break;
  }
  return rows;
}

Rows Query(const std::string& connection_string, const std::string& sql) {
  Connection c;
  Status opened = c.Open(connection_string);
  EXPECT_TRUE(opened.ok()) << opened.message();
  auto rs = c.Execute(sql);
  EXPECT_TRUE(rs.ok()) << sql << ": " << rs.status().message();
  if (!rs.ok()) return {};
  return ReadAll(**rs);
}

}  // namespace

Rows ToPostgresTest::PgRows(const std::string& sql) {
  return Query(PostgresConnectionString(fake_.settings.settings), sql);
}

Rows ToPostgresTest::ParadoxRows(const std::string& table) {
  return Query(ParadoxConnectionString(fake_.settings.settings), "SELECT * FROM \"" + table + "\"");
}

void ToPostgresTest::SelectParadox(const std::vector<std::string>& names) {
  for (const std::string& n : names) {
    // Left over from an interrupted run, it would change what the run does.
    (void)PgTry("DROP TABLE IF EXISTS \"" + n + "\"");
    fake_.paradox_list.Add(n);
    drop_after_.push_back(n);
  }
  fake_.paradox_list.SelectNames(names);
}

std::string SummaryLine(const std::string& out, const std::string& table) {
  std::istringstream lines(out);
  std::string found;
  for (std::string line; std::getline(lines, line);) {
    std::istringstream words(line);
    std::string name, read, stored, refused, seconds, result;
    if (words >> name >> read >> stored >> refused >> seconds >> result && name == table) {
      found = read + " " + stored + " " + refused + " " + result;
    }
  }
  return found;
}

}  // namespace corvane::testing
