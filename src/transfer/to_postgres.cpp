// Outline of one click:
//   check for a current entry; open the Paradox and the PostgreSQL side;
//   walk the Paradox list bottom-up and, for each selected table: ask before
//   replacing a PostgreSQL table of that name, create the table from the
//   source's column types, send every row, reset the progress bar and add
//   the name to the PostgreSQL list; close both sides.
// Rows travel in batches, and each batch is stored exactly as one
// autocommitted INSERT per row would store it:
//  - into a table this click created (TEXT and NUMERIC columns, no
//    triggers, rules or constraints of its own) a batch goes as one COPY,
//    streamed while its rows are read; the column types' input functions
//    turn the COPY text into the same values as the quoted literals of the
//    row statements. It is stored whole or not at all, and when it fails
//    its rows are replayed one by one before any later row is sent. A
//    driver that cannot copy gets one set-based INSERT per batch instead;
//  - otherwise as single-row INSERTs through ExecuteEach, which gives the
//    same guarantee itself.
// The batch holds the rows' values; a row's INSERT text is built only when
// it is run on its own or shown.
// Progress and failure dialogs are then given row by row in row order, so
// the batching cannot be seen.
// A new table is filled under a scratch name (scratch_tables.h) and takes
// its name, in place of the table it replaces, in one transaction once its
// rows are in: other sessions see the old table or the new one, whole, and
// a copy that ends early (a lost connection, a source that cannot be read
// further, a stop request) drops its scratch table and leaves the old one
// as it was. The old table is only tried for dropping before its rows go,
// so a refusal comes where it always did.
// A lost connection (or a source that cannot be read further) ends the
// table with one dialog; the walk goes on only once the connection opens
// again. While a table is copied a session-level advisory lock on its name
// keeps a second copy of the same table (another window, another
// corvane-cli) waiting, so the two never drop each other's table or store
// the rows twice.
#include "transfer/to_postgres.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/stop_request.h"
#include "connection/connection.h"
#include "transfer/field_types.h"
#include "transfer/handler_steps.h"
#include "transfer/long_names.h"
#include "transfer/scratch_tables.h"
#include "transfer/shared_targets.h"
#include "transfer/to_postgres_handler.h"
#include "transfer/typed_columns.h"
#include "ui/procedure.h"
#include "ui/pump.h"

namespace corvane::transfer {

using namespace to_postgres_step;  // the steps a failure dialog names

namespace {

constexpr int kCommandTimeoutS = 5000;
constexpr int kConnectionTimeoutS = 5000;
// The advisory lock space of these copies ("Corv"); the table name is hashed
// into the second key.
constexpr int kLockClass = 0x436F7276;
constexpr auto kLockPoll = std::chrono::milliseconds(100);

// The two keys of a table's advisory lock, as arguments.
std::string LockKey(const std::string& table) {
  return std::to_string(kLockClass) + ", hashtext(" + QuotedText(ui::LowerCase(table)) + ")";
}

}  // namespace

TransferOutcome ToPostgres::Run() {
  if (w_.paradox_list.CurrentIndex() == -1) {  // kNoTableSelected
    w_.dialogs.Message("Please select a table to send.");
    return {};
  }
  w_.pointer.Set(ui::PointerShape::kHourglass);  // kBusyPointer
  RefuseSharedTargets();
  OpenConnections();
  // Re-read the count and the selection as the walk goes: the user may
  // change them while the pump runs. Without a PostgreSQL connection every
  // statement would fail on its own; the one dialog of the open says it.
  for (int i = w_.paradox_list.Count() - 1; i >= 0 && postgres_.is_open() && !StopRequested();
       --i) {
    if (i >= w_.paradox_list.Count()) continue;
    if (!w_.paradox_list.Selected(i) || refused_.count(i) != 0) continue;
    if (lost_ && !Reconnect()) break;
    CopyTable(i);  // kCopyEntry
  }
  if (postgres_.is_open() && !lost_ && !options_.dry_run) {
    statement_stale_ = false;
    if (!options_.defer_references) rules_.AddReferences();
  }
  w_.pointer.Set(ui::PointerShape::kDefault);  // kEndPointer
  postgres_.Close();
  paradox_.Close();
  sub_source_.Close();
  TransferOutcome outcome;
  outcome.failures = proc_.failures();
  outcome.rows_stored = std::move(rows_stored_);
  outcome.values_made_null = std::move(made_null_);
  outcome.tables = std::move(reports_);
  outcome.failure = std::move(tally_.run_failure);
  return outcome;
}

// Two selected tables of one name (a table and its namesake in a
// sub-folder, names that differ only in case) would be written to one
// PostgreSQL table, the second replacing the first: both are refused before
// anything is written; the rest go on.
void ToPostgres::RefuseSharedTargets() {
  const ui::TableList& list = w_.paradox_list;
  ParadoxRunPlan plan = PlanParadoxRun(
      list, w_.settings.Current().paradox_folder, w_.postgres_list,
      [&](const Status& why) { proc_.Fail(kSharedTarget, why); },
      [&](const std::string& note) { w_.dialogs.Message(note); }, options_.sources);
  refused_ = std::move(plan.refused);
  sources_ = std::move(plan.sources);
  ReportSharedTargets(list, refused_, "PostgreSQL", reports_);
}

// A bare name is created in (and dropped from) the search path's first
// schema; entries of other schemas are other tables.
bool ToPostgres::InTargetSchema(int entry) const {
  const std::string schema = w_.postgres_list.Schema(entry);
  return schema.empty() || target_schema_.empty() || schema == target_schema_;
}

// ListContains, limited to the schema the copy writes to.
bool ToPostgres::TargetListed(const std::string& table) const {
  const std::string lower = ui::LowerCase(table);
  bool found = false;
  for (int j = 0; j < w_.postgres_list.Count(); ++j) {
    if (InTargetSchema(j) && ui::LowerCase(w_.postgres_list.Text(j)) == lower) found = true;
  }
  return found;
}

void ToPostgres::OpenConnections() {
  const ConnectionSettings settings = w_.settings.Current();
  paradox_.options().serve = ui::ServeWith(pump_);
  paradox_.options().missing_blobs_as_null = options_.missing_memos_as_null;
  proc_.Step(kOpenParadox, [&] { return paradox_.Open(ParadoxConnectionString(settings)); });
  ConnectionOptions& pg = postgres_.options();
  pg.command_timeout_s = kCommandTimeoutS;
  pg.connection_timeout_s = kConnectionTimeoutS;
  pg.serve = ui::ServeWith(pump_);
  proc_.Step(kOpenPostgres, [&] { return OpenPostgres(settings); });
}

// Opens the PostgreSQL side and takes this session's scratch tables (a
// connection that cannot have them is of no use: it is closed again).
Status ToPostgres::OpenPostgres(const ConnectionSettings& settings) {
  CORVANE_RETURN_IF_ERROR(postgres_.Open(PostgresConnectionString(settings)));
  Result<int> pid = ClaimScratchTables(postgres_);
  if (!pid.ok()) {
    postgres_.Close();
    return pid.status();
  }
  scratch_pid_ = pid.value();
  // New tables land in the first schema of the search path; only the
  // entries of that schema are the ones a copy may replace.
  auto schema = postgres_.Execute("SELECT current_schema()");
  if (schema.ok() && !schema.value()->Eof()) target_schema_ = schema.value()->FieldValue(0).text();
  return Status::Ok();
}

// After a lost connection: a new one, with the login as it stands now. One
// dialog when it cannot be had, and the walk ends.
bool ToPostgres::Reconnect() {
  postgres_.Close();
  RefreshStatement();
  const ConnectionSettings settings = w_.settings.Current();
  proc_.Step(kOpenPostgres, [&] { return OpenPostgres(settings); });
  lost_ = !postgres_.is_open();
  return !lost_;
}

// Runs a step on the PostgreSQL connection; false when it failed because
// the connection is gone (then the table ends).
bool ToPostgres::StepOnServer(int line, const std::function<Status()>& step) {
  RefreshStatement();
  bool gone = false;
  proc_.Step(line, [&] {
    Status st = step();
    gone = IsConnectionLost(st);
    return AsShown(st);
  });
  lost_ = lost_ || gone;
  return !gone;
}

// Waits while another copy holds the table's name; the window keeps being
// served and says what it waits for.
bool ToPostgres::LockTarget(const std::string& table, bool& waited) {
  const std::string key = LockKey(table);
  waited = false;
  for (;;) {
    bool got = false;
    bool refused = false;
    const bool alive = StepOnServer(kWaitForTable, [&]() -> Status {
      auto r = postgres_.Execute("SELECT pg_try_advisory_lock(" + key + ")");
      refused = !r.ok();
      if (!r.ok()) return r.status();
      got = !r.value()->Eof() && r.value()->FieldValue(0).text() == "True";
      return Status::Ok();
    });
    if (!alive || StopRequested()) return false;
    if (got || refused) break;  // refused: shown once, and the copy goes on
    if (!waited) w_.progress.SetText("Waiting for another copy of " + table + " to finish...");
    waited = true;
    for (auto until = std::chrono::steady_clock::now() + kLockPoll;
         std::chrono::steady_clock::now() < until;) {
      pump_.Pump();
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  if (waited) w_.progress.SetText(ui::kProgressRestText);
  return true;
}

void ToPostgres::UnlockTarget(const std::string& table) {
  if (lost_) return;  // the lock went with the session
  (void)postgres_.Execute("SELECT pg_advisory_unlock(" + LockKey(table) + ")");
}

// A table another copy created while this one waited is asked about like
// one the list showed from the start, instead of getting its rows twice.
void ToPostgres::NoteTableOnServer(const std::string& table) {
  if (TargetListed(table)) return;
  auto r = postgres_.Execute(
      "SELECT tablename, schemaname FROM pg_tables WHERE schemaname = current_schema() AND "
      "lower(tablename) = lower(" +
      QuotedText(table) + ")");
  if (!r.ok()) return;  // the steps that follow meet the same trouble
  for (RecordSet& rs = *r.value(); !rs.Eof(); (void)rs.MoveNext()) {
    w_.postgres_list.AddInSchema(rs.FieldValue(0).text(), rs.FieldValue(1).text());
  }
}

// The server names the scratch table in its messages (a constraint too,
// named after it); the user is shown the table's own name.
Status ToPostgres::AsShown(const Status& st) const {
  if (st.ok() || !scratch_ || target_.empty()) return st;
  std::string text = st.message();
  for (size_t at = text.find(target_); at != std::string::npos; at = text.find(target_, at)) {
    text.replace(at, target_.size(), table_);
    at += table_.size();
  }
  return st.Reworded(text);
}

Status ToPostgres::Stopped(const Status& why, int64_t reached) const {
  std::string text = AsShown(why).message();
  if (!text.empty() && text.back() != '.') text += '.';
  text += " Copying " + table_ + " stopped after row " + std::to_string(reached) + " of " +
          std::to_string(total_) + "; ";
  if (!scratch_) {
    text += std::to_string(stored_) + " rows were stored.";
  } else if (replace_) {
    text += "no row was stored, and PostgreSQL keeps " + table_ + " as it was.";
  } else {
    text += "no row was stored, and no table " + table_ + " was made.";
  }
  return why.Reworded(text);
}

void ToPostgres::RefreshStatement() {
  if (!statement_stale_) return;
  statement_ = RowStatement(head_, last_row_);
  statement_stale_ = false;
}

ui::Answer ToPostgres::AskOverwrite(std::string& table) {
  // The PostgreSQL list's spelling wins; with several matches, the last.
  const std::string lower = ui::LowerCase(table);
  for (int j = 0; j < w_.postgres_list.Count(); ++j) {
    std::string entry = w_.postgres_list.Text(j);
    if (InTargetSchema(j) && ui::LowerCase(entry) == lower) table = std::move(entry);
  }
  report_.written_as = table;
  return AskUser(options_.events, w_.dialogs, Question::kOverwrite,
                 "Would you like to overwrite " + table + "?", "Overwrite?");
}

void ToPostgres::CopyTable(int index) {
  std::string table = w_.paradox_list.Text(index);  // kTakeEntry
  source_ = table;
  if (const auto planned = sources_.find(index); planned != sources_.end()) {
    source_ = planned->second.file;
    table = planned->second.target;
  }
  const std::string sub_folder = w_.paradox_list.Folder(index);
  report_ = TableReport();
  report_.table = w_.paradox_list.Text(index);
  report_.written_as = table;
  report_.dry_run = options_.dry_run;
  tally_.in_table = true;
  skipped_ = added_ = false;
  tally_.of_table = 0;
  columns_.clear();
  bool waited = false;
  if (LockTarget(table, waited)) {
    if (waited) NoteTableOnServer(table);
    CopyLockedTable(table, sub_folder);
    UnlockTarget(table);
  }
  EndReport();
}

// The table's rows from the folder the list found it in; null once a
// failure dialog said why not.
std::unique_ptr<RecordSet> ToPostgres::OpenSource(const std::string& table,
                                                  const std::string& sub_folder) {
  ConnectionSettings settings = w_.settings.Current();
  Connection* source = &paradox_;
  if (!sub_folder.empty()) {
    settings.paradox_folder += "/" + sub_folder;
    if (sub_source_folder_ != settings.paradox_folder || !sub_source_.is_open()) {
      sub_source_.Close();
      sub_source_.options() = paradox_.options();
      sub_source_folder_ = settings.paradox_folder;
      proc_.Step(kOpenParadox, [&] { return sub_source_.Open(ParadoxConnectionString(settings)); });
      if (!sub_source_.is_open()) return nullptr;  // its dialog said why
    }
    source = &sub_source_;
  }
  source_folder_ = settings.paradox_folder;
  std::unique_ptr<RecordSet> rows;
  RefreshStatement();
  proc_.Step(kOpenSource, [&] {
    auto r = source->Execute("SELECT * FROM " + QuotePostgresName(table));
    if (r.ok()) rows = std::move(r).value();
    return r.status();
  });
  return rows;
}

void ToPostgres::CopyLockedTable(std::string table, const std::string& sub_folder) {
  // The source is found before the target is touched: a name that means no
  // table here must not cost the PostgreSQL table of that name.
  std::unique_ptr<RecordSet> rows = OpenSource(source_, sub_folder);
  if (rows == nullptr) {
    // Nothing could be read: creating an empty table or listing the name
    // would report a copy that did not happen.
    FinishTable(table, nullptr, false);
    return;
  }
  scratch_ = false;  // until ChooseTarget says where the rows go
  const bool asked = TargetListed(table);
  bool replace = false;
  if (asked) {
    if (AskOverwrite(table) == ui::Answer::kNo) {  // kAskOverwrite
      skipped_ = true;
      return;
    }
    report_.replaces = true;
  }
  if (options_.dry_run) {
    PlanTable(table, rows.get());
    FinishTable(table, std::move(rows), false);
    return;
  }
  if (asked) {
    rules_.NoteReferencesTo(table);
    const bool alive = StepOnServer(kDropOld, [&] {
      Status dropped = TryDrop(table);
      replace = dropped.ok();
      return dropped;
    });
    if (!alive) return;  // kOldKept: the list keeps the table, which is still there
  }
  if (!ChooseTarget(table, asked, replace)) {
    // Nothing may be written: creating an empty table or listing the name
    // would report a copy that did not happen.
    FinishTable(table, std::move(rows), false);
    return;
  }
  CreateTable(table, rows.get());
  if (lost_) {
    FinishTable(table, std::move(rows), false);
    return;
  }
  SendRows(table, rows.get());
  const int64_t nulls = rows->ValuesMadeNull();
  FinishTypedTable(table);
  if (scratch_) {
    // A table whose rows ended early, or a stopped copy, is not put in place.
    const bool whole = created_ && !rows_ended_ && !StopRequested();
    if (!whole || !PutInPlace(table, replace)) {
      DropScratch();
      FinishTable(table, std::move(rows), false);
      return;
    }
    ui::RemoveFromListInSchema(w_.postgres_list, table, target_schema_);
    if (layout_) rules_.AddTableRules(table, *layout_);
  }
  rows_stored_.emplace_back(table, stored_);
  report_.rows_stored = stored_;
  report_.values_made_null = nulls;
  if (nulls > 0) made_null_.emplace_back(table, nulls);
  FinishTable(table, std::move(rows), true);
}

void ToPostgres::CreateTable(const std::string& table, RecordSet* rows) {
  for (int c = 0; c < rows->FieldCount(); ++c) columns_.push_back(rows->FieldName(c));
  if (ReadLayout(table, rows)) {
    statement_ = TypedCreateStatement(table, *layout_);
    numeric_.assign(layout_->fields.size(), false);
  } else {
    statement_ = "CREATE TABLE " + QuotePostgresName(table) + "(";  // kCreateHead
    numeric_.clear();
  }
  statement_stale_ = false;
  for (int c = 0; c < rows->FieldCount() && !layout_; ++c) {
    pump_.Pump();
    const std::string quoted = QuotePostgresName(rows->FieldName(c));
    statement_.append(quoted, 0, quoted.size() - 1);  // the type text closes it
    const std::string_view type = PostgresColumnTypeText(ColumnClassOf(rows->FieldType(c)));
    statement_ += type;
    numeric_.push_back(type.find("NUMERIC") != std::string_view::npos);
  }
  if (!layout_) {
    statement_.pop_back();  // kCreateEnd: the comma after the last column
    statement_ += ");";
  }
  created_ = false;
  StepOnServer(kCreate, [&] {
    Status st = CheckPostgresTableNames(table, *rows);
    // The statement shown names the table; the one run, its target.
    const size_t named = std::string("CREATE TABLE ").size() + QuotePostgresName(table).size();
    if (st.ok()) {
      st =
          postgres_.Execute("CREATE TABLE " + QuotePostgresName(target_) + statement_.substr(named))
              .status();
    }
    created_ = st.ok();
    return st;
  });
}

void ToPostgres::SendRows(const std::string& table, RecordSet* rows) {
  const int64_t total = rows->RecordCount();  // kCountRows
  // A source that doubts its own row count is sent as read, and said so.
  if (Status count = rows->CountStatus(); !count.ok()) proc_.Fail(kCountRows, count);
  table_ = table;
  total_ = total;
  report_.rows_total = total;
  stored_ = 0;
  head_ = PostgresInsertHead(table);
  run_head_ = PostgresInsertHead(target_);
  read_failure_ = Status::Ok();
  last_move_ = Status::Ok();
  rows_ended_ = false;
  const bool bulk = Bulk();
  batch_bytes_ = bulk ? options_.copy_bytes : options_.batch_bytes;
  const size_t most = std::max<size_t>(bulk ? options_.copy_rows : options_.batch_rows, 1);
  size_t size = most;
  for (int64_t first = 0; first < total;) {
    const int64_t end = std::min<int64_t>(total, first + static_cast<int64_t>(size));
    const bool read_ok = FillBatch(*rows, first, end);
    const size_t failed = SendBatch(first, total);
    if (lost_ || rows_ended_) return;  // SendBatch said so
    if (StopRequested()) {
      rows_ended_ = true;  // the stop is said where it was asked
      return;
    }
    first += static_cast<int64_t>(slots_.size());
    // A failing row costs its batch a replay; while rows fail (a table that
    // does not exist, a column that refuses them) send smaller batches.
    size = failed > 0 ? std::max<size_t>(size / 2, 1) : std::min(size * 2, most);
    if (!read_ok) {
      // The rest of the table cannot be read; one dialog says so.
      RefreshStatement();
      proc_.Fail(kReadRow, Stopped(read_failure_, first));
      rows_ended_ = true;
      return;
    }
  }
  // Past the last row the source can still fail: its files replaced while
  // they were read, say. The rows are then not the table as it is now.
  if (!last_move_.ok() && rows->Eof()) {
    RefreshStatement();
    proc_.Fail(kReadRow, Stopped(last_move_, total));
    rows_ended_ = true;
  }
}

// With the option on, the Paradox table's own layout; a layout that cannot
// be read is shown and the table goes as without the option.
bool ToPostgres::ReadLayout(const std::string& table, RecordSet* rows) {
  layout_.reset();
  if (!options_.keep_types) return false;
  proc_.Step(kReadLayout, [&]() -> Status {
    auto layout = ReadParadoxLayout(source_folder_, source_);
    if (!layout.ok()) return layout.status();
    if (static_cast<int>(layout->fields.size()) != rows->FieldCount()) {
      return Status::Corruption("The fields of Paradox table " + table +
                                " changed while it was being read.");
    }
    layout_ = std::move(layout).value();
    return Status::Ok();
  });
  return layout_.has_value();
}

// The primary key, the notes on columns and the sequence, once the rows
// are in: a key the rows break is one dialog, and the rows stay.
void ToPostgres::FinishTypedTable(const std::string& table) {
  if (!layout_ || !created_ || rows_ended_) return;  // a key on part of the rows says nothing
  // The rows are done: what fails from here fails the table, not a row.
  w_.progress.SetValue(0);
  const std::vector<std::string> shown = TypedFinishStatements(table, *layout_);
  const std::vector<std::string> run = TypedFinishStatements(target_, *layout_);
  for (size_t i = 0; i < run.size() && i < shown.size(); ++i) {
    statement_ = shown[i];
    statement_stale_ = false;
    proc_.Step(kFinishTyped, [&] { return postgres_.Execute(run[i]).status(); });
  }
  // A scratch table gets its rules once it has its own name, so that
  // their messages and the indexes' names are the table's.
  if (!scratch_) rules_.AddTableRules(table, *layout_);
}

void ToPostgres::FinishTable(const std::string& table, std::unique_ptr<RecordSet> rows,
                             bool add_name) {
  w_.pointer.Set(ui::PointerShape::kDefault);  // kIdlePointer
  w_.progress.SetValue(0);
  w_.progress.SetText(ui::kProgressRestText);
  if (rows) rows->Close();                    // kCloseSource
  if (add_name) w_.postgres_list.AddInSchema(table, target_schema_);  // kListTarget
  added_ = add_name;
}

TransferOutcome SendTablesToPostgres(ui::TablesWindow& window) {
  return SendTablesToPostgresWith(window, ToPostgresOptions{});
}

TransferOutcome SendTablesToPostgresWith(ui::TablesWindow& window,
                                         const ToPostgresOptions& options) {
  ToPostgres handler(window, options);
  return handler.Run();
}

}  // namespace corvane::transfer
