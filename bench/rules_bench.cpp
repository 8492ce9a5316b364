// What a table's rules cost a copy with "Keep field types and keys": one
// keyed Paradox table of --rows rows (default 1,000,000) copied into
// PostgreSQL with and without its .val and secondary indexes beside it, in
// alternating rounds against the same server. The rules: a required field
// with a minimum, maximum and default, a picture, a reference to a parent
// table of 1000 rows, a case-insensitive index on a text field and an index
// on a number.
//
// Usage: rules_bench [--rows N] [--rounds R] [--folder DIR]
// The server comes from CORVANE_TEST_PGHOST/PORT/USER/PASSWORD/DATABASE.
#include <libpq-fe.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "measure.h"
#include "paradox/fixture_builder.h"
#include "paradox/rules_builder.h"
#include "paradox/table_writer.h"
#include "support/pg_connect.h"
#include "transfer/to_postgres.h"
#include "ui/memory_surfaces.h"

namespace {

using namespace corvane;
using namespace corvane::bench;
namespace fs = std::filesystem;
using paradox::FieldType;
using paradox::testing::RuleField;

class IdlePump : public ui::EventPump {
 public:
  void Pump() override {}
};

const char* const kRuleFiles[] = {"BENCH.VAL", "BENCH.XG0", "BENCH.X04"};

bool MakeTable(const std::string& path, long rows, bool child) {
  std::vector<paradox::FieldInfo> fields = {{"Id", FieldType::kLong, 4, 0},
                                            {"Code", FieldType::kAlpha, 12, 0}};
  if (child) {
    fields.push_back({"Qty", FieldType::kLong, 4, 0});
    fields.push_back({"Pid", FieldType::kLong, 4, 0});
  }
  auto w = paradox::TableWriter::Create(path, fields, 1252, static_cast<uint64_t>(rows), 1);
  if (!w.ok()) return std::fprintf(stderr, "%s\n", w.status().message().c_str()), false;
  std::vector<paradox::Cell> row(fields.size());
  for (long i = 0; i < rows; ++i) {
    const std::string texts[] = {std::to_string(i + 1), "Code " + std::to_string(i),
                                 std::to_string(1 + i % 100), std::to_string(1 + i % 1000)};
    for (size_t c = 0; c < fields.size(); ++c) row[c] = {false, texts[c]};
    if (!(*w)->Append(row).ok()) return std::fprintf(stderr, "append failed\n"), false;
  }
  return (*w)->Finish(paradox::TableWriter::Replace::kAllowed).ok();
}

paradox::testing::IndexSpec Index(uint8_t type, RuleField field, uint16_t number, uint8_t options,
                                  const std::string& name) {
  return {0x0C, type, {field, {0x04, 4, "Id"}, {0x03, 2, "Blk Num"}}, {number, 5, 6}, 2, options,
          name, 0};
}

// The rule files, made once into `store` and moved in and out of the folder.
void MakeRules(const std::string& store) {
  using paradox::testing::FlipInt;
  const std::vector<RuleField> f = {
      {0x04, 4, "Id"}, {0x01, 12, "Code"}, {0x04, 4, "Qty"}, {0x04, 4, "Pid"}};
  paradox::testing::WriteFile(
      store + "/BENCH.VAL",
      paradox::testing::BuildVal(0x0C, f,
                                 {{2, true, "", FlipInt(4, 1), FlipInt(4, 100), FlipInt(4, 1), ""},
                                  {1, false, "", "", "", "", "Code *#"}},
                                 {{"parent", {4}, "PARENT.DB", {1}, false}}));
  paradox::testing::WriteFile(store + "/BENCH.XG0",
                              paradox::testing::BuildIndexHeader(Index(6, f[1], 2, 1, "code")));
  paradox::testing::WriteFile(store + "/BENCH.X04",
                              paradox::testing::BuildIndexHeader(Index(3, f[2], 3, 0, "")));
}

bool Run(const ConnectionSettings& s, const std::string& sql) {
  PGconn* conn = testing::ConnectLibpq(s);
  PGresult* r = PQexec(conn, sql.c_str());
  const bool ok = PQresultStatus(r) == PGRES_COMMAND_OK;
  if (!ok) std::fprintf(stderr, "%s\n", PQerrorMessage(conn));
  PQclear(r);
  PQfinish(conn);
  return ok;
}

// Copies PARENT and BENCH in one click; seconds.
double Copy(const ConnectionSettings& s) {
  Run(s, "DROP TABLE IF EXISTS \"BENCH\", \"PARENT\" CASCADE");
  ui::MemoryTableList pg, px;
  px.Add("BENCH");
  px.Add("PARENT");
  px.SelectNames({"BENCH", "PARENT"});
  ui::MemoryProgressBar bar;
  ui::ScriptedDialogs dialogs;
  ui::MemoryPointer pointer;
  IdlePump pump;
  ui::FixedSettings fixed(s);
  ui::TablesWindow window{pg, px, bar, dialogs, pointer, pump, fixed, ""};
  transfer::ToPostgresOptions options;
  options.keep_types = true;
  const auto start = Clock::now();
  const transfer::TransferOutcome out = transfer::SendTablesToPostgresWith(window, options);
  const double seconds = Seconds(start);
  if (out.failures > 0) std::fprintf(stderr, "%d failures\n", out.failures);
  return seconds;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  long rows = 1000000;
  int rounds = 3;
  std::string folder = (fs::temp_directory_path() / "corvane-rules-bench").string();
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--rows")) rows = std::atol(argv[i + 1]);
    if (!std::strcmp(argv[i], "--rounds")) rounds = std::atoi(argv[i + 1]);
    if (!std::strcmp(argv[i], "--folder")) folder = argv[i + 1];
  }
  const ConnectionSettings s = SettingsFromEnv(folder);
  if (s.server.empty()) {
    std::fprintf(stderr, "set CORVANE_TEST_PGHOST/PORT/USER/PASSWORD/DATABASE\n");
    return 2;
  }
  const std::string store = folder + "/rules";
  fs::create_directories(store);
  if (!MakeTable(folder + "/BENCH.db", rows, true) ||
      !MakeTable(folder + "/PARENT.db", 1000, false)) {
    return 1;
  }
  MakeRules(store);
  std::vector<double> without, with;
  for (int r = 1; r <= rounds; ++r) {
    without.push_back(Copy(s));
    for (const char* f : kRuleFiles) fs::rename(store + "/" + f, folder + "/" + f);
    with.push_back(Copy(s));
    for (const char* f : kRuleFiles) fs::rename(folder + "/" + f, store + "/" + f);
    std::printf("round %d: without rules %.2f s, with rules %.2f s\n", r, without.back(),
                with.back());
  }
  Run(s, "DROP TABLE IF EXISTS \"BENCH\", \"PARENT\" CASCADE");
  fs::remove_all(folder);
  const double a = Median(without), b = Median(with);
  std::printf(
      "%ld rows, median of %d rounds: %.2f s without rules, %.2f s with; the rules add "
      "%.2f s (%.0f%%)\n",
      rows, rounds, a, b, b - a, a > 0 ? 100 * (b - a) / a : 0);
  return 0;
}
