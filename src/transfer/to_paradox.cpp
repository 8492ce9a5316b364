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
// A table the user agreed to overwrite leaves the folder at the drop, but
// its files are only moved aside: they are deleted once the new table is
// exported and put back when the export fails, so a failing export never
// costs the old table.
#include "transfer/to_paradox.h"

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/program_folder.h"
#include "catalog/paradox_catalog.h"
#include "connection/connection.h"
#include "paradox/companion_files.h"
#include "paradox/table_set_aside.h"
#include "transfer/field_types.h"
#include "transfer/long_names.h"
#include "transfer/staging_names.h"
#include "transfer/typed_columns.h"
#include "ui/procedure.h"

namespace corvane::transfer {
namespace {

constexpr const char* kClosedRecordSet = "Operation is not allowed when the object is closed.";
constexpr const char* kNoCurrentRow =
    "Either BOF or EOF is True, or the current record has been deleted.";

enum class Decision { kNone = 0, kOverwrite = 6, kSkip = 7 };

class ToParadox {
 public:
  ToParadox(ui::TablesWindow& w, const ToParadoxOptions& options)
      : w_(w), options_(options), proc_(w.dialogs, "Form2.PushButton3_Click") {
    proc_.ShowStatement(&sql_);
  }
  int Run();

 private:
  void OpenConnections();
  void CloseConnections();
  void TransferEntry(int index);
  Decision DecideName(const std::string& source, std::string& target);
  Decision DecideOverwrite(const std::string& target, Decision decision);
  void OpenSource(const std::string& source);
  void BuildCreate(const std::string& source);
  void ReadColumnTypes(const std::string& source);
  std::string TypeText(int column);
  void ReplaceStagingTable(const std::string& source, int test_line, int drop_line);
  void CopyRows(const std::string& source);
  Status BuildInsert(const std::string& head);
  void FinishTable(const std::string& source, const std::string& target);
  Status DropForOverwrite(const std::string& target);
  Status Export(const std::string& source, const std::string& target);
  Status Exec(Connection& c, const std::string& sql) { return c.Execute(sql).status(); }

  ui::TablesWindow& w_;
  ToParadoxOptions options_;
  ui::Procedure proc_;
  std::vector<PostgresColumn> columns_;  // with the option: the source's catalog
  std::string note_;                     // what the export left out, if anything
  std::string sql_;  // the CREATE or INSERT built last; the dialog quotes it
  Connection staging_, paradox_, postgres_;
  std::unique_ptr<RecordSet> rows_;
  std::unique_ptr<paradox::TableSetAside> old_table_;  // the table being overwritten
};

int ToParadox::Run() {
  if (w_.postgres_list.CurrentIndex() == -1) {  // 100
    w_.dialogs.Message("Please select a table to send.");
    return 0;
  }
  w_.pointer.Set(ui::PointerShape::kHourglass);  // 108
  w_.pump.Pump();
  OpenConnections();
  for (int i = w_.postgres_list.Count() - 1; i >= 0; --i) {
    if (w_.postgres_list.Selected(i)) TransferEntry(i);
  }
  old_table_.reset();  // never left aside: without a new table it comes back
  const std::string folder = w_.settings.Current().paradox_folder;
  proc_.Step(230, [&] {
    return catalog::ListParadoxTables(folder, w_.paradox_list, w_.pump, w_.dialogs);
  });
  w_.pointer.Set(ui::PointerShape::kDefault);
  CloseConnections();
  return proc_.failures();
}

void ToParadox::OpenConnections() {
  proc_.Step(112, [&] {
    staging_.options().cursor_location = CursorLocation::kServer;
    staging_.options().mode = 3;
    // An installed program keeps the staging database in the user's cache.
    auto file = app::StagingDatabaseFile(w_.program_folder);
    if (!file.ok()) return file.status();
    return staging_.Open(StagingConnectionString(file.value()));
  });
  paradox_.options().cursor_location = CursorLocation::kClient;
  proc_.Step(116, [&] { return paradox_.Open(ParadoxConnectionString(w_.settings.Current())); });
  postgres_.options().cursor_location = CursorLocation::kServer;
  postgres_.options().command_timeout_s = 5000;
  postgres_.options().connection_timeout_s = 5000;
  proc_.Step(124, [&] { return postgres_.Open(PostgresConnectionString(w_.settings.Current())); });
}

void ToParadox::CloseConnections() {
  staging_.Close();   // 234
  postgres_.Close();  // 236
  paradox_.Close();   // released with the handler
}

void ToParadox::TransferEntry(int index) {
  const std::string source = w_.postgres_list.Text(index);  // 130
  std::string target = source;
  Decision decision = DecideName(source, target);
  decision = DecideOverwrite(target, decision);
  if (decision == Decision::kSkip) return;  // 156
  if (decision == Decision::kOverwrite) {
    proc_.Step(160, [&] { return DropForOverwrite(target); });
    ui::RemoveFromList(w_.paradox_list, target);  // 162
  }
  ReadColumnTypes(source);
  OpenSource(source);
  BuildCreate(source);
  ReplaceStagingTable(source, 182, 184);
  proc_.Step(188, [&] { return Exec(staging_, sql_); });
  CopyRows(source);
  FinishTable(source, target);
}

Decision ToParadox::DecideName(const std::string& source, std::string& target) {
  if (Utf16Length(source) <= kParadoxNameUnits) return Decision::kNone;  // 136
  const ui::Answer answer = w_.dialogs.Question(TrimQuestionText(source), "Continue?");
  if (answer == ui::Answer::kYes) {
    target = FirstUtf16Units(source, kParadoxNameUnits);  // 140
    return Decision::kNone;
  }
  return Decision::kSkip;  // 142
}

Decision ToParadox::DecideOverwrite(const std::string& target, Decision decision) {
  if (decision == Decision::kSkip) return decision;                        // 146
  if (!ui::ListContains(w_.paradox_list, target)) return Decision::kNone;  // 148, 152
  const ui::Answer answer =
      w_.dialogs.Question("Would you like to overwrite " + target + "?", "Overwrite?");
  return answer == ui::Answer::kYes ? Decision::kOverwrite : Decision::kSkip;  // 150
}

void ToParadox::OpenSource(const std::string& source) {
  rows_.reset();
  proc_.Step(168, [&]() -> Status {
    auto opened = postgres_.Execute("SELECT * FROM " + QuotePostgresName(source));
    if (!opened.ok()) return opened.status();
    rows_ = std::move(opened).value();
    return Status::Ok();
  });
}

// CREATE TABLE `S`(`c` WORD,...); with the word of each column's class.
void ToParadox::BuildCreate(const std::string& source) {
  sql_ = "CREATE TABLE `" + source + "`(";  // 170
  proc_.Step(172, [&]() -> Status {
    if (!rows_) return Status::InvalidArgument(kClosedRecordSet);
    for (int j = 0; j < rows_->FieldCount(); ++j) {
      w_.pump.Pump();
      sql_ += "`" + rows_->FieldName(j);
      sql_ += TypeText(j);
    }
    return Status::Ok();
  });
  std::vector<const PostgresColumn*> key(columns_.size(), nullptr);
  for (const PostgresColumn& c : columns_) {
    if (c.key_position > 0 && c.key_position <= static_cast<int>(key.size())) {
      key[static_cast<size_t>(c.key_position - 1)] = &c;
    }
  }
  if (!key.empty() && key[0] != nullptr) {
    sql_ += "PRIMARY KEY(";
    for (const PostgresColumn* c : key) {
      if (c != nullptr) sql_ += "`" + c->name + "`,";
    }
    sql_.back() = ')';
    sql_ += ',';
  }
  sql_.pop_back();  // 180: the comma after the last column
  sql_ += ");";
}

// With the option on, the source's column types and key from its catalog,
// read before its rows are (the connection runs one query at a time).
void ToParadox::ReadColumnTypes(const std::string& source) {
  columns_.clear();
  if (!options_.keep_types) return;
  proc_.Step(166, [&]() -> Status {
    auto columns = ReadPostgresColumns(postgres_, source);
    if (!columns.ok()) return columns.status();
    columns_ = std::move(columns).value();
    return Status::Ok();
  });
}

// "` WORD," after column `column`'s name: the word of its column class, or
// with the option on the Paradox field its type names.
std::string ToParadox::TypeText(int column) {
  const std::string usual(StagingColumnTypeText(ColumnClassOf(rows_->FieldType(column))));
  const auto j = static_cast<size_t>(column);
  if (columns_.size() != static_cast<size_t>(rows_->FieldCount()) ||
      columns_[j].name != rows_->FieldName(column)) {
    return usual;
  }
  return "` " + StagingTypeWordOf(columns_[j], usual.substr(2, usual.size() - 3)) + ",";
}

// If ExistTable finds the staging table: DROP TABLE [S]. A failing test
// counts as passed, so the drop runs after its dialog.
void ToParadox::ReplaceStagingTable(const std::string& source, int test_line, int drop_line) {
  if (proc_.Test(test_line, [&] { return ExistTable(staging_, source); })) {
    proc_.Step(drop_line, [&] { return Exec(staging_, StagingDropText(source)); });
    if (drop_line == 220) w_.pump.Pump();  // 222
  }
}

void ToParadox::CopyRows(const std::string& source) {
  auto count = proc_.Get<int64_t>(190, [&]() -> Result<int64_t> {
    if (!rows_) return Status::InvalidArgument(kClosedRecordSet);
    return rows_->RecordCount();
  });
  const int64_t n = count.value_or(0);
  const std::string head = "INSERT INTO `" + source + "` VALUES('";
  for (int64_t r = 0; r < n; ++r) {
    w_.pump.Pump();                                                                     // 194
    w_.progress.SetValue(static_cast<double>(r + 1) / static_cast<double>(n) * 100.0);  // 196
    proc_.Step(198, [&] { return BuildInsert(head); });
    proc_.Step(200, [&] { return Exec(staging_, sql_); });
    proc_.Step(202, [&] { return rows_->MoveNext(); });
  }
}

// The row statement of the current row. With no row to read, the text
// stays the bare head and the failure is reported here.
Status ToParadox::BuildInsert(const std::string& head) {
  sql_ = head;
  if (rows_->Eof()) return Status::InvalidArgument(kNoCurrentRow);
  RowStatementBuilder builder(sql_);
  builder.Begin(head);
  for (int j = 0; j < rows_->FieldCount(); ++j) {
    w_.pump.Pump();
    builder.Add(rows_->FieldValue(j));
  }
  builder.Finish();
  return rows_->CurrentRowStatus();
}

void ToParadox::FinishTable(const std::string& source, const std::string& target) {
  w_.pointer.Set(ui::PointerShape::kDefault);  // 206
  w_.progress.SetValue(0);                     // 208
  w_.progress.SetText(ui::kProgressRestText);  // 210
  proc_.Step(212, [&]() -> Status {
    if (!rows_) return Status::InvalidArgument(kClosedRecordSet);
    rows_->Close();
    rows_.reset();
    return Status::Ok();
  });
  note_.clear();
  proc_.Step(214, [&] { return Export(source, target); });
  if (!note_.empty()) w_.dialogs.Message(note_);
  w_.pump.Pump();  // 216
  ReplaceStagingTable(source, 218, 220);
}

// The overwrite drop. Where the Paradox connection would delete a table,
// its files are moved aside instead; where it would fail (not open, no
// such table in the folder) it runs and fails as it always did.
Status ToParadox::DropForOverwrite(const std::string& target) {
  const std::filesystem::path folder(w_.settings.Current().paradox_folder);
  if (!paradox_.is_open() || paradox::DroppableTableFiles(folder, target).empty()) {
    return Exec(paradox_, "DROP TABLE `" + target + "` ");
  }
  auto aside = paradox::TableSetAside::Create(folder, target);
  if (!aside.ok()) return aside.status();
  old_table_ = std::move(aside).value();
  return Status::Ok();
}

// The export statement; then the old table set aside for this one goes for
// good, or comes back when there is no new table to take its place.
Status ToParadox::Export(const std::string& source, const std::string& target) {
  const std::string folder = ExportFolderText(w_.settings.Current().paradox_folder);
  auto result = staging_.Execute(ExportStatementText(folder, target, source));
  Status exported = result.status();
  if (result.ok() && (*result)->FieldCount() == 1 && !(*result)->Eof()) {
    note_ = (*result)->FieldValue(0).text();  // the table came without its key, and why
  }
  std::unique_ptr<paradox::TableSetAside> old_table = std::move(old_table_);
  if (!old_table) return exported;
  if (exported.ok()) return old_table->Discard();
  Status restored = old_table->Restore();
  if (restored.ok()) return exported;
  return Status::Error(exported.code(), exported.message() + " " + restored.message());
}

}  // namespace

TransferOutcome SendTablesToParadox(ui::TablesWindow& window) {
  return SendTablesToParadoxWith(window, ToParadoxOptions{});
}

TransferOutcome SendTablesToParadoxWith(ui::TablesWindow& window, const ToParadoxOptions& options) {
  ToParadox run(window, options);
  return TransferOutcome{run.Run()};
}

}  // namespace corvane::transfer
