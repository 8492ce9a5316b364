// What each table of a copy into PostgreSQL came to, for the caller: the
// failures and refused rows as they happen, the outcome at the table's end,
// and a dry run's plan.
#include <cctype>
#include <string>
#include <vector>

#include "base/ascii.h"
#include "transfer/field_types.h"
#include "transfer/handler_steps.h"
#include "transfer/long_names.h"
#include "transfer/to_postgres_handler.h"
#include "transfer/typed_columns.h"

namespace corvane::transfer {

using namespace to_postgres_step;  // the steps a failure dialog names

void ToPostgres::NoteFailure(const Status& why) {
  if (!refusing_) tally_.Note(why, report_);
}

// A row of the table the server refused for its own values (or that could
// not be read): reported, and shown as its own dialog unless the caller did.
void ToPostgres::RefuseRow(int line, int64_t row, const Status& why,
                           const std::vector<Value>* values) {
  report_.refused.push_back(RefusalOf(row, why, values, columns_));
  const TableEvents& events = options_.events;
  if (events.refused && events.refused(report_, report_.refused.back(), statement_)) return;
  refusing_ = true;
  proc_.Fail(line, why);
  refusing_ = false;
}

void ToPostgres::EndReport() {
  tally_.in_table = false;
  TableReport& r = report_;
  if (skipped_) {
    r.outcome = TableOutcome::kSkipped;
    r.why = "exists";
  } else if (r.dry_run && tally_.of_table == 0) {
    r.outcome = TableOutcome::kCopied;
  } else if (added_ && tally_.of_table == 0 && r.rows_read == r.rows_total) {
    r.outcome = TableOutcome::kCopied;
  } else {
    r.outcome = TableOutcome::kFailed;
    if (r.why.empty()) {
      r.why = added_ ? "only " + std::to_string(r.rows_read) + " of " +
                           std::to_string(r.rows_total) + " rows were read"
                     : "the table was not created";
    }
  }
  reports_.push_back(std::move(report_));
}

// A dry run's account of the table: the columns CreateTable would give it.
void ToPostgres::PlanTable(const std::string& table, RecordSet* rows) {
  report_.rows_total = rows->RecordCount();
  if (Status names = CheckPostgresTableNames(table, *rows); !names.ok()) {
    proc_.Fail(kCreate, names);
    return;
  }
  if (ReadLayout(table, rows)) {
    for (const paradox::FieldInfo& f : layout_->fields) {
      report_.columns.push_back({f.name, PostgresTypeOf(f)});
    }
    return;
  }
  for (int c = 0; c < rows->FieldCount(); ++c) {
    // The type text closes the quoted name: `" NUMERIC,`.
    const std::string_view text = PostgresColumnTypeText(ColumnClassOf(rows->FieldType(c)));
    report_.columns.push_back({rows->FieldName(c), AsciiUpperCase(text.substr(2, text.size() - 3))});
  }
}

}  // namespace corvane::transfer
