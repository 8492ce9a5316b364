// What each table of a copy into Paradox came to, for the caller: the
// failures and refused rows as they happen, the outcome at the table's end,
// a dry run's fields, and the listing of the folder afterwards.
#include <optional>
#include <string>
#include <vector>

#include "catalog/paradox_catalog.h"
#include "paradox/table_reader.h"
#include "transfer/handler_steps.h"
#include "transfer/shared_targets.h"
#include "transfer/staging_names.h"
#include "transfer/to_paradox_handler.h"

namespace corvane::transfer {

using namespace to_paradox_step;  // the steps a failure dialog names

namespace {

// A field's type as Paradox names it, with the width where it has one:
// "Alpha(20)", "BCD(2)", "Long integer".
std::string ParadoxTypeText(const paradox::FieldInfo& f) {
  std::string text = paradox::TypeLabel(f.type);
  if (f.type == paradox::FieldType::kAlpha || f.type == paradox::FieldType::kBytes) {
    text += "(" + std::to_string(f.size) + ")";
  } else if (f.type == paradox::FieldType::kBcd) {
    text += "(" + std::to_string(f.scale) + ")";
  }
  return text;
}

// A listing failure is the folder's, whichever table ran before it: it is
// counted, and handed to the caller's hook where one is set.
class ListingDialogs : public ui::Dialogs {
 public:
  ListingDialogs(ui::Dialogs& to, const TableEvents& events, int& failures)
      : to_(to), events_(events), failures_(failures) {}
  void Message(const std::string& text, std::optional<std::string> title,
               ui::MessageIcon icon) override {
    if (icon == ui::MessageIcon::kExclamation) {
      ++failures_;
      if (events_.list_failure) return events_.list_failure(text);
    }
    to_.Message(text, std::move(title), icon);
  }
  ui::Answer Question(const std::string& text, std::optional<std::string> title) override {
    return to_.Question(text, std::move(title));
  }
  std::string Prompt(const std::string& text, std::optional<std::string> title,
                     const std::string& answer) override {
    return to_.Prompt(text, std::move(title), answer);
  }
  std::string ChooseFolder(const std::string& title, const std::string& start) override {
    return to_.ChooseFolder(title, start);
  }

 private:
  ui::Dialogs& to_;
  const TableEvents& events_;
  int& failures_;
};

}  // namespace

void ToParadox::RefillList() {
  const std::string folder = w_.settings.Current().paradox_folder;
  ListingDialogs dialogs(w_.dialogs, options_.events, list_failures_);
  tally_.in_table = false;
  const int before = proc_.failures();
  proc_.Step(kListFolder, [&] {
    return catalog::ListParadoxTables(folder, w_.paradox_list, w_.pump, dialogs);
  });
  list_failures_ += proc_.failures() - before;
}

void ToParadox::NoteFailure(const Status& why) {
  if (!refusing_) tally_.Note(why, report_);
}

// A row the staging database did not take, or that could not be read:
// reported, and shown as its own dialog unless the caller did.
void ToParadox::RefuseRow(int line, int64_t row, const Status& why, bool read) {
  std::vector<std::string> columns;
  for (int j = 0; rows_ && j < rows_->FieldCount(); ++j) columns.push_back(rows_->FieldName(j));
  report_.refused.push_back(RefusalOf(row, why, read ? &row_ : nullptr, columns));
  if (row_pending_) BuildInsert();
  const TableEvents& events = options_.events;
  if (events.refused && events.refused(report_, report_.refused.back(), sql_)) return;
  refusing_ = true;
  proc_.Fail(line, why);
  refusing_ = false;
}

void ToParadox::EndReport(Decision decision, bool exported) {
  tally_.in_table = false;
  TableReport& r = report_;
  if (decision == Decision::kSkip) {
    r.outcome = TableOutcome::kSkipped;
  } else if (exported && tally_.of_table == 0 && r.rows_read == r.rows_total) {
    r.outcome = TableOutcome::kCopied;
    r.rows_stored = stored_;
    r.why = note_;
  } else {
    r.outcome = TableOutcome::kFailed;
    r.rows_stored = exported ? stored_ : 0;
    if (r.why.empty()) {
      r.why = exported ? "only " + std::to_string(r.rows_read) + " of " +
                             std::to_string(r.rows_total) + " rows were read"
                       : "no Paradox table was written";
    }
  }
  reports_.push_back(std::move(report_));
}

// Two selected tables that would land on one Paradox file (one name in two
// schemas, names that differ only in case or agree in their first 8 units)
// would overwrite each other whatever the questions say: both are refused
// before anything is written; the rest go on.
void ToParadox::RefuseSharedTargets() {
  const ui::TableList& list = w_.postgres_list;
  refused_ = SelectedSharingTargets(
      list, [&](int i) { return ParadoxTargetOf(list.Text(i), true); }, "Paradox",
      [&](const Status& why) { proc_.Fail(kSharedTarget, why); });
  ReportSharedTargets(list, refused_, "Paradox", reports_);
}

// A dry run's table, written to scratch: its fields, for the report.
Status ToParadox::NotePlannedFields(const std::string& db_path) {
  auto written = paradox::TableReader::ReadInfo(db_path);
  if (!written.ok()) return written.status();
  for (const paradox::FieldInfo& f : written->fields) {
    report_.columns.push_back({f.name, ParadoxTypeText(f)});
  }
  return Status::Ok();
}

}  // namespace corvane::transfer
