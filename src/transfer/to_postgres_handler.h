// The handler behind "Send Table/s To PostgreSQL", shared by the file that
// walks the tables (to_postgres.cpp) and the one that sends a table's rows
// in batches (to_postgres_batches.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "base/status.h"
#include "connection/connection.h"
#include "paradox/format.h"
#include "transfer/paradox_rules.h"
#include "transfer/shared_targets.h"
#include "transfer/to_postgres.h"
#include "ui/procedure.h"
#include "ui/pump.h"
#include "ui/windows.h"

namespace corvane::transfer {

inline constexpr const char* kToPostgresTag = "Form2.PushButton4_Click";

class ToPostgres {
 public:
  ToPostgres(ui::TablesWindow& window, const ToPostgresOptions& options)
      : w_(window), options_(options), pump_(window.pump), proc_(window.dialogs, kToPostgresTag) {
    proc_.ShowStatement(&statement_);
    proc_.OnFailure([this](int, const Status& why) { NoteFailure(why); });
  }
  TransferOutcome Run();

 private:
  void RefuseSharedTargets();
  void OpenConnections();
  Status OpenPostgres(const ConnectionSettings& settings);
  bool InTargetSchema(int entry) const;
  bool TargetListed(const std::string& table) const;
  bool Reconnect();
  void CopyTable(int index);
  void CopyLockedTable(std::string table, const std::string& sub_folder);
  std::unique_ptr<RecordSet> OpenSource(const std::string& table, const std::string& sub_folder);
  bool ChooseTarget(const std::string& table, bool asked, bool replace);
  Status TryDrop(const std::string& table);
  bool PutInPlace(const std::string& table, bool replace);
  Status NameAfterTable(const std::string& table);
  void DropScratch();
  bool LockTarget(const std::string& table, bool& waited);
  void UnlockTarget(const std::string& table);
  void NoteTableOnServer(const std::string& table);
  bool StepOnServer(int line, const std::function<Status()>& step);
  Status Stopped(const Status& why, int64_t reached) const;
  Status AsShown(const Status& st) const;
  void RefreshStatement();
  ui::Answer AskOverwrite(std::string& table);
  void CreateTable(const std::string& table, RecordSet* rows);
  bool ReadLayout(const std::string& table, RecordSet* rows);
  void FinishTypedTable(const std::string& table);
  void SendRows(const std::string& table, RecordSet* rows);
  bool Bulk() const { return options_.multi_row && created_ && !numeric_.empty(); }
  bool FillBatch(RecordSet& rows, int64_t first, int64_t end);
  void StartCopy(size_t planned_rows, bool large_row = false);
  size_t SendBatch(int64_t first, int64_t total);
  std::vector<Status> RunBatch();
  Status EndCopy();
  std::vector<Status> RunRowByRow();
  void BuildRowStatements(size_t begin, size_t end);
  void FinishTable(const std::string& table, std::unique_ptr<RecordSet> rows, bool add_name);
  void NoteFailure(const Status& why);
  void RefuseRow(int line, int64_t row, const Status& why, const std::vector<Value>* values);
  void EndReport();
  void PlanTable(const std::string& table, RecordSet* rows);

  ui::TablesWindow& w_;
  ToPostgresOptions options_;
  ui::EventPump& pump_;  // the window's own, throttled by the clock
  ui::Procedure proc_;
  Connection postgres_;
  Connection paradox_;
  // A table listed from a sub-folder is read there, over a connection of
  // its own kept for the next table of the same sub-folder.
  Connection sub_source_;
  std::string sub_source_folder_;
  std::string source_folder_;  // the folder of the table being copied
  std::set<int> refused_;      // entries that share their PostgreSQL table with another
  std::map<int, ParadoxSource> sources_;  // entries read or written under another name
  std::string source_;  // the name the table being copied is read by
  std::string target_schema_;  // where a bare name is created ("": not known)
  // The CREATE TABLE or INSERT built last; every failure dialog shows it.
  // After a batch it is the INSERT of last_row_, built only when shown
  // (statement_stale_): a large row is not held twice.
  std::string statement_;
  std::vector<Value> last_row_;
  bool statement_stale_ = false;
  std::string table_;
  std::string head_;           // INSERT INTO "T" VALUES('
  // The table the statements run on: T itself, or its scratch table while
  // T is being made or replaced (shown statements name T all the same).
  std::string target_;
  std::string run_head_;  // INSERT INTO "target" VALUES('
  bool scratch_ = false;
  bool replace_ = false;
  int scratch_pid_ = 0;  // the session's, for the scratch tables' names
  std::vector<bool> numeric_;  // per column: created NUMERIC
  // The readable rows of the batch (buffers reused from batch to batch) and
  // the single-row statements of those being run on their own.
  std::vector<std::vector<Value>> values_;
  std::vector<std::string> statements_;
  size_t batch_used_ = 0;
  // One per row of the batch, in row order: its index in values_, or -1
  // with the error of a row the source could not read.
  struct Slot {
    int row;
    Status read_error;
  };
  std::vector<Slot> slots_;
  Status last_move_;
  bool created_ = false;                      // this click's CREATE TABLE succeeded
  std::optional<paradox::TableInfo> layout_;  // the table was created typed
  Status read_failure_;
  size_t batch_bytes_ = 0;  // the byte budget of the batches of this table
  // The COPY of the batch being read, fed row by row; copy_status_ holds
  // its first failure (then the batch is replayed row by row).
  std::unique_ptr<RowCopy> copy_;
  Status copy_status_;
  bool driver_copies_ = true;
  // Rows of the current table stored so far, for the dialog that ends it.
  int64_t stored_ = 0;
  std::vector<std::pair<std::string, int64_t>> rows_stored_;
  std::vector<std::pair<std::string, int64_t>> made_null_;
  int64_t total_ = 0;
  // The PostgreSQL connection was lost; nothing more goes to it until it
  // opens again.
  bool lost_ = false;
  // The table's rows ended early (the server lost or full); the walk goes on.
  bool rows_ended_ = false;
  // What each table came to, for the caller.
  TableReport report_;
  bool refusing_ = false, skipped_ = false, added_ = false;
  FailureTally tally_;
  std::vector<std::string> columns_;
  std::vector<TableReport> reports_;
  RuleKeeper rules_{postgres_, w_.dialogs, proc_, statement_};
};

}  // namespace corvane::transfer
