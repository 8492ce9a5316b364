// Copying many tables from the command line: each table goes through the
// window's handler on its own (one selected entry), up to N at a time, each
// job on its own connections. Its figures are the handler's own report.
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
#include "transfer/table_report.h"
#include "transfer/to_postgres.h"
#include "ui/memory_surfaces.h"

namespace corvane::cli {

// --all, --jobs, --quiet and --report, shared by both copy commands.
struct RunOptions {
  bool all = false;
  int jobs = 1;
  bool quiet = false;
  bool verbose = false;  // failure texts whole, statements not shortened
  bool dry_run = false;  // tell what each table would come to, change nothing
  std::optional<std::string> report;   // JSON file
  std::optional<std::string> rejects;  // CSV file of the refused rows
};
const std::set<std::string>& RunValuedOptionNames();  // jobs, report, rejects
const std::set<std::string>& RunFlagNames();          // all, quiet, verbose, dry-run
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
  std::vector<transfer::RefusedRow> refused;
  std::string written_as;  // the destination's name, once the handler chose it
  bool replaces = false;   // a table of that name is (or would be) replaced
  // A dry run: kCopied means it would be copied, as `columns`.
  bool dry_run = false;
  std::vector<transfer::PlannedColumn> columns;
  // An existing table met with no --overwrite or --skip-existing and no
  // terminal to ask: skipped, and the run fails.
  bool needs_choice = false;
};

// The state as the summary says it: a dry run's copies "would create" or
// "would replace".
std::string ResultWord(const TableFigures& figures);

// The figures of a table that never ran, and why.
TableFigures NotRun(const std::string& table, TableState state, const std::string& why);

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
  bool CanAsk() const;
  // One line for a refused row; with verbose the statement follows.
  void Refused(const std::string& table, const transfer::RefusedRow& row,
               const std::string& statement);
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

// The surfaces and hooks one table's handler run gets: notices and
// failure dialogs go to the terminal, questions are answered by the
// options (or asked on a terminal), the rows reached drive the live line.
class TableWatch : public ui::ProgressBar, public ui::Dialogs {
 public:
  TableWatch(Terminal& terminal, int slot, std::string table, Policy overwrite, Policy trim);

  void SetValue(double) override {}
  void SetText(const std::string& text) override;
  void Message(const std::string& text, std::optional<std::string> title,
               ui::MessageIcon icon) override;
  // The handler asks through Events(); a question that still comes here
  // has no option to answer it.
  ui::Answer Question(const std::string&, std::optional<std::string>) override {
    return ui::Answer::kNo;
  }
  std::string Prompt(const std::string&, std::optional<std::string>, const std::string&) override {
    return "";
  }
  std::string ChooseFolder(const std::string&, const std::string&) override { return ""; }

  transfer::TableEvents Events();
  // The figures of this table from the handler's outcome.
  TableFigures Finish(const transfer::TransferOutcome& outcome);

 private:
  ui::Answer Ask(transfer::Question question, const std::string& text);
  void Rows(int64_t done, int64_t total);
  Terminal& terminal_;
  int slot_;
  std::string table_;
  Policy overwrite_, trim_;
  std::chrono::steady_clock::time_point start_, rows_start_, shown_{};
  bool needs_choice_ = false;
};

// The figures of a table's report.
TableFigures FiguresOf(const transfer::TableReport& report, double seconds);

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
                        double wall_seconds, int exit_status, const std::string& error = "");
// Every refused row as CSV: table, row, column, reason, then its values
// (NULL as an empty field, the empty text as "").
std::string RejectsCsv(const std::vector<TableFigures>& figures);
// Prints the summary (unless quiet), writes the JSON report and the
// rejects file if asked, and gives the exit status: 0 when every table was
// copied or skipped by choice and no other failure (`other_failures`, such
// as a folder that could not be listed whole) was shown, else 1.
int EndOfRun(const std::string& command, const RunOptions& run,
             const std::vector<TableFigures>& figures, double wall_seconds, int other_failures);
// A run that ends before its first table: the reason on stderr (unless
// `say` is false), and the report (with `status` and the reason) written
// all the same.
int FailedRun(const std::string& command, const RunOptions& run, const std::string& why,
              int status = 1, bool say = true);

// The names of a list, each once, in the list's order. An entry's name is
// its text unless `name_of` says.
std::vector<std::string> ListOrder(const ui::MemoryTableList& list,
                                   const std::vector<std::string>& chosen,
                                   const std::function<std::string(int)>& name_of = {});

// Columns a terminal gives the text: East Asian wide characters take two,
// combining marks none.
size_t DisplayWidth(const std::string& text);

}  // namespace corvane::cli
