#include "cli/table_runs.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <thread>
#include <unordered_set>

#include "base/stop_request.h"
#include "base/utf8.h"
#include "base/whole_file.h"
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

// Cuts UTF-8 text to at most `width` code points.
std::string CutToWidth(const std::string& text, size_t width) {
  size_t points = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;
    if (points++ == width) return text.substr(0, i);
  }
  return text;
}

void AppendJsonString(std::string& out, const std::string& text) {
  out += '"';
  // Names are UTF-8 as a rule; a stray byte is shown as U+FFFD so that the
  // report stays valid JSON.
  for (size_t i = 0; i < text.size();) {
    const size_t at = i;
    const long cp = utf8::NextCodePoint(text, i);
    if (cp < 0) {
      out += "\\ufffd";
      if (i == at) ++i;
      continue;
    }
    if (cp == '"' || cp == '\\') {
      out += '\\';
      out += static_cast<char>(cp);
    } else if (cp < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04lx", cp);
      out += buf;
    } else {
      out.append(text, at, i - at);
    }
  }
  out += '"';
}

std::string Fixed(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.2f", v);
  return buf;
}

struct Totals {
  int copied = 0, failed = 0, skipped = 0, not_found = 0, not_started = 0;
  int64_t read = 0, stored = 0, refused = 0;
};

Totals Sum(const std::vector<TableFigures>& figures) {
  Totals t;
  for (const TableFigures& f : figures) {
    switch (f.state) {
      case TableState::kCopied: ++t.copied; break;
      case TableState::kFailed: ++t.failed; break;
      case TableState::kSkipped: ++t.skipped; break;
      case TableState::kNotFound: ++t.not_found; break;
      case TableState::kNotStarted: ++t.not_started; break;
    }
    t.read += f.rows_read;
    t.stored += f.rows_stored;
    t.refused += f.rows_refused;
  }
  return t;
}

bool Started(const TableFigures& f) {
  return f.state == TableState::kCopied || f.state == TableState::kFailed;
}

}  // namespace

const std::set<std::string>& RunValuedOptionNames() {
  static const std::set<std::string> kNames = {"jobs", "report"};
  return kNames;
}

const std::set<std::string>& RunFlagNames() {
  static const std::set<std::string> kNames = {"all", "quiet", "verbose"};
  return kNames;
}

Result<RunOptions> RunOptionsFrom(const Options& options) {
  RunOptions run;
  run.all = options.Has("all");
  run.quiet = options.Has("quiet");
  run.verbose = options.Has("verbose");
  run.report = options.Get("report");
  if (run.report && run.report->empty()) return Status::InvalidArgument("--report needs a file");
  if (run.report) {
    // Known before the tables go, not after an hour of copying.
    std::filesystem::path folder = std::filesystem::path(*run.report).parent_path();
    std::error_code ec;
    if (!folder.empty() && !std::filesystem::is_directory(folder, ec)) {
      return Status::InvalidArgument("--report: there is no folder " + folder.string());
    }
    if (std::filesystem::is_directory(*run.report, ec)) {
      return Status::InvalidArgument("--report: " + *run.report + " is a folder");
    }
  }
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
  const size_t width = utf8::Utf16Length(line);
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

bool Terminal::Ask(const std::string& question) {
  if (!::isatty(STDIN_FILENO)) return false;
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
      start_(Clock::now()) {}

void TableWatch::Publish(bool force) {
  const auto now = Clock::now();
  if (!force && now - shown_ < std::chrono::milliseconds(200)) return;
  shown_ = now;
  terminal_.Show(slot_, table_, read_, total_, SecondsSince(rows_start_));
}

// The handler shows (row + 1) / rows * 100 for each row it reaches and 0
// when the table is done: the first value gives the rows in all, the
// number of values the rows reached.
void TableWatch::SetValue(double percent) {
  if (percent <= 0) {
    if (phase_ == Phase::kRows || read_ == 0) phase_ = Phase::kAfter;
    terminal_.Show(slot_, table_, 0, -1, 0);
    return;
  }
  if (phase_ != Phase::kRows) {
    phase_ = Phase::kRows;
    read_ = 0;
    total_ = std::llround(100.0 / percent);
    rows_start_ = Clock::now();  // the speed is of the rows, not of connecting
  }
  ++read_;
  Publish(read_ == 1);
}

void TableWatch::SetText(const std::string& text) {
  if (text != ui::kProgressRestText) terminal_.Print(table_, text, false);
}

void TableWatch::Message(const std::string& text, std::optional<std::string> title,
                         ui::MessageIcon) {
  const bool failure = title && *title == ui::kFailureTitle;
  if (failure && text.find(ui::kWalkTagPrefix) != std::string::npos) {
    terminal_.WalkFailure(text);
  } else if (failure) {
    (phase_ == Phase::kRows ? row_failures_ : table_failures_)++;
    if (first_failure_.empty()) first_failure_ = text.substr(0, text.find('\r'));
    terminal_.Print(table_, std::string(ui::kFailureTitle) + ": " + text, true);
  } else {
    terminal_.Print(table_, text, false);
  }
}

ui::Answer TableWatch::Question(const std::string& text, std::optional<std::string> title) {
  const bool long_name = title && *title == "Continue?";
  Policy p = long_name ? trim_ : overwrite_;
  if (p == Policy::kAsk) p = terminal_.Ask(text) ? Policy::kYes : Policy::kNo;
  if (p == Policy::kNo) {
    terminal_.Print(table_, text + " No", false);
    skipped_because_ = long_name ? "name longer than 8 characters" : "exists";
    return ui::Answer::kNo;
  }
  if (long_name) trimmed_ = true;
  return ui::Answer::kYes;
}

TableFigures TableWatch::Finish(std::optional<int64_t> stored, const std::string& unwritten_note) {
  terminal_.Show(slot_, table_, 0, -1, 0);
  TableFigures f;
  f.table = table_;
  f.seconds = SecondsSince(start_);
  f.rows_total = total_;
  f.rows_read = read_;
  if (!skipped_because_.empty() && read_ == 0 && failures() == 0) {
    f.state = TableState::kSkipped;
    f.note = skipped_because_;
    f.rows_total = 0;
    return f;
  }
  if (stored) {
    f.rows_stored = *stored;
    f.rows_refused = std::max<int64_t>(0, read_ - *stored);
  } else {
    f.rows_refused = row_failures_;
  }
  const bool whole = read_ == total_ && stored.has_value();
  f.state = whole && table_failures_ == 0 ? TableState::kCopied : TableState::kFailed;
  if (f.state == TableState::kFailed) {
    f.note = !first_failure_.empty() ? first_failure_
             : !stored               ? unwritten_note
                                     : "only " + std::to_string(read_) + " of " +
                                           std::to_string(total_) + " rows were read";
  } else if (f.rows_refused > 0) {
    f.note = std::to_string(f.rows_refused) + (f.rows_refused == 1 ? " row" : " rows") +
             " refused";
  }
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
          figures[i] = watch.Finish(std::nullopt, e.what());
          figures[i].state = TableState::kFailed;
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

std::vector<std::string> WalkOrder(const ui::MemoryTableList& list,
                                   const std::vector<std::string>& chosen,
                                   const std::function<std::string(int)>& name_of) {
  std::vector<std::string> out;
  // Sets, not searches of the vectors: thousands of tables would cost their square.
  const std::unordered_set<std::string> wanted(chosen.begin(), chosen.end());
  std::unordered_set<std::string> taken;
  for (int i = list.Count() - 1; i >= 0; --i) {
    std::string name = name_of ? name_of(i) : list.Text(i);
    if (wanted.count(name) != 0 && taken.insert(name).second) out.push_back(std::move(name));
  }
  return out;
}

// ---- the summary

std::string SummaryText(const std::vector<TableFigures>& figures, double wall_seconds) {
  size_t width = 5;
  for (const TableFigures& f : figures) {
    width = std::max(width, utf8::Utf16Length(Printable(f.table)));
  }
  auto pad = [&](const std::string& name) {
    return name + std::string(width + 2 - std::min(width, utf8::Utf16Length(name)), ' ');
  };
  char buf[160];
  std::string out = pad("Table");
  std::snprintf(buf, sizeof buf, "%12s %12s %8s %9s  %s\n", "Rows read", "Rows stored", "Refused",
                "Seconds", "Result");
  out += buf;
  for (const TableFigures& f : figures) {
    out += pad(Printable(f.table));
    if (Started(f)) {
      std::snprintf(buf, sizeof buf, "%12lld %12lld %8lld %9.2f  ",
                    static_cast<long long>(f.rows_read), static_cast<long long>(f.rows_stored),
                    static_cast<long long>(f.rows_refused), f.seconds);
    } else {
      std::snprintf(buf, sizeof buf, "%12s %12s %8s %9s  ", "-", "-", "-", "-");
    }
    out += buf;
    out += StateWord(f.state);
    if (!f.note.empty()) out += " (" + Printable(f.note) + ")";
    out += "\n";
  }
  const Totals t = Sum(figures);
  out += pad("Total");
  std::snprintf(buf, sizeof buf, "%12lld %12lld %8lld %9.2f  ", static_cast<long long>(t.read),
                static_cast<long long>(t.stored), static_cast<long long>(t.refused), wall_seconds);
  out += buf;
  out += std::to_string(t.copied) + " copied";
  if (t.failed) out += ", " + std::to_string(t.failed) + " failed";
  if (t.skipped) out += ", " + std::to_string(t.skipped) + " skipped";
  if (t.not_found) out += ", " + std::to_string(t.not_found) + " not found";
  if (t.not_started) out += ", " + std::to_string(t.not_started) + " not started";
  out += "\n";
  return out;
}

std::string SummaryJson(const std::string& command, const std::vector<TableFigures>& figures,
                        double wall_seconds, int exit_status) {
  std::string out = "{\n  \"command\": ";
  AppendJsonString(out, command);
  out += ",\n  \"exit_status\": " + std::to_string(exit_status) + ",\n  \"tables\": [";
  for (size_t i = 0; i < figures.size(); ++i) {
    const TableFigures& f = figures[i];
    out += i == 0 ? "\n    {" : ",\n    {";
    out += "\"table\": ";
    AppendJsonString(out, f.table);
    out += ", \"state\": ";
    AppendJsonString(out, StateWord(f.state));
    out += ", \"rows_total\": " + std::to_string(f.rows_total);
    out += ", \"rows_read\": " + std::to_string(f.rows_read);
    out += ", \"rows_stored\": " + std::to_string(f.rows_stored);
    out += ", \"rows_refused\": " + std::to_string(f.rows_refused);
    out += ", \"seconds\": " + Fixed(f.seconds);
    out += ", \"note\": ";
    AppendJsonString(out, f.note);
    out += "}";
  }
  const Totals t = Sum(figures);
  out += figures.empty() ? "],\n" : "\n  ],\n";
  out += "  \"total\": {\"tables\": " + std::to_string(figures.size()) +
         ", \"copied\": " + std::to_string(t.copied) + ", \"failed\": " + std::to_string(t.failed) +
         ", \"skipped\": " + std::to_string(t.skipped) +
         ", \"not_found\": " + std::to_string(t.not_found) +
         ", \"not_started\": " + std::to_string(t.not_started) +
         ", \"rows_read\": " + std::to_string(t.read) +
         ", \"rows_stored\": " + std::to_string(t.stored) +
         ", \"rows_refused\": " + std::to_string(t.refused) +
         ", \"seconds\": " + Fixed(wall_seconds) + "}\n}\n";
  return out;
}

int EndOfRun(const std::string& command, const RunOptions& run,
             const std::vector<TableFigures>& figures, double wall_seconds, int other_failures) {
  const Totals t = Sum(figures);
  int status = t.failed + t.not_found + t.not_started + other_failures > 0 || t.refused > 0 ? 1 : 0;
  if (!run.quiet) {
    std::fputs(SummaryText(figures, wall_seconds).c_str(), stdout);
    std::fflush(stdout);
  }
  if (run.report) {
    Status written = WriteWholeFile(*run.report, SummaryJson(command, figures, wall_seconds, status),
                                    static_cast<mode_t>(-1), "the report");
    if (!written.ok()) {
      std::fprintf(stderr, "corvane-cli: %s\n", written.message().c_str());
      status = 1;
    }
  }
  return status;
}

}  // namespace corvane::cli
