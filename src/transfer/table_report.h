// What a copy did to each table, as plain figures: both front ends read it,
// so neither has to guess from what the handler showed.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "base/status.h"
#include "connection/value.h"
#include "ui/surfaces.h"

namespace corvane::transfer {

enum class TableOutcome { kCopied, kFailed, kSkipped, kNotFound };

inline const char* OutcomeWord(TableOutcome outcome) {
  switch (outcome) {
    case TableOutcome::kCopied: return "copied";
    case TableOutcome::kFailed: return "failed";
    case TableOutcome::kSkipped: return "skipped";
    case TableOutcome::kNotFound: return "not found";
  }
  return "";
}

// A row the destination did not take.
struct RefusedRow {
  int64_t row = 0;     // from 1, in the order the source gave the rows
  std::string column;  // the column the reason names; empty when none does
  std::string reason;
  // As read; empty when the row itself could not be read.
  std::vector<std::optional<std::string>> values;
};

// A field or column a copy writes, with its type as the destination names it.
struct PlannedColumn {
  std::string name;
  std::string type;
};

struct TableReport {
  std::string table;       // the source, as its list shows it
  std::string written_as;  // the destination's name (a long name cut, a spelling kept)
  TableOutcome outcome = TableOutcome::kFailed;
  // Why it failed or was skipped; for a copied table a note such as a key
  // left off, or empty.
  std::string why;
  int64_t rows_total = 0;   // what the source said it holds
  int64_t rows_read = 0;    // rows reached
  int64_t rows_stored = 0;  // what the destination holds of them
  // Memo and blob values stored as NULL because the .mb was missing.
  int64_t values_made_null = 0;
  std::vector<RefusedRow> refused;
  bool replaces = false;  // an existing table of that name is (or would be) replaced
  // A dry run: nothing was written, and kCopied means the copy would go
  // ahead, writing `columns`.
  bool dry_run = false;
  std::vector<PlannedColumn> columns;
};

// Where a handler's failures go: to the table being copied, whose first
// failure is its why, or outside any table to the run, whose first failure
// says why no table ran.
struct FailureTally {
  bool in_table = false;
  int of_table = 0;  // failures of the table being copied
  std::string run_failure;
  void Note(const Status& why, TableReport& report);
};

// The column of `columns` that `reason` names in quotes (`x`, "x"); empty
// when it names none.
std::string ColumnNamedIn(const std::string& reason, const std::vector<std::string>& columns);

enum class Question { kCutLongName, kOverwrite };

// Hooks a front end without dialogs sets; each one left empty leaves the
// window's behaviour as it is.
struct TableEvents {
  // Answers a question instead of the window's dialog.
  std::function<ui::Answer(Question, const std::string& text)> ask;
  // The rows of the table reached so far.
  std::function<void(const std::string& table, int64_t done, int64_t total)> rows;
  // A refused row, with the statement a dialog would quote. True when it
  // was shown here, so the failure dialog is left out.
  std::function<bool(const TableReport&, const RefusedRow&, const std::string& statement)> refused;
  // A failure of the folder listing that follows the copies; it is the same
  // whichever table ran before it.
  std::function<void(const std::string& text)> list_failure;
};

// The refused row `row` (from 1) with its values, when they were read,
// and the column the reason names among `columns`.
RefusedRow RefusalOf(int64_t row, const Status& why, const std::vector<Value>* values,
                     const std::vector<std::string>& columns);

// A failed report for each entry of `list` in `entries` (refused before any
// row went: it shares its `side` table with another selected entry).
void ReportSharedTargets(const ui::TableList& list, const std::set<int>& entries,
                         const std::string& side, std::vector<TableReport>& reports);

// Asks through `events.ask` when set, else the window's dialog.
ui::Answer AskUser(const TableEvents& events, ui::Dialogs& dialogs, Question question,
                   const std::string& text, const char* title);

}  // namespace corvane::transfer
