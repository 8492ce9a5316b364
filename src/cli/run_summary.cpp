// The end of a copy run: the summary on the terminal, the JSON report and
// the rejects file.
#include <algorithm>
#include <cstdio>

#include "base/utf8.h"
#include "base/whole_file.h"
#include "cli/printable.h"
#include "cli/table_runs.h"

namespace corvane::cli {
namespace {

void AppendCsvField(std::string& out, const std::string& text, bool quote_empty) {
  if (text.find_first_of(",\"\r\n") == std::string::npos && !(quote_empty && text.empty())) {
    out += text;
    return;
  }
  out += '"';
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
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
  int copied = 0, failed = 0, skipped = 0, not_found = 0, not_started = 0, no_choice = 0;
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
    t.no_choice += f.needs_choice ? 1 : 0;
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

std::string SummaryText(const std::vector<TableFigures>& figures, double wall_seconds) {
  size_t width = 5;
  for (const TableFigures& f : figures) {
    width = std::max(width, DisplayWidth(Printable(f.table)));
  }
  auto pad = [&](const std::string& name) {
    return name + std::string(width + 2 - std::min(width, DisplayWidth(name)), ' ');
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
    out += ResultWord(f);
    if (!f.note.empty()) out += " (" + Printable(f.note) + ")";
    out += "\n";
  }
  const Totals t = Sum(figures);
  out += pad("Total");
  std::snprintf(buf, sizeof buf, "%12lld %12lld %8lld %9.2f  ", static_cast<long long>(t.read),
                static_cast<long long>(t.stored), static_cast<long long>(t.refused), wall_seconds);
  out += buf;
  const bool dry = std::any_of(figures.begin(), figures.end(),
                               [](const TableFigures& f) { return f.dry_run; });
  out += std::to_string(t.copied) + (dry ? " to copy" : " copied");
  if (t.failed) out += ", " + std::to_string(t.failed) + " failed";
  if (t.skipped) out += ", " + std::to_string(t.skipped) + " skipped";
  if (t.no_choice) out += " (" + std::to_string(t.no_choice) + " without a choice)";
  if (t.not_found) out += ", " + std::to_string(t.not_found) + " not found";
  if (t.not_started) out += ", " + std::to_string(t.not_started) + " not started";
  out += "\n";
  return out;
}

std::string SummaryJson(const std::string& command, const std::vector<TableFigures>& figures,
                        double wall_seconds, int exit_status, const std::string& error) {
  std::string out = "{\n  \"command\": ";
  AppendJsonString(out, command);
  out += ",\n  \"exit_status\": " + std::to_string(exit_status);
  if (!error.empty()) {
    out += ",\n  \"error\": ";
    AppendJsonString(out, error);
  }
  out += ",\n  \"tables\": [";
  for (size_t i = 0; i < figures.size(); ++i) {
    const TableFigures& f = figures[i];
    out += i == 0 ? "\n    {" : ",\n    {";
    out += "\"table\": ";
    AppendJsonString(out, f.table);
    out += ", \"state\": ";
    AppendJsonString(out, ResultWord(f));
    out += ", \"rows_total\": " + std::to_string(f.rows_total);
    out += ", \"rows_read\": " + std::to_string(f.rows_read);
    out += ", \"rows_stored\": " + std::to_string(f.rows_stored);
    out += ", \"rows_refused\": " + std::to_string(f.rows_refused);
    out += ", \"seconds\": " + Fixed(f.seconds);
    out += ", \"note\": ";
    AppendJsonString(out, f.note);
    if (f.needs_choice) out += ", \"needs_choice\": true";
    if (f.dry_run) {
      out += ", \"columns\": [";
      for (size_t k = 0; k < f.columns.size(); ++k) {
        out += k == 0 ? "{\"name\": " : ", {\"name\": ";
        AppendJsonString(out, f.columns[k].name);
        out += ", \"type\": ";
        AppendJsonString(out, f.columns[k].type);
        out += "}";
      }
      out += "]";
    }
    out += ", \"refused\": [";
    for (size_t k = 0; k < f.refused.size(); ++k) {
      const transfer::RefusedRow& r = f.refused[k];
      out += k == 0 ? "{\"row\": " : ", {\"row\": ";
      out += std::to_string(r.row) + ", \"column\": ";
      AppendJsonString(out, r.column);
      out += ", \"reason\": ";
      AppendJsonString(out, r.reason);
      out += "}";
    }
    out += "]}";
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

std::string RejectsCsv(const std::vector<TableFigures>& figures) {
  std::string out = "table,row,column,reason,values\r\n";
  for (const TableFigures& f : figures) {
    for (const transfer::RefusedRow& r : f.refused) {
      AppendCsvField(out, f.table, false);
      out += "," + std::to_string(r.row) + ",";
      AppendCsvField(out, r.column, false);
      out += ",";
      AppendCsvField(out, r.reason, false);
      for (const std::optional<std::string>& v : r.values) {
        out += ",";
        if (v) AppendCsvField(out, *v, true);
      }
      out += "\r\n";
    }
  }
  return out;
}

namespace {

int WriteFiles(const std::string& command, const RunOptions& run,
               const std::vector<TableFigures>& figures, double wall_seconds, int status,
               const std::string& error) {
  auto write = [&](const std::optional<std::string>& file, const std::string& what,
                   const std::function<std::string()>& text) {
    if (!file) return;
    Status written = WriteWholeFile(*file, text(), static_cast<mode_t>(-1), what);
    if (!written.ok()) {
      std::fprintf(stderr, "corvane-cli: %s\n", written.message().c_str());
      status = status == 0 ? 1 : status;
    }
  };
  write(run.rejects, "the rejects file", [&] { return RejectsCsv(figures); });
  // The report last: it tells the status the run ends with.
  if (run.report) {
    Status written = WriteWholeFile(
        *run.report, SummaryJson(command, figures, wall_seconds, status, error),
        static_cast<mode_t>(-1), "the report");
    if (!written.ok()) {
      std::fprintf(stderr, "corvane-cli: %s\n", written.message().c_str());
      status = status == 0 ? 1 : status;
    }
  }
  return status;
}

}  // namespace

int EndOfRun(const std::string& command, const RunOptions& run,
             const std::vector<TableFigures>& figures, double wall_seconds, int other_failures) {
  const Totals t = Sum(figures);
  const int status =
      t.failed + t.not_found + t.not_started + t.no_choice + other_failures > 0 || t.refused > 0
          ? 1
          : 0;
  if (!run.quiet) {
    std::fputs(SummaryText(figures, wall_seconds).c_str(), stdout);
    std::fflush(stdout);
  }
  return WriteFiles(command, run, figures, wall_seconds, status, "");
}

int FailedRun(const std::string& command, const RunOptions& run, const std::string& why,
              int status, bool say) {
  if (say) std::fprintf(stderr, "corvane-cli: %s\n", why.c_str());
  return WriteFiles(command, run, {}, 0, status, why);
}

}  // namespace corvane::cli
