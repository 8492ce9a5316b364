// "Send Table/s To Paradox" (Form2.PushButton3_Click).
//
// Outline: open the staging, Paradox and PostgreSQL connections; walk the
// PostgreSQL list bottom-up; for each selected table settle its Paradox
// name (8-unit cut after asking) and whether an existing table is replaced
// (after asking), read it with SELECT *, rebuild it in the staging
// database (CREATE, one INSERT per row), export it into the folder and drop
// the staging table; finally refill the Paradox list once. Every step is
// numbered; a failing step shows the failure dialog with the statement
// built last and the handler goes on with the next step.
//
// A table the user agreed to overwrite stays in the folder until its
// replacement is complete: the drop only grants the export leave to replace
// it, and the export swaps the files at the last moment (staging_export.h).
// A table whose source or staging copy broke off part way (lost
// connection, full disk) is not exported at all: one dialog says how far it
// got, and the next table follows only if PostgreSQL answers again. A stop
// request (a signal, the window closed) ends the walk at the next row.
// The staging connection may store rows after taking them (on threads of
// its own); a row it then fails to store is reported as if it had failed
// when handed over, before anything that came after it.
#include "transfer/to_paradox.h"

#include <filesystem>
#include <memory>
#include <string>

#include "app/program_folder.h"
#include "base/stop_request.h"
#include "connection/connection.h"
#include "staging/staging_door.h"
#include "paradox/companion_files.h"
#include "paradox/table_lock.h"
#include "transfer/field_types.h"
#include "transfer/handler_steps.h"
#include "transfer/long_names.h"
#include "transfer/postgres_rules.h"
#include "transfer/run_folders.h"
#include "transfer/staging_names.h"
#include "transfer/to_paradox_handler.h"
#include "transfer/typed_columns.h"
#include "ui/procedure.h"
#include "ui/pump.h"

namespace corvane::transfer {

using namespace to_paradox_step;  // the steps a failure dialog names

namespace {

constexpr const char* kClosedRecordSet = "Operation is not allowed when the object is closed.";
constexpr const char* kWaitingText =
    "Waiting for another transfer to finish with the staging database...";

// A staging failure that every later row would meet too: disk full, I/O,
// a damaged file, or a rolled-back transaction. (A staging database that
// never opened is one too: its rows end with one dialog, not one each.)
bool StagingBroken(const Status& s) {
  // kNotFound: the staging table is not there (its CREATE was refused).
  return s.code() == Status::Code::kIoError || s.code() == Status::Code::kCorruption ||
         s.code() == Status::Code::kPermissionDenied || s.code() == Status::Code::kNotFound;
}

}  // namespace

int ToParadox::Run() {
  if (w_.postgres_list.CurrentIndex() == -1) {  // kNoTableSelected
    w_.dialogs.Message("Please select a table to send.");
    return 0;
  }
  w_.pointer.Set(ui::PointerShape::kHourglass);  // kBusyPointer
  w_.pump.Pump();
  RefuseSharedTargets();
  OpenConnections();
  for (int i = w_.postgres_list.Count() - 1; i >= 0 && !walk_ended_ && !StopRequested(); --i) {
    if (w_.postgres_list.Selected(i) && refused_.count(i) == 0) TransferEntry(i);
  }
  RefillList();
  w_.pointer.Set(ui::PointerShape::kDefault);
  CloseConnections();
  return proc_.failures();
}

void ToParadox::OpenConnections() {
  proc_.Step(kOpenStaging, [&] {
    staging_.options().serve = ui::ServeWith(w_.pump);
    staging_.options().export_code_page = w_.settings.ExportCodePage();
    // An installed program keeps the staging database in the user's cache.
    auto file = app::StagingDatabaseFile(w_.program_folder);
    if (!file.ok()) return file.status();
    // Another transfer holds the staging database: wait our turn, the
    // window served and the pointer still the hourglass.
    bool waited = false;
    staging_.options().while_waiting = [&](bool first) {
      if (first) w_.progress.SetText(kWaitingText);
      waited = true;
      w_.pump.Pump();
      return !StopRequested();
    };
    Status opened = staging_.Open(StagingConnectionString(file.value()));
    if (waited) w_.progress.SetText(ui::kProgressRestText);
    return opened;
  });
  paradox_.options().serve = ui::ServeWith(w_.pump);
  proc_.Step(kOpenParadox, [&] { return paradox_.Open(ParadoxConnectionString(w_.settings.Current())); });
  postgres_.options().command_timeout_s = 5000;
  postgres_.options().connection_timeout_s = 5000;
  postgres_.options().serve = ui::ServeWith(w_.pump);
  proc_.Step(kOpenPostgres, [&] { return postgres_.Open(PostgresConnectionString(w_.settings.Current())); });
}

void ToParadox::CloseConnections() {
  staging_.Close();   // kCloseStaging
  postgres_.Close();  // kClosePostgres
  paradox_.Close();   // released with the handler
}

void ToParadox::TransferEntry(int index) {
  const std::string source = w_.postgres_list.Text(index);  // kTakeEntry
  schema_ = w_.postgres_list.Schema(index);
  std::string target = source;
  report_ = TableReport();
  report_.table = report_.written_as = source;
  report_.dry_run = options_.dry_run;
  tally_.in_table = true;
  tally_.of_table = 0;
  stored_ = 0;
  Decision decision = DecideName(source, target);
  if (decision == Decision::kSkip) report_.why = "name longer than 8 characters";
  report_.written_as = target;
  const Decision named = decision;
  decision = DecideOverwrite(target, decision);
  if (decision == Decision::kSkip && named != Decision::kSkip) report_.why = "exists";
  if (decision == Decision::kSkip) return EndReport(decision, false);  // kSkipTable
  replace_ = false;
  if (decision == Decision::kOverwrite) {
    report_.replaces = true;
    if (!options_.dry_run) {
      proc_.Step(kDropForOverwrite, [&] { return DropForOverwrite(target); });
      ui::RemoveFromList(w_.paradox_list, target);  // kUnlistTarget
    }
  }
  ReadColumnTypes(source);
  OpenSource(source);
  if (source_lost_) {  // its one dialog was shown; the rest would only repeat it
    replace_ = false;
    EndReport(decision, false);
    walk_ended_ = !Reconnect(index);
    return;
  }
  if (!SettleFieldNames(source)) {
    FinishTable(source, target, false);
    EndReport(decision, false);
    replace_ = false;
    return;
  }
  BuildCreate(source);
  ReplaceStagingTable(source, kFindStagingTable, kDropStagingTable);
  proc_.Step(kCreateStagingTable, [&] { return staging::CreateTable(staging_, source, create_); });
  const bool complete = CopyRows(source);
  const bool exported = FinishTable(source, target, complete);
  EndReport(decision, exported);
  replace_ = false;
  if (source_lost_) walk_ended_ = !Reconnect(index);
}

Decision ToParadox::DecideName(const std::string& source, std::string& target) {
  if (Utf16Length(source) <= kParadoxNameUnits) return Decision::kNone;  // kNameFits
  const ui::Answer answer = AskUser(options_.events, w_.dialogs, Question::kCutLongName,
                                    TrimQuestionText(source), "Continue?");
  if (answer == ui::Answer::kYes) {
    target = FirstUtf16Units(source, kParadoxNameUnits);  // kCutName
    return Decision::kNone;
  }
  return Decision::kSkip;  // kSkipLongName
}

Decision ToParadox::DecideOverwrite(const std::string& target, Decision decision) {
  if (decision == Decision::kSkip) return decision;                        // kNameSkipped
  if (!ui::ListContains(w_.paradox_list, target)) return Decision::kNone;  // kNotInFolder
  const ui::Answer answer = AskUser(options_.events, w_.dialogs, Question::kOverwrite,
                                    "Would you like to overwrite " + target + "?", "Overwrite?");
  return answer == ui::Answer::kYes ? Decision::kOverwrite : Decision::kSkip;  // kAskOverwrite
}

void ToParadox::OpenSource(const std::string& source) {
  rows_.reset();
  proc_.Step(kOpenSource, [&]() -> Status {
    auto opened = postgres_.Execute("SELECT * FROM " + QualifiedPostgresName(schema_, source));
    if (!opened.ok()) {
      source_lost_ = IsConnectionLost(opened.status());
      return opened.status();
    }
    rows_ = std::move(opened).value();
    return Status::Ok();
  });
}

// The field name of each column. A name Paradox cannot hold refuses the
// table before anything is written, unless the option makes it valid;
// each name so changed is told.
bool ToParadox::SettleFieldNames(const std::string& source) {
  field_names_.clear();
  if (!rows_) return true;  // the steps that follow say so
  for (int j = 0; j < rows_->FieldCount(); ++j) field_names_.push_back(rows_->FieldName(j));
  Status valid = CheckParadoxFieldNames(source, field_names_);
  if (valid.ok()) return true;
  if (!options_.trim_field_names) {
    proc_.Fail(kCreateColumns, valid);
    return false;
  }
  const std::vector<std::string> made = ValidParadoxFieldNames(field_names_);
  for (size_t j = 0; j < made.size(); ++j) {
    if (made[j] == field_names_[j]) continue;
    std::string why = ParadoxFieldNameRule(field_names_[j]);
    if (why.empty()) why = "another column has that name, ignoring case";
    w_.dialogs.Message("Column \"" + field_names_[j] + "\" of table " + source +
                       " is written as the Paradox field \"" + made[j] + "\" (" + why + ").");
  }
  field_names_ = made;
  return true;
}

// The staging table's columns: the word of each column's class, or with
// the option on the Paradox field its type names, and the key. The
// CREATE TABLE text is built only when a dialog quotes it.
void ToParadox::BuildCreate(const std::string& source) {
  row_pending_ = false;
  create_source_ = source;
  create_.clear();
  create_closed_ = false;
  create_pending_ = true;  // kCreateHead
  proc_.Step(kCreateColumns, [&]() -> Status {
    if (!rows_) return Status::InvalidArgument(kClosedRecordSet);
    for (int j = 0; j < rows_->FieldCount(); ++j) {
      w_.pump.Pump();
      create_.push_back(ColumnOf(j));
    }
    SetKey();
    return Status::Ok();
  });
  create_closed_ = true;  // kCreateEnd
}

// With the option on, the source's column types and key from its catalog,
// read before its rows are (the connection runs one query at a time).
void ToParadox::ReadColumnTypes(const std::string& source) {
  columns_.clear();
  rules_ = {};
  if (!options_.keep_types) return;
  proc_.Step(kReadColumnTypes, [&]() -> Status {
    auto columns = ReadPostgresColumns(postgres_, source, schema_);
    if (!columns.ok()) return columns.status();
    columns_ = std::move(columns).value();
    auto rules = ReadPostgresRules(postgres_, source, schema_);
    if (!rules.ok()) return rules.status();
    rules_ = std::move(rules).value();
    return Status::Ok();
  });
}

// Column `column` under its field name: the word of its column class, or
// with the option on the Paradox field its type names.
staging::StagingColumn ToParadox::ColumnOf(int column) {
  const std::string_view usual = StagingColumnTypeText(ColumnClassOf(rows_->FieldType(column)));
  const auto j = static_cast<size_t>(column);
  staging::StagingColumn c;
  c.name = field_names_.at(j);
  c.word = staging::ColumnWordOf(usual.substr(2, usual.size() - 3));
  if (columns_.size() != static_cast<size_t>(rows_->FieldCount()) ||
      columns_[j].name != rows_->FieldName(column)) {
    return c;
  }
  const KeptField kept = KeptFieldOf(columns_[j]);
  if (kept.text) c.word = staging::ColumnWord::kAlphaMemo;
  c.kept = kept.field;
  c.counter = kept.counter;
  return c;
}

// The key places, in key order, when the source has a key.
void ToParadox::SetKey() {
  if (columns_.size() != static_cast<size_t>(rows_->FieldCount())) return;
  std::vector<const PostgresColumn*> key(columns_.size(), nullptr);
  for (const PostgresColumn& c : columns_) {
    if (c.key_position > 0 && c.key_position <= static_cast<int>(key.size())) {
      key[static_cast<size_t>(c.key_position - 1)] = &c;
    }
  }
  if (key.empty() || key[0] == nullptr) return;
  int place = 0;
  for (const PostgresColumn* c : key) {
    if (c == nullptr) continue;
    size_t at = create_.size();
    for (int j = 0; j < rows_->FieldCount(); ++j) {
      if (rows_->FieldName(j) == c->name) at = static_cast<size_t>(j);
    }
    if (at < create_.size() && create_[at].key == 0) create_[at].key = ++place;
  }
}

// CREATE TABLE `S`(`c` WORD,...,PRIMARY KEY(`a`,`b`)); as the staging
// table is created; unclosed while its columns are being settled.
void ToParadox::BuildCreateText() {
  sql_ = "CREATE TABLE `" + DoubleBackquotes(create_source_) + "`(";
  std::vector<const staging::StagingColumn*> key;
  for (const staging::StagingColumn& c : create_) {
    sql_ += "`" + DoubleBackquotes(c.name) + "` " + staging::ColumnWordText(c) + ",";
    if (c.key > 0) {
      key.resize(std::max(key.size(), static_cast<size_t>(c.key)), nullptr);
      key[static_cast<size_t>(c.key - 1)] = &c;
    }
  }
  if (!key.empty()) {
    sql_ += "PRIMARY KEY(";
    for (const staging::StagingColumn* c : key) {
      if (c) sql_ += "`" + DoubleBackquotes(c->name) + "`,";
    }
    sql_.back() = ')';
    sql_ += ',';
  }
  create_pending_ = !create_closed_;  // a partial text is made again once closed
  if (!create_closed_) return;
  sql_.pop_back();  // the comma after the last column
  sql_ += ");";
}

// If ExistTable finds the staging table: DROP TABLE [S]. A failing test
// counts as passed, so the drop runs after its dialog.
void ToParadox::ReplaceStagingTable(const std::string& source, int test_line, int drop_line) {
  if (proc_.Test(test_line, [&] { return ExistTable(staging_, source); })) {
    proc_.Step(drop_line, [&] { return Exec(staging_, StagingDropText(source)); });
    if (drop_line == kDropStagingAfter) w_.pump.Pump();  // kServeAfterDrop
  }
}

// The rows into the staging table. A row that fails alone costs that row
// (its dialog, then the next row). A failure that every later row would
// meet too ends the table with one dialog; false then, and on a stop.
// A row goes in as values; its statement text is built only when a dialog
// quotes it (its failure, or that of any later step), so the user sees the
// same text as if it had been run, and a large row is not held twice.
bool ToParadox::CopyRows(const std::string& source) {
  auto count = proc_.Get<int64_t>(kCountRows, [&]() -> Result<int64_t> {
    if (!rows_) return Status::InvalidArgument(kClosedRecordSet);
    return rows_->RecordCount();
  });
  const int64_t n = count.value_or(0);
  report_.rows_total = n;
  head_ = "INSERT INTO `" + DoubleBackquotes(source) + "` VALUES('";
  stored_ = 0;
  not_taken_.clear();
  return StoreRows(source, n);
}

bool ToParadox::StoreRows(const std::string& source, int64_t n) {
  for (int64_t r = 0; r < n; ++r) {
    w_.pump.Pump();  // kServeWindow
    if (StopRequested()) return false;
    w_.progress.SetValue(static_cast<double>(r + 1) / static_cast<double>(n) * 100.0);  // kShowProgress
    report_.rows_read = r + 1;
    if (options_.events.rows) options_.events.rows(source, r + 1, n);
    if (rows_->Eof()) {
      if (row_pending_) BuildInsert();
      return BrokenOff(kReadRow, source, r, n, Status::IoError("the source ended early."));
    }
    const Status read = ReadRow();  // kReadRow
    if (!read.ok()) {
      if (FailedBehind(source, n)) return false;
      RefuseRow(kReadRow, r + 1, read, false);
    }
    const Status ran = WithText(InsertRow(source));  // kInsertRow
    if (ran.ok()) {
      ++stored_;
    } else {
      not_taken_.push_back(r);
      if (FailedBehind(source, n)) return false;
      if (StagingBroken(ran) || !staging_.is_open()) return BrokenOff(kInsertRow, source, r + 1, n, ran);
      if (read.ok()) {
        RefuseRow(kInsertRow, r + 1, ran, true);
      } else if (!options_.events.refused) {  // the row was reported as unreadable
        refusing_ = true;
        proc_.Fail(kInsertRow, ran);
        refusing_ = false;
      }
    }
    const Status moved = WithText(rows_->MoveNext());  // kNextRow
    if (!moved.ok() && r + 1 < n) return BrokenOff(kNextRow, source, r + 1, n, moved);
    if (!moved.ok() && FailedBehind(source, n)) return false;
    if (!moved.ok()) proc_.Fail(kNextRow, moved);
  }
  return !FailedBehind(source, n);
}

// Whether a row the staging connection took could not be stored after
// all; its dialog is then shown, with that row's statement and the rows
// truly stored, as if the table had broken off there.
bool ToParadox::FailedBehind(const std::string& source, int64_t n) {
  DeferredRows behind = staging_.FinishRows();
  if (behind.failure.ok()) return false;
  stored_ -= behind.lost;
  int64_t at = stored_;  // its place among the rows taken; then among all
  for (int64_t skipped : not_taken_) at += skipped <= at ? 1 : 0;
  BuildRowStatement(sql_, head_, behind.row);
  row_pending_ = false;
  create_pending_ = false;
  ReportBrokenOff(kInsertRow, source, at + 1, n, behind.failure);
  return true;
}

// The one dialog of a table that broke off after `read` of `n` rows
// (or at an earlier row the staging connection could not store).
bool ToParadox::BrokenOff(int line, const std::string& source, int64_t read, int64_t n,
                          const Status& why) {
  if (line != kInsertRow) source_lost_ = source_lost_ || IsConnectionLost(why);
  if (!FailedBehind(source, n)) ReportBrokenOff(line, source, read, n, why);
  return false;
}

void ToParadox::ReportBrokenOff(int line, const std::string& source, int64_t read, int64_t n,
                                const Status& why) {
  std::string text = "Table " + source + " broke off after " + std::to_string(read) + " of " +
                     std::to_string(n) + " rows were read (" + std::to_string(stored_) +
                     " stored): " + why.message();
  if (!text.empty() && text.back() != '.') text += '.';
  text += replace_ ? " Nothing was written to Paradox; the existing table was kept as it was."
                   : " Nothing was written to Paradox.";
  proc_.Fail(line, why.Reworded(text));
}

// After a lost connection the walk goes on only when PostgreSQL answers
// again; otherwise one dialog says so, if any selected table is left.
bool ToParadox::Reconnect(int index) {
  source_lost_ = false;
  postgres_.Close();
  Status opened = postgres_.Open(PostgresConnectionString(w_.settings.Current()));
  if (opened.ok()) return true;
  bool more = false;
  for (int i = index - 1; i >= 0 && !more; --i) more = w_.postgres_list.Selected(i);
  if (more) {
    proc_.Fail(kOpenPostgres,
               opened.Reworded("The connection to PostgreSQL was lost and could not be opened "
                               "again, so the remaining tables were not sent: " +
                               opened.message()));
  }
  return false;
}

// Takes the values of the current row (there is one).
Status ToParadox::ReadRow() {
  const int fields = rows_->FieldCount();
  row_.resize(static_cast<size_t>(fields));
  w_.pump.Pump();
  // Taken, not copied: the set refills the buffers it gets back.
  for (int j = 0; j < fields; ++j) rows_->TakeFieldValue(j, row_[static_cast<size_t>(j)]);
  row_pending_ = true;
  Status read = rows_->CurrentRowStatus();
  if (!read.ok()) BuildInsert();
  return read;
}

Status ToParadox::InsertRow(const std::string& source) {
  if (!row_pending_) return Exec(staging_, sql_);
  return staging_.InsertRow(source, row_);
}

// `status`, with the statement text of the row built first when it failed.
Status ToParadox::WithText(Status status) {
  if (!status.ok() && row_pending_) BuildInsert();
  return status;
}

void ToParadox::BuildInsert() {
  BuildRowStatement(sql_, head_, row_);
  row_pending_ = false;
  create_pending_ = false;
}

// True when the table was written.
bool ToParadox::FinishTable(const std::string& source, const std::string& target, bool complete) {
  w_.pointer.Set(ui::PointerShape::kDefault);  // kIdlePointer
  w_.progress.SetValue(0);                     // kClearProgress
  w_.progress.SetText(ui::kProgressRestText);  // kProgressText
  proc_.Step(kCloseSource, [&]() -> Status {
    if (!rows_) return Status::InvalidArgument(kClosedRecordSet);
    rows_->Close();
    rows_.reset();
    return Status::Ok();
  });
  note_.clear();
  bool exported = false;
  if (complete) {
    const std::string folder = ExportFolderText(w_.settings.Current().paradox_folder);
    if (!options_.dry_run)  // a long export is seen
      w_.progress.SetText("Writing " + target + ".db to the Paradox folder...");
    proc_.Step(kExport, [&] {
      Status s = Export(folder, target, source);
      exported = s.ok();
      if (exported && !options_.refill_paradox_list && !options_.dry_run) {
        written_.push_back(target);
      }
      return s;
    });
    if (!options_.dry_run) w_.progress.SetText(ui::kProgressRestText);
    if (!note_.empty()) w_.dialogs.Message(note_);
  }
  w_.pump.Pump();  // kServeAfterExport
  ReplaceStagingTable(source, kFindStagingAfter, kDropStagingAfter);
  return exported;
}

// The export; a table written without the key it was meant to have comes
// with a note saying why.
Status ToParadox::Export(const std::string& folder, const std::string& target,
                         const std::string& source) {
  if (options_.dry_run) return PlanExport(target, source);
  staging::ExportStatement e{folder, target, source, replace_,
                             RulesForExport(rules_, columns_, field_names_), {}};
  // The bar shows whole percents: it is set only when the one shown would
  // change, a hundred times at most however many rows there are.
  int shown = -1;
  e.progress = [&](uint64_t written, uint64_t total) {
    const int percent = total == 0 ? 100 : static_cast<int>(written * 100 / total);
    if (percent == shown) return;
    shown = percent;
    w_.progress.SetValue(percent);
  };
  auto result = staging::Export(staging_, e);
  if (shown >= 0) w_.progress.SetValue(0);
  if (result.ok()) note_ = LeftOffNote(target, rules_.left_off, std::move(result->note));
  return result.status();
}

// A dry run's export: the table is written to a scratch folder, so its
// fields are exactly those the copy would choose, and described from there.
Status ToParadox::PlanExport(const std::string& target, const std::string& source) {
  auto made = MakeRunFolder(RunFolderBase(), kDryRunFolderPrefix);
  if (!made.ok()) return made.status();
  const std::string scratch = std::move(made).value();
  auto result =
      staging::Export(staging_, {ExportFolderText(scratch), target, source, false, {}, {}});
  Status described = result.status();
  if (result.ok()) {
    note_ = std::move(result->note);
    described = NotePlannedFields((std::filesystem::path(scratch) / (target + ".db")).string());
  }
  std::error_code ec;
  std::filesystem::remove_all(scratch, ec);
  return described;
}

// The overwrite drop. Where the Paradox connection would delete a table, the
// export is granted leave to replace it instead, so the old table stays
// until the new one is complete; where the drop would fail (not open, no
// such table in the folder) it runs and fails as it always did.
Status ToParadox::DropForOverwrite(const std::string& target) {
  const std::string folder = w_.settings.Current().paradox_folder;
  if (!paradox_.is_open() || paradox::DroppableTableFiles(folder, target).empty()) {
    return Exec(paradox_, "DROP TABLE `" + target + "` ");
  }
  CORVANE_RETURN_IF_ERROR(paradox::CheckTableNotInUse(folder, target));
  replace_ = true;
  return Status::Ok();
}

TransferOutcome SendTablesToParadox(ui::TablesWindow& window) {
  return SendTablesToParadoxWith(window, ToParadoxOptions{});
}

TransferOutcome SendTablesToParadoxWith(ui::TablesWindow& window, const ToParadoxOptions& options) {
  ToParadox run(window, options);
  TransferOutcome outcome;
  outcome.failures = run.Run();
  outcome.tables = run.TakeReports();
  outcome.failure = run.TakeRunFailure();
  outcome.list_failures = run.list_failures();
  return outcome;
}

}  // namespace corvane::transfer
