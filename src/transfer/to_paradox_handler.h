// The handler behind "Send Table/s To Paradox", shared by the file that
// copies the tables (to_paradox.cpp) and the one that reports what each
// came to (to_paradox_report.cpp).
#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "base/status.h"
#include "connection/connection.h"
#include "transfer/postgres_rules.h"
#include "transfer/table_report.h"
#include "transfer/to_paradox.h"
#include "transfer/typed_columns.h"
#include "ui/procedure.h"
#include "ui/windows.h"

namespace corvane::transfer {

enum class Decision { kNone = 0, kOverwrite = 6, kSkip = 7 };

class ToParadox {
 public:
  ToParadox(ui::TablesWindow& w, const ToParadoxOptions& options)
      : w_(w), options_(options), proc_(w.dialogs, "Form2.PushButton3_Click") {
    proc_.ShowStatement(&sql_);
    proc_.BeforeShowing([this] {
      if (row_pending_) BuildInsert();
    });
    proc_.OnFailure([this](int, const Status& why) { NoteFailure(why); });
  }
  int Run();
  std::vector<TableReport> TakeReports() { return std::move(reports_); }
  std::string TakeRunFailure() { return std::move(tally_.run_failure); }
  int list_failures() const { return list_failures_; }

 private:
  void RefuseSharedTargets();
  void OpenConnections();
  void CloseConnections();
  void TransferEntry(int index);
  Decision DecideName(const std::string& source, std::string& target);
  Decision DecideOverwrite(const std::string& target, Decision decision);
  void OpenSource(const std::string& source);
  bool SettleFieldNames(const std::string& source);
  void BuildCreate(const std::string& source);
  void ReadColumnTypes(const std::string& source);
  std::string TypeText(int column);
  void AppendPrimaryKey();
  Status Export(const std::string& folder, const std::string& target, const std::string& source);
  Status PlanExport(const std::string& target, const std::string& source);
  Status NotePlannedFields(const std::string& db_path);
  void ReplaceStagingTable(const std::string& source, int test_line, int drop_line);
  bool CopyRows(const std::string& source);
  bool StoreRows(const std::string& source, int64_t n);
  bool BrokenOff(int line, const std::string& source, int64_t read, int64_t n, const Status& why);
  bool FailedBehind(const std::string& source, int64_t n);
  void ReportBrokenOff(int line, const std::string& source, int64_t read, int64_t n,
                       const Status& why);
  Status ReadRow();
  Status InsertRow(const std::string& source);
  Status WithText(Status status);
  void BuildInsert();
  bool FinishTable(const std::string& source, const std::string& target, bool complete);
  Status DropForOverwrite(const std::string& target);
  bool Reconnect(int index);
  Status Exec(Connection& c, const std::string& sql) { return c.Execute(sql).status(); }
  void NoteFailure(const Status& why);
  void RefuseRow(int line, int64_t row, const Status& why, bool read);
  void EndReport(Decision decision, bool exported);
  void RefillList();

  ui::TablesWindow& w_;
  ToParadoxOptions options_;
  ui::Procedure proc_;
  std::set<int> refused_;  // entries that share their Paradox table with another
  std::string schema_;     // the schema of the table being copied ("": the search path's)
  std::vector<PostgresColumn> columns_;  // with the option: the source's catalog
  PostgresRules rules_;                  // and its rules
  std::vector<std::string> field_names_;  // the Paradox field of each column
  std::string note_;                     // what the export left out, if anything
  std::string sql_;           // the CREATE or INSERT built last; the dialog quotes it
  std::vector<Value> row_;    // the values of the row being copied
  bool row_pending_ = false;  // sql_ does not yet hold row_'s statement
  std::string head_;          // the start of that statement
  Connection staging_, paradox_, postgres_;
  std::unique_ptr<RecordSet> rows_;
  bool replace_ = false;            // the overwrite agreed for this table
  int64_t stored_ = 0;              // rows of this table the staging database took
  std::vector<int64_t> not_taken_;  // and those of its rows it did not take
  bool source_lost_ = false;        // the PostgreSQL connection broke off
  bool walk_ended_ = false;         // and could not be opened again
  // What each table came to, for the caller.
  TableReport report_;
  bool refusing_ = false;
  FailureTally tally_;
  std::vector<TableReport> reports_;
  int list_failures_ = 0;
};

}  // namespace corvane::transfer
