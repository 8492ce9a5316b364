// Memory for one large value, each way: a 100 MB memo (also one in a
// double-byte code page) and a 100 MB binary value sent from Paradox to
// PostgreSQL, and a 100 MB text and a 100 MB bytea sent from PostgreSQL
// to Paradox. Reported as the growth of the
// resident set while the handler runs, divided by the value's size, beside
// libpq fetching the same PostgreSQL value with one plain SELECT (the least
// any libpq client pays for it) in the same run.
//
// Usage: large_value_bench --folder DIR [--mb N] [--only memo|sjis|binary|text|bytea]
// The server comes from CORVANE_TEST_PGHOST/PORT/USER/PASSWORD/DATABASE.
#include <libpq-fe.h>
#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "measure.h"
#include "paradox/table_writer.h"
#include "support/pg_connect.h"
#include "transfer/to_paradox.h"
#include "transfer/to_postgres.h"
#include "ui/memory_surfaces.h"

namespace {

using namespace corvane;
using namespace corvane::bench;
namespace fs = std::filesystem;

// One row: the value of `bytes` bytes in a field of `type`; a memo in
// `code_page` 932 has a double-byte character in every hundred bytes.
bool WriteParadox(const fs::path& db, paradox::FieldType type, size_t bytes,
                  int code_page = 1252) {
  auto w = paradox::TableWriter::Create(db.string(), {{"V", type, 11, 0}}, code_page);
  if (!w.ok()) return false;
  std::string value;
  if (type == paradox::FieldType::kMemo && code_page == 932) {
    value.reserve(bytes + bytes / 100);
    while (value.size() < bytes) value += std::string(98, 'm') + "\xE6\x97\xA5";  // 日
  } else if (type == paradox::FieldType::kMemo) {
    value.assign(bytes, 'm');
  } else {
    value = "\\x";
    value.reserve(2 + 2 * bytes);
    for (size_t i = 0; i < bytes; ++i) value += "0123456789abcdef"[(i * 7) % 16], value += 'f';
  }
  Status st = (*w)->Append({{false, value}});
  value = std::string();
  return st.ok() && (*w)->Finish(paradox::TableWriter::Replace::kAllowed).ok();
}

struct Window {
  explicit Window(const ConnectionSettings& s) : fixed(s) {}
  ui::MemoryTableList pg, px;
  ui::MemoryProgressBar bar;
  ui::ScriptedDialogs dialogs;
  ui::MemoryPointer pointer;
  ui::CountingPump pump;
  ui::FixedSettings fixed;
  ui::TablesWindow Get(const std::string& program) {
    return ui::TablesWindow{pg, px, bar, dialogs, pointer, pump, fixed, program};
  }
};

// Growth of the peak resident set while `run` runs, in MB.
template <typename F>
double PeakGrowthMb(F&& run) {
  const long before = CurrentKib();
  ResetPeak();
  run();
  return (PeakKib() - before) / 1024.0;
}

void Report(const char* what, double mb, double ours, double peer) {
  std::printf("%-28s %6.0f MB value  ours %7.0f MB (%.2fx the value)", what, mb, ours, ours / mb);
  if (peer > 0) std::printf("  libpq SELECT %7.0f MB  ratio %.2f", peer, ours / peer);
  std::printf("\n");
}

double ToPostgres(const ConnectionSettings& s, const std::string& table) {
  Window w(s);
  w.px.Add(table);
  w.px.SelectNames({table});
  auto window = w.Get("");
  const double mb = PeakGrowthMb([&] { transfer::SendTablesToPostgres(window); });
  if (!w.dialogs.Failures().empty()) std::fprintf(stderr, "%s\n", w.dialogs.Failures()[0].c_str());
  return mb;
}

double ToParadox(const ConnectionSettings& s, const fs::path& program, const std::string& table) {
  Window w(s);
  w.pg.Add(table);
  w.pg.SelectNames({table});
  auto window = w.Get(program.string());
  const double mb = PeakGrowthMb([&] { transfer::SendTablesToParadox(window); });
  if (!w.dialogs.Failures().empty()) std::fprintf(stderr, "%s\n", w.dialogs.Failures()[0].c_str());
  return mb;
}

double PlainSelect(PGconn* pg, const std::string& table) {
  return PeakGrowthMb([&] { PQclear(PQexec(pg, ("SELECT * FROM " + table).c_str())); });
}

}  // namespace

int main(int argc, char** argv) {
  std::string folder;
  size_t mb = 100;
  std::string only;  // one case alone, e.g. under a heap profiler
  for (int i = 1; i + 1 < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--folder") folder = argv[++i];
    if (arg == "--mb") mb = std::strtoul(argv[++i], nullptr, 10);
    if (arg == "--only") only = argv[++i];
  }
  if (folder.empty()) return std::fprintf(stderr, "--folder DIR is required\n"), 2;
  const fs::path px = fs::path(folder) / "px", program = fs::path(folder) / "program";
  fs::remove_all(px);
  fs::remove_all(program);
  fs::create_directories(px);
  fs::create_directories(program);
  sqlite3* db = nullptr;
  sqlite3_open((program / "dbtemp.mdb").c_str(), &db);
  sqlite3_exec(db, "PRAGMA user_version=1;", nullptr, nullptr, nullptr);
  sqlite3_close(db);
  const ConnectionSettings s = SettingsFromEnv(px.string());
  PGconn* pg = testing::ConnectLibpq(s);
  if (PQstatus(pg) != CONNECTION_OK) return std::fprintf(stderr, "%s", PQerrorMessage(pg)), 1;
  const size_t bytes = mb << 20;

  auto wanted = [&](const char* name) { return only.empty() || only == name; };
  if ((wanted("memo") && !WriteParadox(px / "BIGMEMO.db", paradox::FieldType::kMemo, bytes)) ||
      (wanted("sjis") &&
       !WriteParadox(px / "BIGSJIS.db", paradox::FieldType::kMemo, bytes, 932)) ||
      (wanted("binary") && !WriteParadox(px / "BIGBIN.db", paradox::FieldType::kBinary, bytes))) {
    return std::fprintf(stderr, "cannot write the Paradox tables\n"), 1;
  }
  testing::ExecLibpq(pg, "DROP TABLE IF EXISTS \"BIGMEMO\"");
  testing::ExecLibpq(pg, "DROP TABLE IF EXISTS \"BIGBIN\"");
  testing::ExecLibpq(pg, "DROP TABLE IF EXISTS \"BIGSJIS\"");
  if (wanted("memo")) Report("memo to PostgreSQL", mb, ToPostgres(s, "BIGMEMO"), 0);
  if (wanted("sjis")) Report("memo (cp 932) to PostgreSQL", mb, ToPostgres(s, "BIGSJIS"), 0);
  if (wanted("binary")) Report("binary to PostgreSQL", mb, ToPostgres(s, "BIGBIN"), 0);

  const std::string n = std::to_string(bytes);
  if (!testing::ExecLibpq(pg, "DROP TABLE IF EXISTS bigtext; DROP TABLE IF EXISTS bigbytea") ||
      // A column after the value, as in most tables: SQLite then cannot leave
      // a placeholder for it unmade.
      !testing::ExecLibpq(pg, "CREATE TABLE bigtext AS SELECT repeat('t', " + n + ") AS v, 1 AS n") ||
      !testing::ExecLibpq(pg, "CREATE TABLE bigbytea AS SELECT decode(repeat('5a', " + n +
                                  "), 'hex') AS v, 1 AS n")) {
    return 1;
  }
  // Ours first, then the peer's, each from where the other left memory.
  if (wanted("text")) {
    const double ours = ToParadox(s, program, "bigtext");
    Report("text to Paradox", mb, ours, PlainSelect(pg, "bigtext"));
  }
  if (wanted("bytea")) {
    const double ours = ToParadox(s, program, "bigbytea");
    Report("bytea to Paradox", mb, ours, PlainSelect(pg, "bigbytea"));
  }
  testing::ExecLibpq(pg, "DROP TABLE IF EXISTS bigtext; DROP TABLE IF EXISTS bigbytea");
  testing::ExecLibpq(pg, "DROP TABLE IF EXISTS \"BIGMEMO\"; DROP TABLE IF EXISTS \"BIGBIN\"");
  testing::ExecLibpq(pg, "DROP TABLE IF EXISTS \"BIGSJIS\"");
  PQfinish(pg);
  return 0;
}
