// How often the tables window is served while it works: the real windows
// (offscreen unless QT_QPA_PLATFORM says otherwise), their own pump, and a
// zero-interval timer that fires once per event-loop pass. Reports, per
// action, the longest wait between two passes and the 99th percentile,
// and the same by phase: before the first row, among the rows, while the
// Paradox table is written and after it. Exits non-zero when a copy stores
// fewer rows than the table holds or any failure dialog is shown.
//
// Actions, in order, on one table of --rows rows: the window's load step
// (both lists), "Send Table/s To PostgreSQL", "Send Table/s To Paradox"
// (over the table it came from), "Delete Table/s" on the PostgreSQL side.
//
// Usage: pump_bench [--rows N] [--folder DIR]
// The server comes from CORVANE_TEST_PGHOST/PORT/USER/PASSWORD/DATABASE.
#include <sys/stat.h>

#include <QApplication>
#include <QProgressBar>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "app/program_folder.h"
#include "app/settings_store.h"
#include "connection/connection.h"
#include "measure.h"
#include "paradox/table_reader.h"
#include "paradox/table_writer.h"
#include "ui/memory_surfaces.h"
#include "windows/flow.h"

namespace {

using namespace corvane;
using namespace corvane::bench;

constexpr const char* kTable = "PUMPTEST";

bool MakeTable(const std::string& folder, long rows) {
  using paradox::FieldType;
  std::vector<paradox::FieldInfo> fields = {
      {"ID", FieldType::kLong, 4, 0},        {"NAME", FieldType::kAlpha, 30, 0},
      {"AMOUNT", FieldType::kNumber, 8, 0},  {"BORN", FieldType::kDate, 4, 0},
      {"ACTIVE", FieldType::kLogical, 1, 0}, {"NOTE", FieldType::kAlpha, 40, 0}};
  auto w = paradox::TableWriter::Create(folder + "/" + kTable + ".db", fields, 1252,
                                        static_cast<uint64_t>(rows));
  if (!w.ok()) return std::fprintf(stderr, "%s\n", w.status().message().c_str()), false;
  std::vector<paradox::Cell> row(fields.size());
  for (long i = 0; i < rows; ++i) {
    const std::string texts[] = {
        std::to_string(i + 1),
        "Name " + std::to_string(i % 5000),
        std::to_string((i % 100000) / 8.0),
        "1999-0" + std::to_string(1 + i % 9) + "-1" + std::to_string(i % 9),
        i % 2 ? "True" : "False",
        "note number " + std::to_string(i)};
    for (size_t c = 0; c < fields.size(); ++c) row[c] = {false, texts[c]};
    if (!(*w)->Append(row).ok()) return std::fprintf(stderr, "append failed\n"), false;
  }
  return (*w)->Finish(paradox::TableWriter::Replace::kAllowed).ok();
}

// Times of the event-loop passes while an action runs.
class PassRecorder {
 public:
  explicit PassRecorder(QProgressBar* bar) : bar_(bar) {
    timer_.setInterval(0);
    QObject::connect(&timer_, &QTimer::timeout, [this] { Mark(); });
  }
  void Run(const char* what, const std::function<void()>& action) {
    passes_.clear();
    progress_.clear();
    phases_.clear();
    rows_seen_ = written_ = false;
    timer_.start();
    const auto start = Clock::now();
    Mark();
    action();
    Mark();
    timer_.stop();
    std::vector<double> gaps;
    std::vector<double> by_phase[4];
    for (size_t i = 1; i < passes_.size(); ++i) {
      gaps.push_back(
          std::chrono::duration<double, std::milli>(passes_[i] - passes_[i - 1]).count());
      by_phase[phases_[i]].push_back(gaps.back());
      // Where a long wait happened: the time into the action and the progress.
      if (gaps.back() > 50)
        std::printf("  wait of %.1f ms at %.2f s, progress %d%% -> %d%%\n", gaps.back(),
                    std::chrono::duration<double>(passes_[i - 1] - start).count(), progress_[i - 1],
                    progress_[i]);
    }
    std::sort(gaps.begin(), gaps.end());
    const double p99 = gaps[std::min(gaps.size() - 1, gaps.size() * 99 / 100)];
    std::printf("%-28s %8.2f s %7zu passes  longest %6.1f ms  p99 %5.1f ms\n", what, Seconds(start),
                passes_.size() - 2, gaps.back(), p99);
    // The wait that ends a pass belongs to the phase the pass saw.
    const char* names[4] = {"  before the rows", "  rows", "  export", "  after the export"};
    for (int p = 0; p < 4; ++p) {
      auto& g = by_phase[p];
      if (g.empty()) continue;
      std::sort(g.begin(), g.end());
      std::printf("%-28s %7zu passes  longest %6.1f ms  p99 %5.1f ms\n", names[p], g.size(),
                  g.back(), g[std::min(g.size() - 1, g.size() * 99 / 100)]);
    }
    std::fflush(stdout);
  }

 private:
  // 0 before the first row, 1 among the rows, 2 while the table is written,
  // 3 after that (the staging table dropped, the list read again).
  void Mark() {
    passes_.push_back(Clock::now());
    progress_.push_back(bar_->value());
    rows_seen_ = rows_seen_ || bar_->value() > 0;
    const bool writing = bar_->format().startsWith(QStringLiteral("Writing"));
    written_ = written_ || writing;
    phases_.push_back(writing ? 2 : written_ ? 3 : rows_seen_ ? 1 : 0);
  }

  QProgressBar* bar_;
  QTimer timer_;
  std::vector<Clock::time_point> passes_;
  std::vector<int> progress_;
  std::vector<int> phases_;
  bool rows_seen_ = false;
  bool written_ = false;
};

void Select(ui::TableList& list, const std::string& name) {
  for (int i = 0; i < list.Count(); ++i) {
    if (list.Text(i) != name) continue;
    list.SetSelected(i, true);
    list.SetCurrentIndex(i);
  }
}

}  // namespace

int main(int argc, char** argv) {
  long rows = 1000000;
  std::string folder;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--rows")) rows = std::atol(argv[i + 1]);
    if (!std::strcmp(argv[i], "--folder")) folder = argv[i + 1];
  }
  if (!std::getenv("CORVANE_TEST_PGHOST")) {
    std::fprintf(stderr, "set CORVANE_TEST_PGHOST/PORT/USER/PASSWORD/DATABASE\n");
    return 2;
  }
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  const std::string work = folder.empty() ? std::filesystem::temp_directory_path() /
                                                ("pump_bench_" + std::to_string(getpid()))
                                          : std::filesystem::path(folder);
  std::filesystem::create_directories(work + "/data");
  std::filesystem::create_directories(work + "/config");
  if (!MakeTable(work + "/data", rows)) return 1;

  const ConnectionSettings login = SettingsFromEnv(work + "/data");
  Connection pg;
  if (!pg.Open(PostgresConnectionString(login)).ok()) return std::fprintf(stderr, "no server\n"), 1;
  (void)pg.Execute(std::string("DROP TABLE IF EXISTS \"") + kTable + "\"");
  auto store = app::MakeIniSettingsStore(work + "/config");
  const std::pair<const char*, std::string> keys[] = {{"ParadoxFolder", login.paradox_folder},
                                                      {"Server", login.server},
                                                      {"Port", login.port},
                                                      {"User", login.user},
                                                      {"Password", login.password},
                                                      {"Database", login.database}};
  for (const auto& [key, value] : keys)
    (void)store->Write(app::kApplication, app::kSection, key, value);

  ui::ScriptedDialogs dialogs;  // every question answered Yes
  windows::WorkGate gate;
  windows::Windows windows({*store, app::ProgramFolder(), gate, &dialogs});
  windows.Start();
  windows::Form2& form2 = windows.form2();
  if (!form2.isVisible()) return std::fprintf(stderr, "the tables window did not open\n"), 1;

  std::printf("table of %ld rows; %s\n", rows, qgetenv("QT_QPA_PLATFORM").constData());
  PassRecorder recorder(form2.findChild<QProgressBar*>(QStringLiteral("ProgressBar1")));
  recorder.Run("load (both lists)", [&] { form2.Form_Load(); });
  Select(form2.paradox_list(), kTable);
  recorder.Run("send to PostgreSQL", [&] { form2.PushButton4_Click(); });
  // A copy that stored less would make its gaps meaningless.
  long arrived = -1;
  {  // the result set holds the table until it is gone
    auto counted = pg.Execute(std::string("SELECT count(*) FROM \"") + kTable + "\"");
    if (counted.ok() && !(*counted)->Eof())
      arrived = std::atol((*counted)->FieldValue(0).text().c_str());
  }
  std::printf("rows in PostgreSQL: %ld\n", arrived);
  if (arrived != rows)
    return std::fprintf(stderr, "the copy stored %ld of %ld rows\n", arrived, rows), 1;
  Select(form2.postgres_list(), kTable);
  // The source table is still there: an export that failed would leave it
  // and its rows in place, so the count alone would not tell.
  const std::string paradox_file = login.paradox_folder + "/" + kTable + ".db";
  struct stat before {};
  if (::stat(paradox_file.c_str(), &before) != 0)
    return std::fprintf(stderr, "no source table\n"), 1;
  recorder.Run("send to Paradox", [&] { form2.PushButton3_Click(); });
  struct stat after {};
  if (::stat(paradox_file.c_str(), &after) != 0 || after.st_ino == before.st_ino)
    return std::fprintf(stderr, "the export did not replace the table\n"), 1;
  auto back = paradox::TableReader::Open(paradox_file);
  const long written = back.ok() && (*back)->count_status().ok()
                           ? static_cast<long>((*back)->info().record_count)
                           : -1;
  back = Status::NotFound("closed");
  std::printf("rows in Paradox: %ld\n", written);
  if (written != rows)
    return std::fprintf(stderr, "the export wrote %ld of %ld rows\n", written, rows), 1;
  Select(form2.postgres_list(), kTable);
  recorder.Run("delete PostgreSQL table", [&] { form2.PushButton1_Click(); });

  const std::vector<std::string> failures = dialogs.Failures();
  for (const std::string& f : failures) std::fprintf(stderr, "failure: %.300s\n", f.c_str());
  (void)pg.Execute(std::string("DROP TABLE IF EXISTS \"") + kTable + "\"");
  if (folder.empty()) std::filesystem::remove_all(work);
  return failures.empty() ? 0 : 1;
}
