#include "cli/table_runs.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <thread>

#include <unicode/uchar.h>

#include "base/stop_request.h"
#include "base/utf8.h"
#include "cli/printable.h"
#include "ui/display_text.h"
#include "ui/procedure.h"

namespace corvane::cli {
namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string Clock2(double seconds) {  // m:ss, or h:mm:ss
  const auto s = static_cast<long long>(seconds + 0.5);
  char buf[32];
  if (s >= 3600) {
    std::snprintf(buf, sizeof buf, "%lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
  } else {
    std::snprintf(buf, sizeof buf, "%lld:%02lld", s / 60, s % 60);
  }
  return buf;
}

size_t TerminalWidth() {
  winsize ws{};
  if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 10) return ws.ws_col;
  return 80;
}

// One running table: "CUSTOMER 120000/250000 rows 48000 rows/s 0:03 left".
std::string LiveText(const std::string& table, int64_t done, int64_t total, double seconds) {
  std::string text =
      Printable(table) + " " + std::to_string(done) + "/" + std::to_string(total) + " rows";
  if (seconds > 0.5 && done > 0) {
    const double rate = static_cast<double>(done) / seconds;
    text += " " + std::to_string(static_cast<long long>(rate)) + " rows/s";
    text += " " + Clock2(static_cast<double>(total - done) / rate) + " left";
  }
  return text;
}

int CodePointWidth(long cp) {
  if (cp < 0) return 1;  // a stray byte, shown as one replacement character
  const auto c = static_cast<UChar32>(cp);
  const int kind = u_charType(c);
  if (kind == U_NON_SPACING_MARK || kind == U_ENCLOSING_MARK || kind == U_FORMAT_CHAR ||
      c == 0x200B) {
    return 0;
  }
  const int ea = u_getIntPropertyValue(c, UCHAR_EAST_ASIAN_WIDTH);
  return ea == U_EA_WIDE || ea == U_EA_FULLWIDTH ? 2 : 1;
}

// Cuts UTF-8 text to at most `width` terminal columns.
std::string CutToWidth(const std::string& text, size_t width) {
  size_t used = 0;
  for (size_t i = 0; i < text.size();) {
    const size_t at = i;
    const long cp = utf8::NextCodePoint(text, i);
    if (i == at) ++i;
    used += static_cast<size_t>(CodePointWidth(cp));
    if (used > width) return text.substr(0, at);
  }
  return text;
}

// --report and --rejects are known to be writable before the tables go,
// not after an hour of copying.
Status CheckOutputFile(const char* option, const std::optional<std::string>& file) {
  if (!file) return Status::Ok();
  if (file->empty()) return Status::InvalidArgument(std::string(option) + " needs a file");
  std::filesystem::path folder = std::filesystem::path(*file).parent_path();
  std::error_code ec;
  if (!folder.empty() && !std::filesystem::is_directory(folder, ec)) {
    return Status::InvalidArgument(std::string(option) + ": there is no folder " + folder.string());
  }
  if (std::filesystem::is_directory(*file, ec)) {
    return Status::InvalidArgument(std::string(option) + ": " + *file + " is a folder");
  }
  return Status::Ok();
}

}  // namespace

const std::set<std::string>& RunValuedOptionNames() {
  static const std::set<std::string> kNames = {"jobs", "report", "rejects"};
  return kNames;
}

const std::set<std::string>& RunFlagNames() {
  static const std::set<std::string> kNames = {"all", "quiet", "verbose", "dry-run"};
  return kNames;
}

Result<RunOptions> RunOptionsFrom(const Options& options) {
  RunOptions run;
  run.all = options.Has("all");
  run.quiet = options.Has("quiet");
  run.verbose = options.Has("verbose");
  run.dry_run = options.Has("dry-run");
  run.report = options.Get("report");
  run.rejects = options.Get("rejects");
  CORVANE_RETURN_IF_ERROR(CheckOutputFile("--report", run.report));
  CORVANE_RETURN_IF_ERROR(CheckOutputFile("--rejects", run.rejects));
  if (auto jobs = options.Get("jobs")) {
    char* end = nullptr;
    errno = 0;
    const long n = std::strtol(jobs->c_str(), &end, 10);
    if (jobs->empty() || *end != '\0' || errno != 0 || n < 1 || n > 64) {
      return Status::InvalidArgument("--jobs takes a number from 1 to 64");
    }
    run.jobs = static_cast<int>(n);
  }
  if (run.all && !options.positional.empty()) {
    return Status::InvalidArgument("--all copies every table; give no table names with it");
  }
  if (!run.all && options.positional.empty()) {
    return Status::InvalidArgument("name at least one table (or --all)");
  }
  return run;
}

std::string ResultWord(const TableFigures& f) {
  if (!f.dry_run || f.state != TableState::kCopied) return StateWord(f.state);
  return f.replaces ? "would replace" : "would create";
}

const char* StateWord(TableState state) {
  switch (state) {
    case TableState::kCopied: return "copied";
    case TableState::kFailed: return "failed";
    case TableState::kSkipped: return "skipped";
    case TableState::kNotFound: return "not found";
    case TableState::kNotStarted: return "not started";
  }
  return "";
}

// ---- Terminal

Terminal::Terminal(bool quiet, bool tag_lines, bool verbose)
    : quiet_(quiet), tag_lines_(tag_lines), verbose_(verbose), tty_(::isatty(STDERR_FILENO) != 0) {}

void Terminal::ClearLocked() {
  if (drawn_ == 0) return;
  std::fprintf(stderr, "\r%*s\r", static_cast<int>(drawn_), "");
  drawn_ = 0;
}

void Terminal::DrawLocked() {
  if (!tty_ || quiet_ || live_.empty()) return;
  std::string line;
  for (const auto& [slot, live] : live_) {
    if (!line.empty()) line += " | ";
    line += LiveText(live.table, live.done, live.total, live.seconds);
  }
  line = CutToWidth(line, TerminalWidth() - 1);
  const size_t width = DisplayWidth(line);
  std::fprintf(stderr, "\r%s", line.c_str());
  if (width < drawn_) std::fprintf(stderr, "%*s", static_cast<int>(drawn_ - width), "");
  std::fflush(stderr);
  drawn_ = std::max(width, drawn_);
}

void Terminal::Print(const std::string& table, const std::string& text, bool failure) {
  if (quiet_ && !failure) return;
  std::lock_guard<std::mutex> lock(mu_);
  ClearLocked();
  std::string out = ForTerminal(verbose_ ? text : ui::ShortenForDisplay(text));
  if (tag_lines_ && !table.empty()) out = "[" + Printable(table) + "] " + out;
  std::fprintf(stderr, "%s\n", out.c_str());
  DrawLocked();
}

void Terminal::WalkFailure(const std::string& text) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    ++walk_failures_;
    if (!walk_texts_.insert(text).second) return;
  }
  Print("", std::string(ui::kFailureTitle) + ": " + text, true);
}

bool Terminal::CanAsk() const { return ::isatty(STDIN_FILENO) != 0; }

void Terminal::Refused(const std::string& table, const transfer::RefusedRow& row,
                       const std::string& statement) {
  std::string text = Printable(table) + " row " + std::to_string(row.row);
  if (!row.column.empty()) text += " column " + Printable(row.column);
  text += ": " + row.reason;
  if (verbose_ && !statement.empty()) text += "\n  " + statement;
  // Tagged by the table name already.
  std::lock_guard<std::mutex> lock(mu_);
  ClearLocked();
  std::fprintf(stderr, "%s\n", ForTerminal(text).c_str());
  DrawLocked();
}

bool Terminal::Ask(const std::string& question) {
  if (!CanAsk()) return false;
  std::lock_guard<std::mutex> lock(mu_);
  ClearLocked();
  return AskYesNo(question);
}

void Terminal::Show(int slot, const std::string& table, int64_t done, int64_t total,
                    double seconds) {
  if (!tty_ || quiet_) return;
  std::lock_guard<std::mutex> lock(mu_);
  if (total < 0) {
    live_.erase(slot);
    ClearLocked();
  } else {
    live_[slot] = Live{table, done, total, seconds};
  }
  DrawLocked();
}

// ---- TableWatch

TableWatch::TableWatch(Terminal& terminal, int slot, std::string table, Policy overwrite,
                       Policy trim)
    : terminal_(terminal),
      slot_(slot),
      table_(std::move(table)),
      overwrite_(overwrite),
      trim_(trim),
      start_(Clock::now()),
      rows_start_(start_) {}

void TableWatch::SetText(const std::string& text) {
  if (text != ui::kProgressRestText) terminal_.Print(table_, text, false);
}

void TableWatch::Message(const std::string& text, std::optional<std::string> title,
                         ui::MessageIcon icon) {
  // Failures show even with --quiet; notes (a key left off) do not.
  const bool failure = icon == ui::MessageIcon::kExclamation;
  terminal_.Print(table_, failure && title ? *title + ": " + text : text, failure);
}

ui::Answer TableWatch::Ask(transfer::Question question, const std::string& text) {
  const bool long_name = question == transfer::Question::kCutLongName;
  Policy p = long_name ? trim_ : overwrite_;
  if (p == Policy::kAsk && !long_name && !terminal_.CanAsk()) {
    needs_choice_ = true;
    terminal_.Print(table_, Printable(table_) + ": exists; give --overwrite or --skip-existing",
                    true);
    return ui::Answer::kNo;
  }
  if (p == Policy::kAsk) p = terminal_.Ask(text) ? Policy::kYes : Policy::kNo;
  if (p == Policy::kNo) {
    terminal_.Print(table_, text + " No", false);
    return ui::Answer::kNo;
  }
  return ui::Answer::kYes;
}

void TableWatch::Rows(int64_t done, int64_t total) {
  if (done == 1) rows_start_ = Clock::now();  // the speed is of the rows, not of connecting
  const auto now = Clock::now();
  if (done != 1 && done != total && now - shown_ < std::chrono::milliseconds(200)) return;
  shown_ = now;
  terminal_.Show(slot_, table_, done, total, SecondsSince(rows_start_));
}

transfer::TableEvents TableWatch::Events() {
  transfer::TableEvents events;
  events.ask = [this](transfer::Question q, const std::string& text) { return Ask(q, text); };
  events.rows = [this](const std::string&, int64_t done, int64_t total) { Rows(done, total); };
  events.refused = [this](const transfer::TableReport& report, const transfer::RefusedRow& row,
                          const std::string& statement) {
    terminal_.Refused(report.table, row, statement);
    return true;
  };
  events.list_failure = [this](const std::string& text) { terminal_.WalkFailure(text); };
  return events;
}

TableFigures NotRun(const std::string& table, TableState state, const std::string& why) {
  TableFigures f;
  f.table = table;
  f.state = state;
  f.note = why;
  return f;
}

TableFigures FiguresOf(const transfer::TableReport& report, double seconds) {
  TableFigures f;
  f.table = report.table;
  f.seconds = seconds;
  f.note = report.why;
  switch (report.outcome) {
    case transfer::TableOutcome::kCopied: f.state = TableState::kCopied; break;
    case transfer::TableOutcome::kFailed: f.state = TableState::kFailed; break;
    case transfer::TableOutcome::kSkipped: f.state = TableState::kSkipped; break;
    case transfer::TableOutcome::kNotFound: f.state = TableState::kNotFound; break;
  }
  f.dry_run = report.dry_run;
  if (f.state == TableState::kSkipped) return f;
  f.rows_total = report.rows_total;
  f.rows_read = report.rows_read;
  f.rows_stored = report.rows_stored;
  f.rows_refused = static_cast<int64_t>(report.refused.size());
  f.refused = report.refused;
  f.written_as = report.written_as;
  f.replaces = report.replaces;
  f.columns = report.columns;
  if (f.state == TableState::kCopied && f.note.empty() && f.rows_refused > 0) {
    f.note = std::to_string(f.rows_refused) + (f.rows_refused == 1 ? " row" : " rows") +
             " refused";
  }
  if (report.values_made_null > 0) {
    const int64_t n = report.values_made_null;
    const std::string nulls = std::to_string(n) + (n == 1 ? " memo value" : " memo values") +
                              " stored as NULL: the .MB file is missing";
    f.note = f.note.empty() ? nulls : f.note + "; " + nulls;
  }
  return f;
}

TableFigures TableWatch::Finish(const transfer::TransferOutcome& outcome) {
  terminal_.Show(slot_, table_, 0, -1, 0);
  const double seconds = SecondsSince(start_);
  // One entry is selected per run: a lone report is this table's, also
  // when its list text is not the name typed (a schema's table).
  const transfer::TableReport* mine = nullptr;
  for (const transfer::TableReport& report : outcome.tables) {
    if (report.table == table_) mine = &report;
  }
  if (mine == nullptr && outcome.tables.size() == 1) mine = &outcome.tables.front();
  if (mine != nullptr) {
    TableFigures f = FiguresOf(*mine, seconds);
    f.table = table_;
    if (f.dry_run && f.state == TableState::kCopied) {
      std::string plan = ResultWord(f) + " " + Printable(f.written_as) + ":";
      for (size_t k = 0; k < f.columns.size(); ++k) {
        plan += (k == 0 ? " " : ", ") + Printable(f.columns[k].name) + " " + f.columns[k].type;
      }
      terminal_.Print(table_, plan, false);
    }
    if (needs_choice_ && f.state == TableState::kSkipped) {
      f.needs_choice = true;
      f.note = "exists; give --overwrite or --skip-existing";
    }
    return f;
  }
  // The handler never reached the table: whatever stopped it was before.
  TableFigures f;
  f.table = table_;
  f.seconds = seconds;
  f.state = TableState::kFailed;
  f.note = outcome.failure.empty() ? "not copied" : outcome.failure;
  return f;
}

// ---- running

std::vector<TableFigures> RunTables(const std::vector<std::string>& names,
                                    const std::function<std::string(const std::string&)>& key,
                                    int jobs, Terminal& terminal, Policy overwrite, Policy trim,
                                    const TableRunFn& run) {
  std::vector<TableFigures> figures(names.size());
  for (size_t i = 0; i < names.size(); ++i) figures[i].table = names[i];
  // Tables that would write the same destination never run side by side.
  std::vector<std::vector<size_t>> groups;
  std::map<std::string, size_t> group_of;
  for (size_t i = 0; i < names.size(); ++i) {
    auto [it, added] = group_of.emplace(key(names[i]), groups.size());
    if (added) groups.emplace_back();
    groups[it->second].push_back(i);
  }
  std::mutex mu;
  size_t next = 0;
  auto work = [&](int job) {
    for (;;) {
      size_t g;
      {
        std::lock_guard<std::mutex> lock(mu);
        if (next == groups.size()) return;
        g = next++;
      }
      for (size_t i : groups[g]) {
        if (StopRequested()) return;
        TableWatch watch(terminal, job, names[i], overwrite, trim);
        try {
          figures[i] = run(names[i], job, watch);
        } catch (const std::exception& e) {
          transfer::TransferOutcome none;
          none.failure = e.what();
          figures[i] = watch.Finish(none);
          terminal.Print(names[i], std::string("corvane-cli: ") + e.what(), true);
        }
      }
    }
  };
  const int n = std::max(1, std::min<int>(jobs, static_cast<int>(groups.size())));
  if (n == 1) {
    work(0);
  } else {
    std::vector<std::thread> threads;
    for (int j = 0; j < n; ++j) threads.emplace_back(work, j);
    for (std::thread& t : threads) t.join();
  }
  return figures;
}

std::vector<std::string> ListOrder(const ui::MemoryTableList& list,
                                   const std::vector<std::string>& chosen,
                                   const std::function<std::string(int)>& name_of) {
  std::vector<std::string> out;
  for (int i = 0; i < list.Count(); ++i) {
    const std::string name = name_of ? name_of(i) : list.Text(i);
    if (std::find(chosen.begin(), chosen.end(), name) != chosen.end() &&
        std::find(out.begin(), out.end(), name) == out.end()) {
      out.push_back(name);
    }
  }
  return out;
}

size_t DisplayWidth(const std::string& text) {
  size_t width = 0;
  for (size_t i = 0; i < text.size();) {
    const size_t at = i;
    const long cp = utf8::NextCodePoint(text, i);
    if (i == at) ++i;
    width += static_cast<size_t>(CodePointWidth(cp));
  }
  return width;
}

}  // namespace corvane::cli
