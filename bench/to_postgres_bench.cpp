// Rows per second copying one 10-column Paradox table into PostgreSQL, three
// ways in one run against the same server:
//   ours  - the "Send Table/s To PostgreSQL" handler (batched, per-row results)
//   plain - one INSERT per round trip with autocommit, the same statement texts
//   copy  - COPY FROM STDIN of the same values (the physical limit)
// All three read the table through the same Paradox driver, so reading costs
// the same everywhere. The plain way runs on the first --plain-rows rows and
// its rate is taken as its rate for the whole table.
//
// With --memo yes the table is three fields, one a Memo of about 1 KB.
//
// Usage: to_postgres_bench [--rows N] [--plain-rows M] [--rounds R] [--folder DIR]
//                          [--batch B] [--copy-rows C] [--only-ours yes] [--memo yes]
// The server comes from CORVANE_TEST_PGHOST/PORT/USER/PASSWORD/DATABASE.
#include <libpq-fe.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "connection/connection.h"
#include "measure.h"
#include "paradox/table_writer.h"
#include "support/pg_connect.h"
#include "transfer/field_types.h"
#include "transfer/to_postgres.h"
#include "ui/memory_surfaces.h"

namespace {

using namespace corvane;
using namespace corvane::bench;

struct Args {
  long rows = 1000000;
  long plain_rows = 20000;
  long batch = 0;      // 0: the handler's default
  long copy_rows = 0;  // 0: the handler's default
  bool only_ours = false;
  bool memo = false;
  int rounds = 3;
  std::string folder;
};

std::string Note(long i) {
  if (i % 7 == 0) return "O'Neil & sons \\ branch " + std::to_string(i);
  if (i % 11 == 0) return "";
  return "customer note number " + std::to_string(i);
}

// BENCH.db with an id, a name and a memo of 1000 to 1100 characters.
bool MakeMemoTable(const std::string& folder, long rows) {
  using paradox::FieldType;
  std::vector<paradox::FieldInfo> fields = {{"ID", FieldType::kLong, 4, 0},
                                            {"NAME", FieldType::kAlpha, 20, 0},
                                            {"MEMO", FieldType::kMemo, 20, 0}};
  auto w =
      paradox::TableWriter::Create(folder + "/BENCH.db", fields, 1252, static_cast<uint64_t>(rows));
  if (!w.ok()) return std::fprintf(stderr, "%s\n", w.status().message().c_str()), false;
  std::vector<paradox::Cell> row(fields.size());
  for (long i = 0; i < rows; ++i) {
    std::string memo;
    const std::string piece = Note(i + 1) + " it's a long note \\ ";
    while (memo.size() < 1000 + static_cast<size_t>(i % 100)) memo += piece;
    row[0] = {false, std::to_string(i + 1)};
    row[1] = {false, "Name " + std::to_string(i % 5000)};
    row[2] = {false, memo};
    if (!(*w)->Append(row).ok()) return std::fprintf(stderr, "append failed\n"), false;
  }
  Status done = (*w)->Finish(paradox::TableWriter::Replace::kAllowed);
  if (!done.ok()) std::fprintf(stderr, "%s\n", done.message().c_str());
  return done.ok();
}

// BENCH.db: ten columns of the common kinds, a few quotes, backslashes and
// empty values among them.
bool MakeTable(const std::string& folder, long rows) {
  using paradox::FieldType;
  std::vector<paradox::FieldInfo> fields = {
      {"ID", FieldType::kLong, 4, 0},         {"NAME", FieldType::kAlpha, 20, 0},
      {"AMOUNT", FieldType::kNumber, 8, 0},   {"BORN", FieldType::kDate, 4, 0},
      {"QTY", FieldType::kShort, 2, 0},       {"NOTE", FieldType::kAlpha, 40, 0},
      {"PRICE", FieldType::kMoney, 8, 0},     {"ACTIVE", FieldType::kLogical, 1, 0},
      {"STAMP", FieldType::kTimestamp, 8, 0}, {"REF", FieldType::kLong, 4, 0}};
  auto w =
      paradox::TableWriter::Create(folder + "/BENCH.db", fields, 1252, static_cast<uint64_t>(rows));
  if (!w.ok()) return std::fprintf(stderr, "%s\n", w.status().message().c_str()), false;
  std::vector<paradox::Cell> row(fields.size());
  for (long i = 0; i < rows; ++i) {
    const std::string texts[] = {std::to_string(i + 1),
                                 "Name " + std::to_string(i % 5000),
                                 std::to_string((i % 100000) / 8.0),
                                 "19" + std::to_string(50 + i % 50) + "-0" +
                                     std::to_string(1 + i % 9) + "-1" + std::to_string(i % 9),
                                 std::to_string(i % 30000),
                                 Note(i),
                                 std::to_string(i % 1000) + ".25",
                                 i % 2 ? "True" : "False",
                                 "2020-05-17 10:11:12",
                                 std::to_string(-i)};
    for (size_t c = 0; c < fields.size(); ++c) row[c] = {texts[c].empty(), texts[c]};
    if (!(*w)->Append(row).ok()) return std::fprintf(stderr, "append failed\n"), false;
  }
  Status done = (*w)->Finish(paradox::TableWriter::Replace::kAllowed);
  if (!done.ok()) std::fprintf(stderr, "%s\n", done.message().c_str());
  return done.ok();
}

class LastValueBar : public ui::ProgressBar {
 public:
  void SetValue(double v) override { value = v; }
  void SetText(const std::string&) override {}
  double value = 0;
};

// The longest wait between two services of the window's pump, from the
// first (connecting to the server comes before it, as it would without
// batching).
class GapPump : public ui::EventPump {
 public:
  void Pump() override {
    const auto now = Clock::now();
    if (served) longest = std::max(longest, std::chrono::duration<double>(now - last).count());
    served = true;
    last = now;
  }
  bool served = false;
  Clock::time_point last;
  double longest = 0;
};

struct Measured {
  long rows = 0;
  double seconds = 0;
  long peak_growth_kib = 0;
  double longest_pump_gap_s = 0;
  double rate() const { return seconds > 0 ? rows / seconds : 0; }
};

Measured RunOurs(const ConnectionSettings& settings, long rows, const Args& args) {
  ui::MemoryTableList pg, px;
  px.Add("BENCH");
  px.SelectNames({"BENCH"});
  LastValueBar bar;
  ui::ScriptedDialogs dialogs;
  ui::MemoryPointer pointer;
  GapPump pump;
  ui::FixedSettings fixed(settings);
  ui::TablesWindow window{pg, px, bar, dialogs, pointer, pump, fixed, ""};
  const long before = CurrentKib();
  ResetPeak();
  const auto start = Clock::now();
  transfer::ToPostgresOptions options;
  if (args.batch > 0) options.batch_rows = static_cast<size_t>(args.batch);
  if (args.copy_rows > 0) options.copy_rows = static_cast<size_t>(args.copy_rows);
  transfer::TransferOutcome out = transfer::SendTablesToPostgresWith(window, options);
  Measured m{rows, Seconds(start), PeakKib() - before, pump.longest};
  if (out.failures > 0) std::fprintf(stderr, "ours: %d failures\n", out.failures);
  return m;
}

struct PgConn {
  explicit PgConn(const ConnectionSettings& s) { conn = testing::ConnectLibpq(s); }
  ~PgConn() { PQfinish(conn); }
  bool Run(const std::string& sql) {
    PGresult* r = PQexec(conn, sql.c_str());
    const bool ok = PQresultStatus(r) == PGRES_COMMAND_OK || PQresultStatus(r) == PGRES_TUPLES_OK;
    if (!ok) std::fprintf(stderr, "%s: %s", sql.substr(0, 60).c_str(), PQerrorMessage(conn));
    PQclear(r);
    return ok;
  }
  PGconn* conn;
};

std::unique_ptr<RecordSet> OpenSource(Connection& px, const ConnectionSettings& s) {
  if (!px.Open(ParadoxConnectionString(s)).ok()) return nullptr;
  auto rs = px.Execute("SELECT * FROM \"BENCH\"");
  return rs.ok() ? std::move(rs).value() : nullptr;
}

const char* kCreate =
    "(\"ID\" NUMERIC,\"NAME\" TEXT,\"AMOUNT\" NUMERIC,\"BORN\" TEXT,\"QTY\" NUMERIC,"
    "\"NOTE\" TEXT,\"PRICE\" TEXT,\"ACTIVE\" TEXT,\"STAMP\" TEXt,\"REF\" NUMERIC);";
const char* kCreateMemo = "(\"ID\" NUMERIC,\"NAME\" TEXT,\"MEMO\" TEXT);";
bool memo_table = false;  // set from --memo
const char* Create() { return memo_table ? kCreateMemo : kCreate; }

Measured RunPlain(const ConnectionSettings& s, long rows) {
  PgConn pg(s);
  pg.Run("DROP TABLE IF EXISTS \"BENCH_PLAIN\"");
  pg.Run(std::string("CREATE TABLE \"BENCH_PLAIN\"") + Create());
  Connection px;
  auto rs = OpenSource(px, s);
  Measured m;
  if (!rs) return m;
  const std::string head = transfer::PostgresInsertHead("BENCH_PLAIN");
  std::string sql;
  const auto start = Clock::now();
  for (; m.rows < rows && !rs->Eof(); ++m.rows) {
    transfer::BuildRowStatement(sql, head, *rs);
    pg.Run(sql);
    if (!rs->MoveNext().ok()) break;
  }
  m.seconds = Seconds(start);
  return m;
}

// COPY text format: \N for null (and, as the row statements do, for empty),
// backslash, tab, newline and carriage return escaped.
void AppendCopyField(std::string& out, const Value& v) {
  if (v.is_null() || v.text().empty()) return void(out += "\\N");
  static constexpr std::string_view kFrom = "\\\t\n\r", kTo = "\\tnr";
  for (char c : v.text()) {
    const size_t k = kFrom.find(c);
    if (k == std::string_view::npos) {
      out += c;
    } else {
      out += '\\';
      out += kTo[k];
    }
  }
}

Measured RunCopy(const ConnectionSettings& s) {
  PgConn pg(s);
  pg.Run("DROP TABLE IF EXISTS \"BENCH_COPY\"");
  pg.Run(std::string("CREATE TABLE \"BENCH_COPY\"") + Create());
  Connection px;
  auto rs = OpenSource(px, s);
  Measured m;
  if (!rs) return m;
  const auto start = Clock::now();
  PQclear(PQexec(pg.conn, "COPY \"BENCH_COPY\" FROM STDIN"));
  std::string buf;
  for (; !rs->Eof(); ++m.rows) {
    for (int c = 0; c < rs->FieldCount(); ++c) {
      if (c) buf += '\t';
      AppendCopyField(buf, rs->FieldValue(c));
    }
    buf += '\n';
    if (buf.size() > (1 << 20)) {
      PQputCopyData(pg.conn, buf.data(), static_cast<int>(buf.size()));
      buf.clear();
    }
    if (!rs->MoveNext().ok()) break;
  }
  PQputCopyData(pg.conn, buf.data(), static_cast<int>(buf.size()));
  PQputCopyEnd(pg.conn, nullptr);
  PGresult* r = PQgetResult(pg.conn);
  if (PQresultStatus(r) != PGRES_COMMAND_OK)
    std::fprintf(stderr, "COPY: %s", PQerrorMessage(pg.conn));
  PQclear(r);
  m.seconds = Seconds(start);
  return m;
}

Args Parse(int argc, char** argv) {
  Args a;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--rows")) a.rows = std::atol(argv[i + 1]);
    if (!std::strcmp(argv[i], "--plain-rows")) a.plain_rows = std::atol(argv[i + 1]);
    if (!std::strcmp(argv[i], "--folder")) a.folder = argv[i + 1];
    if (!std::strcmp(argv[i], "--batch")) a.batch = std::atol(argv[i + 1]);
    if (!std::strcmp(argv[i], "--copy-rows")) a.copy_rows = std::atol(argv[i + 1]);
    if (!std::strcmp(argv[i], "--rounds")) a.rounds = std::max(1, std::atoi(argv[i + 1]));
    if (!std::strcmp(argv[i], "--only-ours")) a.only_ours = !std::strcmp(argv[i + 1], "yes");
    if (!std::strcmp(argv[i], "--memo")) a.memo = !std::strcmp(argv[i + 1], "yes");
  }
  if (a.folder.empty())
    a.folder = (std::filesystem::temp_directory_path() / "corvane-bench").string();
  return a;
}

}  // namespace

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

// One round: the three ways one after the other, so that a busy machine
// slows all three alike. Prints the round and adds its ratios.
void Round(const ConnectionSettings& s, const Args& args, int round, std::vector<double>& vs_plain,
           std::vector<double>& vs_copy) {
  PgConn(s).Run("DROP TABLE IF EXISTS \"BENCH\"");
  const Measured ours = RunOurs(s, args.rows, args);
  const Measured copy = RunCopy(s);
  const Measured plain = RunPlain(s, std::min(args.plain_rows, args.rows));
  std::printf("round %d\n", round);
  std::printf(
      "  ours : %10.0f rows/s  (%ld rows, %.2f s, peak memory +%ld KiB, pump served at least "
      "every %.0f ms)\n",
      ours.rate(), ours.rows, ours.seconds, ours.peak_growth_kib, ours.longest_pump_gap_s * 1000);
  std::printf("  plain: %10.0f rows/s  (%ld rows measured, rate extrapolated)\n", plain.rate(),
              plain.rows);
  std::printf("  copy : %10.0f rows/s  (%ld rows, %.2f s)\n", copy.rate(), copy.rows, copy.seconds);
  vs_plain.push_back(ours.rate() / plain.rate());
  vs_copy.push_back(ours.rate() / copy.rate());
}

int main(int argc, char** argv) {
  const Args args = Parse(argc, argv);
  const ConnectionSettings s = SettingsFromEnv(args.folder);
  if (s.server.empty()) {
    std::fprintf(stderr, "set CORVANE_TEST_PGHOST/PORT/USER/PASSWORD/DATABASE\n");
    return 2;
  }
  std::filesystem::create_directories(args.folder);
  memo_table = args.memo;
  std::printf("table: %s, %ld rows\n", args.memo ? "3 columns, a 1 KB memo" : "10 columns",
              args.rows);
  if (!(args.memo ? MakeMemoTable(args.folder, args.rows) : MakeTable(args.folder, args.rows)))
    return 1;
  if (args.only_ours) {
    PgConn(s).Run("DROP TABLE IF EXISTS \"BENCH\"");
    const Measured ours = RunOurs(s, args.rows, args);
    std::printf("ours : %10.0f rows/s  (peak memory +%ld KiB, pump gap at most %.0f ms)\n",
                ours.rate(), ours.peak_growth_kib, ours.longest_pump_gap_s * 1000);
    return 0;
  }
  std::vector<double> vs_plain, vs_copy;
  for (int r = 1; r <= args.rounds; ++r) Round(s, args, r, vs_plain, vs_copy);
  std::printf(
      "median of %d rounds: ours / plain = %.1f (goal >= 20), ours / copy = %.3f "
      "(goal >= 0.167)\n",
      args.rounds, Median(vs_plain), Median(vs_copy));
  return 0;
}
