// Rows per second sending one 10-column PostgreSQL table to Paradox, beside
// COPY (SELECT ...) TO STDOUT of the same table (the fastest way to get the
// rows out of the server at all), in one run against the same server.
//   ours - the "Send Table/s To Paradox" handler: read, staging database,
//          export into a .db file
//   copy - libpq reading COPY output into a file in the same folder
// Peak memory is the growth of the resident set while the handler runs.
//
// With --memo the table is three columns, one of them a text of about 1 KB
// that becomes a memo. In the 10-column table the last column outgrows a
// Long after row 271,175, so the first field guess for it is wrong.
// The two runs alternate for --rounds rounds (a loaded machine slows
// either), and the ratio is of the summed times. --keep-types copies
// with field types and keys kept.
//
// Usage: to_paradox_bench [--rows N] [--folder DIR] [--memo] [--keep-table]
//                         [--rounds N] [--keep-types]
// The server comes from CORVANE_TEST_PGHOST/PORT/USER/PASSWORD/DATABASE.
#include <libpq-fe.h>
#include <sqlite3.h>
#include <sys/resource.h>

#include <chrono>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "measure.h"
#include "support/pg_connect.h"
#include "transfer/to_paradox.h"
#include "ui/memory_surfaces.h"

namespace {

using namespace corvane;
using namespace corvane::bench;
namespace fs = std::filesystem;

constexpr const char* kTable = "bench_topx";

struct Args {
  long rows = 1000000;
  std::string folder;
  bool keep_table = false;
  bool memo = false;
  bool keep_types = false;
  int rounds = 1;
};

PGconn* Connect(const ConnectionSettings& s) { return testing::ConnectLibpq(s); }

// An id, a name and a text of 1000 to 1100 characters that differs per row.
bool MakeMemoTable(PGconn* pg, long rows) {
  return testing::ExecLibpq(pg, std::string("DROP TABLE IF EXISTS ") + kTable) &&
         testing::ExecLibpq(pg,
              std::string("CREATE TABLE ") + kTable + " (id int4, name varchar(20), memo text)") &&
         testing::ExecLibpq(pg, std::string("INSERT INTO ") + kTable +
                      " SELECT i, 'Name ' || (i % 5000), "
                      "repeat(md5(i::text) || ' it''s a long note \\ ', 20 + i % 3) "
                      "FROM generate_series(1, " +
                      std::to_string(rows) + ") AS i");
}

// Ten columns of the common kinds, with quotes, NULLs and empty texts.
bool MakeTable(PGconn* pg, long rows) {
  return testing::ExecLibpq(pg, std::string("DROP TABLE IF EXISTS ") + kTable) &&
         testing::ExecLibpq(pg, std::string("CREATE TABLE ") + kTable +
                      " (id int4, name varchar(20), amount float8, born date, qty int2, "
                      "note text, price numeric(10,2), active bool, stamp timestamp, ref int8)") &&
         testing::ExecLibpq(pg, std::string("INSERT INTO ") + kTable +
                      " SELECT i, 'Name ' || (i % 5000), (i % 100000) / 8.0, "
                      "date '1950-01-01' + (i % 20000), i % 30000, "
                      "CASE WHEN i % 7 = 0 THEN 'O''Neil & sons \\ branch ' || i "
                      "WHEN i % 11 = 0 THEN '' ELSE 'customer note number ' || i END, "
                      "(i % 1000) + 0.25, i % 2 = 1, "
                      "timestamp '2020-05-17 10:11:12' + i * interval '1 second', "
                      "CASE WHEN i % 13 = 0 THEN NULL WHEN i > 271175 THEN -i * 10000::int8 "
                      "ELSE -i END "
                      "FROM generate_series(1, " +
                      std::to_string(rows) + ") AS i");
}

struct Measured {
  long rows = 0;
  double seconds = 0;
  double cpu = 0;  // of this process
  double rate() const { return seconds > 0 ? rows / seconds : 0; }
};

Measured RunCopy(PGconn* pg, long rows, const fs::path& file, long& bytes) {
  const auto start = Clock::now();
  const double cpu = CpuSeconds();
  std::FILE* out = std::fopen(file.c_str(), "wb");
  if (!out) std::perror(file.c_str());
  PGresult* r = PQexec(pg, (std::string("COPY (SELECT * FROM ") + kTable + ") TO STDOUT").c_str());
  if (PQresultStatus(r) != PGRES_COPY_OUT) std::fprintf(stderr, "%s", PQerrorMessage(pg));
  PQclear(r);
  char* buf = nullptr;
  int n;
  long lines = 0;
  bytes = 0;
  while ((n = PQgetCopyData(pg, &buf, 0)) > 0) {
    bytes += n;
    ++lines;
    if (out) std::fwrite(buf, 1, static_cast<size_t>(n), out);
    PQfreemem(buf);
  }
  while ((r = PQgetResult(pg)) != nullptr) PQclear(r);
  if (out) std::fclose(out);
  if (lines != rows) std::fprintf(stderr, "copy: %ld rows, expected %ld\n", lines, rows);
  return {rows, Seconds(start), CpuSeconds() - cpu};
}

// Notes when the rows are all staged: the bar goes back to rest before the
// export begins.
class LastValueBar : public ui::ProgressBar {
 public:
  void SetValue(double v) override {
    if (v == 0 && value > 0 && staged == Clock::time_point()) staged = Clock::now();
    value = v;
  }
  void SetText(const std::string&) override {}
  double value = 0;
  Clock::time_point staged;
};

Measured RunOurs(const ConnectionSettings& settings, const fs::path& program, long rows,
                 bool keep_types, long& peak_growth_kib, double& staging_s) {
  ui::MemoryTableList pg, px;
  pg.Add(kTable);
  pg.SelectNames({kTable});
  LastValueBar bar;
  ui::ScriptedDialogs dialogs;
  ui::MemoryPointer pointer;
  ui::CountingPump pump;
  ui::FixedSettings fixed(settings);
  ui::TablesWindow window{pg, px, bar, dialogs, pointer, pump, fixed, program.string()};
  const long before = StatusKib("VmRSS:");
  ResetPeak();
  const auto start = Clock::now();
  const double cpu = CpuSeconds();
  transfer::ToParadoxOptions options;
  options.keep_types = keep_types;
  const transfer::TransferOutcome out = transfer::SendTablesToParadoxWith(window, options);
  Measured m{rows, Seconds(start), CpuSeconds() - cpu};
  staging_s = std::chrono::duration<double>(bar.staged - start).count();
  peak_growth_kib = StatusKib("VmHWM:") - before;
  if (out.failures > 0) {
    std::fprintf(stderr, "ours: %d failures; the first:\n%s\n", out.failures,
                 dialogs.Failures().front().c_str());
  }
  return m;
}

Args Parse(int argc, char** argv) {
  Args a;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--rows" && i + 1 < argc) a.rows = std::atol(argv[++i]);
    if (arg == "--folder" && i + 1 < argc) a.folder = argv[++i];
    if (arg == "--keep-table") a.keep_table = true;
    if (arg == "--memo") a.memo = true;
    if (arg == "--keep-types") a.keep_types = true;
    if (arg == "--rounds" && i + 1 < argc) a.rounds = std::max(1, std::atoi(argv[++i]));
  }
  return a;
}

// A fresh folder for the table files and one for the program's dbtemp.mdb.
bool Prepare(const Args& args, fs::path& px, fs::path& program) {
  px = fs::path(args.folder) / "px";
  program = fs::path(args.folder) / "program";
  fs::remove_all(px);
  fs::remove_all(program);
  fs::create_directories(px);
  fs::create_directories(program);
  sqlite3* db = nullptr;
  const bool ok = sqlite3_open((program / "dbtemp.mdb").c_str(), &db) == SQLITE_OK &&
                  sqlite3_exec(db, "PRAGMA user_version=1;", nullptr, nullptr, nullptr) == 0;
  sqlite3_close(db);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  const Args args = Parse(argc, argv);
  if (args.folder.empty()) return std::fprintf(stderr, "--folder DIR is required\n"), 2;
  fs::path px, program;
  if (!Prepare(args, px, program)) return std::fprintf(stderr, "cannot prepare folders\n"), 1;
  const ConnectionSettings settings = SettingsFromEnv(px.string());
  PGconn* pg = Connect(settings);
  if (PQstatus(pg) != CONNECTION_OK) return std::fprintf(stderr, "%s", PQerrorMessage(pg)), 1;
  if (!(args.memo ? MakeMemoTable(pg, args.rows) : MakeTable(pg, args.rows))) return 1;
  testing::ExecLibpq(pg, std::string("VACUUM ANALYZE ") + kTable);

  long copy_bytes = 0, peak = 0;
  double staging = 0;
  Measured copy_sum, ours_sum;
  const fs::path out = px / (std::string(kTable).substr(0, 8) + ".db");
  const fs::path memo = px / (std::string(kTable).substr(0, 8) + ".mb");
  for (int round = 1; round <= args.rounds; ++round) {
    fs::remove(out);
    fs::remove(memo);
    const Measured copy = RunCopy(pg, args.rows, fs::path(args.folder) / "copy.out", copy_bytes);
    fs::remove(fs::path(args.folder) / "copy.out");
    const Measured ours = RunOurs(settings, program, args.rows, args.keep_types, peak, staging);
    copy_sum = {args.rows, copy_sum.seconds + copy.seconds, copy_sum.cpu + copy.cpu};
    ours_sum = {args.rows, ours_sum.seconds + ours.seconds, ours_sum.cpu + ours.cpu};
    std::printf("round %d\n", round);
    std::printf("copy   %10.0f rows/s  %7.2f s (client CPU %.2f s)\n", copy.rate(), copy.seconds,
                copy.cpu);
    std::printf(
        "ours   %10.0f rows/s  %7.2f s (client CPU %.2f s, %.0f rows per CPU second)"
        "  peak memory growth %ld KiB\n",
        ours.rate(), ours.seconds, ours.cpu, ours.cpu > 0 ? ours.rows / ours.cpu : 0.0, peak);
    std::printf("       reading and staging %.2f s, export %.2f s\n", staging,
                ours.seconds - staging);
    std::printf("ratio  ours/copy %.3f\n", copy.rate() > 0 ? ours.rate() / copy.rate() : 0.0);
  }
  std::error_code ec;
  std::printf(
      "table  %ld rows, %s%s; COPY text %.1f MB; %s %.1f MB (+ .mb %.1f MB); dbtemp.mdb "
      "after %.2f MB\n",
      args.rows, args.memo ? "3 columns, a 1 KB memo" : "10 columns",
      args.keep_types ? ", types kept" : "", copy_bytes / 1e6, out.filename().c_str(),
      fs::file_size(out, ec) / 1e6, fs::exists(memo) ? fs::file_size(memo, ec) / 1e6 : 0.0,
      fs::file_size(program / "dbtemp.mdb", ec) / 1e6);
  std::printf("all %d rounds: ours/copy %.3f of the time; client CPU ours %.2f s, copy %.2f s "
              "(%.1fx)\n",
              args.rounds, ours_sum.seconds > 0 ? copy_sum.seconds / ours_sum.seconds : 0.0,
              ours_sum.cpu, copy_sum.cpu, copy_sum.cpu > 0 ? ours_sum.cpu / copy_sum.cpu : 0.0);
  if (!args.keep_table) testing::ExecLibpq(pg, std::string("DROP TABLE ") + kTable);
  PQfinish(pg);
  return 0;
}
