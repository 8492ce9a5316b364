#include "transfer/table_report.h"

namespace corvane::transfer {

std::string ColumnNamedIn(const std::string& reason, const std::vector<std::string>& columns) {
  // The longest match wins, so "id" does not shadow "order id".
  std::string found;
  for (const std::string& c : columns) {
    if (c.size() <= found.size() || c.empty()) continue;
    if (reason.find('`' + c + '`') != std::string::npos ||
        reason.find('"' + c + '"') != std::string::npos) {
      found = c;
    }
  }
  return found;
}

void FailureTally::Note(const Status& why, TableReport& report) {
  if (!in_table) {
    if (run_failure.empty()) run_failure = why.message();
    return;
  }
  ++of_table;
  if (report.why.empty()) report.why = why.message();
}

RefusedRow RefusalOf(int64_t row, const Status& why, const std::vector<Value>* values,
                     const std::vector<std::string>& columns) {
  RefusedRow refused;
  refused.row = row;
  refused.reason = why.message();
  refused.column = ColumnNamedIn(refused.reason, columns);
  if (values != nullptr) {
    refused.values.reserve(values->size());
    for (const Value& v : *values) {
      refused.values.push_back(v.is_null() ? std::nullopt : std::optional<std::string>(v.text()));
    }
  }
  return refused;
}

void ReportSharedTargets(const ui::TableList& list, const std::set<int>& entries,
                         const std::string& side, std::vector<TableReport>& reports) {
  for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
    TableReport r;
    r.table = r.written_as = list.Text(*it);
    r.why = "shares its " + side + " table with another";
    reports.push_back(std::move(r));
  }
}

ui::Answer AskUser(const TableEvents& events, ui::Dialogs& dialogs, Question question,
                   const std::string& text, const char* title) {
  if (events.ask) return events.ask(question, text);
  return dialogs.Question(text, std::string(title));
}

}  // namespace corvane::transfer
