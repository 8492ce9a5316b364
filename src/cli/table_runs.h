// Copying many tables from the command line: each table goes through the
// window's handler on its own (one selected entry), so its figures can be
// told apart; up to N tables run at a time, each job on its own
// connections. The figures come from what the handler shows (a progress
// value per row, failure dialogs, questions) and from counting what the
// destination holds afterwards.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "cli/console_surfaces.h"
#include "cli/options.h"
#include "ui/memory_surfaces.h"

namespace corvane::cli {

// --all, --jobs, --quiet and --report, shared by both copy commands.
struct RunOptions {
  bool all = false;
  int jobs = 1;
  bool quiet = false;
  bool verbose = false;  // failure texts whole, statements not shortened
  std::optional<std::string> report;  // JSON file
};
const std::set<std::string>& RunValuedOptionNames();  // jobs, report
const std::set<std::string>& RunFlagNames();          // all, quiet, verbose
// Bad values and --all beside table names are usage errors.
Result<RunOptions> RunOptionsFrom(const Options& options);

enum class TableState { kCopied, kFailed, kSkipped, kNotFound, kNotStarted };
const char* StateWord(TableState state);

struct TableFigures {
  std::string table;  // as the list shows it (or as typed, when not found)
  TableState state = TableState::kNotStarted;
  std::string note;  // why it was skipped or failed
  int64_t rows_total = 0, rows_read = 0, rows_stored = 0, rows_refused = 0;
  double seconds = 0;
};

// Everything printed while tables run goes through one lock, so lines of
// two jobs never mix and the progress line is cleared before each.
class Terminal {
 public:
  Terminal(bool quiet, bool tag_lines, bool verbose = false);
  // A line on stderr; with --quiet only failures are printed. A very long
  // text (a statement quoting a large memo) is shortened unless verbose.
  void Print(const std::string& table, const std::string& text, bool failure);
  // Asks on a terminal (one question at a time); No without one.
  bool Ask(const std::string& question);
  // The live figures of one running table; total < 0 removes it.
  void Show(int slot, const std::string& table, int64_t done, int64_t total, double seconds);
  // A failure of the folder walk the handler runs after each table: the
  // same one would come once per table, so each text is printed once.
  void WalkFailure(const std::string& text);
  int walk_failures() const { return walk_failures_; }

 private:
  void DrawLocked();
  void ClearLocked();
  std::mutex mu_;
  bool quiet_, tag_lines_, verbose_, tty_;
  struct Live {
    std::string table;
    int64_t done, total;
    double seconds;
  };
  std::map<int, Live> live_;
  size_t drawn_ = 0;  // width of the progress line on screen
  std::set<std::string> walk_texts_;
  int walk_failures_ = 0;
};

// The progress bar and dialogs one table's handler run sees.
class TableWatch : public ui::ProgressBar, public ui::Dialogs {
 public:
  TableWatch(Terminal& terminal, int slot, std::string table, Policy overwrite, Policy trim);

  void SetValue(double percent) override;
  void SetText(const std::string& text) override;
  void Message(const std::string& text, std::optional<std::string> title,
               ui::MessageIcon icon) override;
  ui::Answer Question(const std::string& text, std::optional<std::string> title) override;
  std::string Prompt(const std::string&, std::optional<std::string>, const std::string&) override {
    return "";
  }
  std::string ChooseFolder(const std::string&, const std::string&) override { return ""; }

  // The figures once the handler returned; `stored` is what the
  // destination holds of this table, nullopt when nothing was written.
  TableFigures Finish(std::optional<int64_t> stored, const std::string& unwritten_note);
  bool trimmed() const { return trimmed_; }  // agreed to cut a long name
  int failures() const { return table_failures_ + row_failures_; }

 private:
  void Publish(bool force);
  Terminal& terminal_;
  int slot_;
  std::string table_;
  Policy overwrite_, trim_;
  std::chrono::steady_clock::time_point start_, rows_start_, shown_{};
  int64_t total_ = 0, read_ = 0;
  enum class Phase { kBefore, kRows, kAfter } phase_ = Phase::kBefore;
  int table_failures_ = 0, row_failures_ = 0;
  std::string first_failure_;
  std::string skipped_because_;
  bool trimmed_ = false;
};

// One table's run: the name as the list shows it, the job's number (0..N-1)
// and its surfaces. Returns the figures.
using TableRunFn = std::function<TableFigures(const std::string& table, int job, TableWatch& watch)>;

// Runs every name in order over `jobs` jobs. Names with the same `key` (the
// destination they would write) go one after the other in one job.
// Stops taking new tables after a stop request.
std::vector<TableFigures> RunTables(const std::vector<std::string>& names,
                                    const std::function<std::string(const std::string&)>& key,
                                    int jobs, Terminal& terminal, Policy overwrite, Policy trim,
                                    const TableRunFn& run);

// The end-of-run summary: one line per table and a total.
std::string SummaryText(const std::vector<TableFigures>& figures, double wall_seconds);
std::string SummaryJson(const std::string& command, const std::vector<TableFigures>& figures,
                        double wall_seconds, int exit_status);
// Prints the summary (unless quiet), writes the JSON report if asked, and
// gives the exit status: 0 when every table was copied or skipped by
// choice and no other failure (`other_failures`, such as a folder that could
// not be listed whole) was shown, else 1.
int EndOfRun(const std::string& command, const RunOptions& run,
             const std::vector<TableFigures>& figures, double wall_seconds, int other_failures);

// The names of a list, each once, in the order the window's handler walks
// them (bottom-up). An entry's name is its text unless `name_of` says.
std::vector<std::string> WalkOrder(const ui::MemoryTableList& list,
                                   const std::vector<std::string>& chosen,
                                   const std::function<std::string(int)>& name_of = {});

}  // namespace corvane::cli
