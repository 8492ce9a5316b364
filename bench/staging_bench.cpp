// What the staging database's journal and sync settings cost: rows per
// second staging one table (CREATE, one transaction of INSERTs with blob
// values as the staging driver binds them, COMMIT, DROP) under
//   shipped  - the settings the program opens the file with (a rollback
//              journal, synced: a kill, power cut or full disk leaves the
//              file whole)
//   memory   - the journal in memory, no syncs (the old settings: a kill
//              part way could leave the file damaged)
//   wal      - a write-ahead log synced at checkpoints, for comparison
// Each runs twice, the second time reusing the pages the first one freed,
// as a second transfer does. The last column is the shipped rate over this
// one (above 1: the shipped settings are faster).
//
// Usage: staging_bench [--rows N] [--folder DIR]
#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "staging/staging_db.h"
#include "measure.h"

namespace {

using namespace corvane;
namespace fs = std::filesystem;

struct Run {
  double rows_per_s = 0;
  double drop_s = 0;
};

bool Stage(staging::StagingDb& db, long rows, Run& out) {
  const auto t0 = bench::Clock::now();
  if (!db.BeginIfNeeded().ok() ||
      !db.Exec("CREATE TABLE b(id INT, name VARCHAR, amount FLOAT, born DATETIME, note MEMO)")
           .ok()) {
    return false;
  }
  auto ins = db.Prepare("INSERT INTO b VALUES(?1, ?2, ?3, ?4, ?5)");
  if (!ins.ok()) return false;
  const std::string note(300, 'n');
  for (long i = 0; i < rows; ++i) {
    const std::string id = std::to_string(i), name = "Name " + std::to_string(i % 5000),
                      amount = std::to_string((i % 100000) / 8.0), born = "1990-01-02 00:00:00";
    const std::string* values[] = {&id, &name, &amount, &born, &note};
    for (int c = 0; c < 5; ++c) {
      sqlite3_bind_blob(ins->get(), c + 1, values[c]->data(), static_cast<int>(values[c]->size()),
                        SQLITE_STATIC);
    }
    if (sqlite3_step(ins->get()) != SQLITE_DONE) return false;
    sqlite3_reset(ins->get());
  }
  if (!db.Commit().ok()) return false;
  out.rows_per_s = static_cast<double>(rows) / bench::Seconds(t0);
  const auto t1 = bench::Clock::now();
  if (!db.Exec("DROP TABLE b").ok()) return false;
  out.drop_s = bench::Seconds(t1);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  long rows = 200000;
  std::string folder = fs::temp_directory_path().string();
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--rows") == 0) rows = std::atol(argv[i + 1]);
    if (std::strcmp(argv[i], "--folder") == 0) folder = argv[i + 1];
  }
  struct Variant {
    const char* name;
    const char* pragmas;  // on top of what Open sets
  } variants[] = {
      {"shipped", nullptr},
      {"memory", "PRAGMA journal_mode=MEMORY; PRAGMA synchronous=OFF;"},
      {"wal", "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;"},
  };
  double shipped = 0;
  std::printf("%-8s %12s %12s %9s %13s\n", "settings", "rows/s 1st", "rows/s 2nd", "drop s", "shipped/this");
  for (const Variant& v : variants) {
    const fs::path file = fs::path(folder) / (std::string("staging-") + v.name + ".mdb");
    for (const char* suffix : {"", "-journal", "-wal", "-shm"}) fs::remove(file.string() + suffix);
    std::ofstream(file, std::ios::binary);
    auto db = staging::StagingDb::Open(file.string());
    if (!db.ok() || (v.pragmas && !(*db)->Exec(v.pragmas).ok())) {
      std::fprintf(stderr, "%s: cannot open %s\n", v.name, file.c_str());
      return 1;
    }
    Run first, second;
    if (!Stage(**db, rows, first) || !Stage(**db, rows, second)) {
      std::fprintf(stderr, "%s: staging failed\n", v.name);
      return 1;
    }
    const double rate = (first.rows_per_s + second.rows_per_s) / 2;
    if (shipped == 0) shipped = rate;
    std::printf("%-8s %12.0f %12.0f %9.2f %13.2f\n", v.name, first.rows_per_s, second.rows_per_s,
                second.drop_s, shipped / rate);
    db->reset();
    for (const char* suffix : {"", "-journal", "-wal", "-shm"}) fs::remove(file.string() + suffix);
  }
  return 0;
}
