#ifndef CORVANE_STAGING_STAGING_DRIVER_H_
#define CORVANE_STAGING_STAGING_DRIVER_H_

// The staging driver's class, shared by the files that implement it
// (staging_driver.cpp: statements, export, file upkeep; staging_driver_rows.cpp:
// rows taken in). Nothing outside src/staging/ includes it: callers go through
// Connection and staging_door.h.

#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "base/ascii.h"
#include "connection/drivers.h"
#include "staging/field_learner.h"
#include "staging/staging_db.h"
#include "staging/staging_door.h"
#include "staging/staging_export.h"
#include "staging/staging_rows.h"
#include "staging/staging_statements.h"
#include "staging/staging_writer.h"

namespace corvane {

// SQLite finds table names ignoring ASCII case; so does the cache.
inline std::string CacheKey(std::string_view name) { return AsciiLowerCase(name); }

class StagingDriver : public RowTakingDriver {
 public:
  StagingDriver(std::unique_ptr<staging::StagingDb> db, int code_page)
      : db_(std::move(db)), code_page_(code_page) {}

  Result<staging::ExportResult> Export(const staging::ExportStatement& st) {
    CORVANE_RETURN_IF_ERROR(staging::CheckExport(st));
    Drain();
    export_note_.clear();
    CORVANE_RETURN_IF_ERROR(Run(st));
    return staging::ExportResult{std::exchange(export_note_, std::string())};
  }

  // As the CREATE TABLE text of these columns would: the key places and
  // kept fields go into the columns' declared types, which the export reads.
  Status Create(const std::string& table, const std::vector<staging::StagingColumn>& columns) {
    staging::CreateStatement st{table, {}};
    for (const staging::StagingColumn& c : columns) {
      if (c.name.empty()) break;
      std::string word = staging::ColumnWordText(c);
      if (c.key > 0) word = "KEY" + std::to_string(c.key) + " " + word;
      st.columns.push_back({c.name, std::move(word)});
    }
    if (table.empty() || st.columns.empty() || st.columns.size() != columns.size()) {
      return Status::InvalidArgument("Syntax error in CREATE TABLE statement of the staging database.");
    }
    Drain();
    export_note_.clear();
    return Run(st);
  }

  Result<std::unique_ptr<RecordSet>> Execute(const std::string& sql) override {
    auto parsed = staging::ParseStagingStatement(sql);
    if (!parsed.ok()) return parsed.status();
    Drain();
    export_note_.clear();
    Status s = std::visit([this](const auto& st) { return Run(st); }, parsed.value());
    if (!s.ok()) return s;
    // An export that had to leave something out of the table says so.
    if (!export_note_.empty()) {
      return staging::RowsRecordSet({"NOTE"}, {{Value::Text(std::move(export_note_))}});
    }
    return EmptyRecordSet();
  }

  // The row statement without its text: a name the statement could not
  // hold fails as its text would, a null or empty value is NULL.
  Status InsertRow(const std::string& table, const std::vector<Value>& values) override {
    CORVANE_RETURN_IF_ERROR(staging::CheckInsertTableName(table));
    views_.clear();
    bytes_.clear();
    for (const Value& v : values) {
      // A large binary value goes in as its bytes, not its hex.
      const bool bytes = v.is_bytes() && !v.bytes().empty();
      bytes_.push_back(bytes ? 1 : 0);
      if (bytes) {
        views_.emplace_back(v.bytes());
        continue;
      }
      views_.push_back(v.is_null() || v.text().empty() ? std::nullopt
                                                       : std::optional<std::string_view>(v.text()));
    }
    return InsertValues(table, views_, true);
  }

  DeferredRows FinishRows() override {
    Drain();
    return std::exchange(deferred_, DeferredRows{});
  }

  Result<std::unique_ptr<RecordSet>> OpenSchemaTables() override;

  void Close() override {
    Drain();
    ForgetRowTarget();
    inserts_.clear();
    learned_.clear();
    if (db_) {
      (void)db_->Commit();
      Shrink();
    }
    db_.reset();
  }

 private:
  struct InsertTarget {
    std::vector<staging::ColumnDef> columns;
    std::vector<char> datetime;  // per column: IsDateTimeColumn
    std::vector<char> indexed;   // per column: part of an index (a key)
    staging::Stmt stmt;
  };

  Status Run(const staging::CreateStatement& st);
  Status Run(const staging::InsertStatement& st);
  Status Run(const staging::DropStatement& st);
  Status Run(const staging::ExportStatement& st);
  Status RunWrite(const std::string& sql);
  Result<InsertTarget*> Target(const std::string& table);
  using Row = std::span<const std::optional<std::string_view>>;
  // `defer`: the row may be stored later, by the writer.
  Status InsertValues(const std::string& table, Row values, bool defer);
  Status InsertNow(const std::string& table, Row values, paradox::CodePageChoice& pages);
  void Drain();
  // Where the rows of `table` go; the table of the last row is kept at hand,
  // so a long run of rows costs no name lookups.
  struct RowTarget {
    std::string table;
    InsertTarget* insert = nullptr;
    paradox::CodePageChoice* pages = nullptr;
    staging::FieldLearner* learner = nullptr;
  };
  Result<RowTarget*> RowTargetOf(const std::string& table);
  void ForgetRowTarget() { row_target_.insert = nullptr; }
  Status Check(InsertTarget& target, const std::string& table, Row values,
               paradox::CodePageChoice& pages);
  Status WriteLargeValues(InsertTarget& target, const std::string& table, Status inserted);
  paradox::CodePageChoice& PagesOf(const std::string& table);
  void NoteFailure();
  int64_t Number(const char* query);
  void Shrink();

 public:
  void UseLargePages();

 private:
  std::unique_ptr<staging::StagingDb> db_;
  std::unordered_map<std::string, InsertTarget> inserts_;
  // The field chooser of each table created on this connection, shown every
  // row stored since, so that the export reads the table only once.
  std::unordered_map<std::string, std::unique_ptr<staging::FieldLearner>> learned_;
  // The code page the export will write: 0 chooses it by the text.
  int code_page_ = 0;
  // Per staged table, the code pages that hold every row taken so far: a
  // row only fails when no single code page could hold the whole table.
  std::unordered_map<std::string, paradox::CodePageChoice> pages_;
  std::vector<std::optional<std::string_view>> views_;
  // Per value of the row being inserted: given as the bytes of a binary
  // value, stored so behind kBytesMark (or, bound whole, as its hex).
  std::vector<char> bytes_;
  std::vector<std::string> hex_;  // the hex of such values bound whole
  RowTarget row_target_;
  // Staged tables that took a value of a megabyte or more on this connection.
  std::unordered_set<std::string> large_;
  std::vector<std::string_view> stored_;
  std::vector<size_t> large_values_;  // columns of the row bound as zeroblobs
  // Set when SQLite rolled back the shared transaction after a failure:
  // rows reported stored are gone, so no export may pretend otherwise.
  bool lost_writes_ = false;
  std::string export_note_;
  // The writer of the rows handed over for table `writer_table_`, while it
  // holds any; what became of them once it ended with a failure; and the
  // tables that lost rows so, which are not exported.
  std::unique_ptr<staging::RowWriter> writer_;
  std::string writer_table_;
  DeferredRows deferred_;
  std::unordered_set<std::string> broken_;
};

}  // namespace corvane

#endif  // CORVANE_STAGING_STAGING_DRIVER_H_
