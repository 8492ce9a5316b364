// A folder of Paradox tables as a database: SELECT * FROM "T" streams the
// table file <folder>/<T>.db through the reader; DROP TABLE `T` removes the
// table with its companion files. Nothing else is run.
#include <filesystem>
#include <system_error>

#include "base/row_batches.h"
#include "base/served_call.h"
#include "connection/drivers.h"
#include "connection/paradox_statement.h"
#include "paradox/companion_files.h"
#include "paradox/table_reader.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
using paradox::FieldType;

int TypeCodeOf(FieldType type) {
  switch (type) {
    case FieldType::kAlpha:
      return type_code::kVarChar;
    case FieldType::kDate:
      return type_code::kDbDate;
    case FieldType::kShort:
      return type_code::kSmallInt;
    case FieldType::kLong:
    case FieldType::kAutoIncrement:
      return type_code::kInteger;
    case FieldType::kMoney:
      return type_code::kCurrency;
    case FieldType::kNumber:
      return type_code::kDouble;
    case FieldType::kLogical:
      return type_code::kBoolean;
    case FieldType::kMemo:
      return type_code::kLongVarChar;
    case FieldType::kFormattedMemo:
    case FieldType::kBinary:
    case FieldType::kOle:
    case FieldType::kGraphic:
      return type_code::kLongVarBinary;
    case FieldType::kTime:
      return type_code::kDbTime;
    case FieldType::kTimestamp:
      return type_code::kDbTimeStamp;
    case FieldType::kBcd:
      return type_code::kNumeric;
    case FieldType::kBytes:
      return type_code::kBinary;
  }
  return type_code::kLongVarWChar;
}

// The rows of one table, read record by record as MoveNext asks for them.
class TableRecordSet : public RecordSet {
 public:
  explicit TableRecordSet(std::unique_ptr<paradox::TableReader> reader)
      : reader_(std::move(reader)) {
    for (const auto& f : reader_->info().fields) {
      names_.push_back(f.name);
      types_.push_back(TypeCodeOf(f.type));
    }
    values_.resize(names_.size());
    Advance();  // positioned on the first row, as callers expect
  }

  int64_t RecordCount() const override { return reader_->info().record_count; }
  int FieldCount() const override { return static_cast<int>(names_.size()); }
  const std::string& FieldName(int index) const override { return names_.at(index); }
  int FieldType(int index) const override { return types_.at(index); }
  const Value& FieldValue(int index) const override { return values_.at(index); }
  bool Eof() const override { return eof_; }
  Status CurrentRowStatus() const override { return row_status_; }
  Status CountStatus() const override {
    return reader_ ? reader_->count_status() : Status::Ok();
  }
  int64_t ValuesMadeNull() const override { return made_null_; }
  void TakeFieldValue(int index, Value& out) override { out.Swap(values_.at(index)); }

  Status MoveNext() override {
    if (eof_) {
      return Status::InvalidArgument(
          "Either BOF or EOF is True, or the current record has been deleted.");
    }
    Advance();
    return row_status_;
  }
  void Close() override {
    eof_ = true;
    if (reader_) made_null_ = static_cast<int64_t>(reader_->values_made_null());
    reader_.reset();
  }

 private:
  // Reads the next record into values_. A record the reader could not decode
  // becomes the current row with every value null and its error kept, so the
  // caller both hears of it and can go on with the next record; an error
  // that breaks the reader means the rest of the table cannot be read: the
  // set ends there.
  // A database text cannot hold a NUL byte, and cutting the value there
  // would lose the rest: the row fails instead.
  Status NulInside(size_t column) const {
    return Status::InvalidArgument(
        "Column `" + (column < names_.size() ? names_[column] : std::to_string(column + 1)) +
        "` holds a NUL byte inside its text; PostgreSQL text cannot hold a NUL byte, so this "
        "row is not copied.");
  }

  void Advance() {
    Result<bool> next = reader_->Next(row_);
    row_status_ = next.ok() ? Status::Ok() : next.status();
    if (next.ok() && next.value()) {
      for (size_t i = 0; i < values_.size(); ++i) {
        if (i < row_.size() && !row_[i].null && row_[i].bytes) {
          values_[i].TakeBytes(row_[i].text);
        } else if (i < row_.size() && !row_[i].null) {
          if (row_status_.ok() && row_[i].text.find('\0') != std::string::npos) {
            row_status_ = NulInside(i);
          }
          values_[i].TakeText(row_[i].text);
        } else {
          values_[i].SetNull();
        }
      }
      return;
    }
    for (auto& v : values_) v.SetNull();
    eof_ = next.ok() || reader_->broken();
    made_null_ = static_cast<int64_t>(reader_->values_made_null());
  }

  std::unique_ptr<paradox::TableReader> reader_;
  std::vector<std::string> names_;
  std::vector<int> types_;
  std::vector<Value> values_;
  std::vector<paradox::Cell> row_;
  Status row_status_;
  bool eof_ = false;
  int64_t made_null_ = 0;  // kept once the reader is gone
};

class ParadoxFolderDriver : public Driver {
 public:
  ParadoxFolderDriver(fs::path folder, const ConnectionOptions& options)
      : folder_(std::move(folder)), serve_(options.serve) {
    read_options_.missing_blobs_as_null = options.missing_blobs_as_null;
  }

  Result<std::unique_ptr<RecordSet>> Execute(const std::string& sql) override {
    std::optional<ParadoxStatement> st = ParseParadoxStatement(sql);
    if (!st) {
      return Status::NotSupported(
          "The Paradox folder runs only SELECT * FROM \"table\" and DROP TABLE `table`; "
          "refused: " +
          sql);
    }
    if (st->kind == ParadoxStatement::Kind::kSelectAll) return Select(st->table);
    CORVANE_RETURN_IF_ERROR(Drop(st->table));
    return EmptyRecordSet();
  }
  void Close() override {}

 private:
  Status MissingTable(const std::string& table) const {
    return Status::NotFound("There is no table " + table + " (" + table +
                            ".db) in the Paradox folder " + folder_.string() + ".");
  }

  Result<std::unique_ptr<RecordSet>> Select(const std::string& table) {
    std::optional<fs::path> file = paradox::FindTableFile(folder_, table);
    if (!file) return MissingTable(table);
    // Opening walks the whole block chain to count the rows.
    auto reader = CallServed(
        [&] { return paradox::TableReader::Open(file->string(), read_options_); }, serve_);
    if (!reader.ok()) return reader.status();
    // A large binary value is handed on as its bytes: half its hex text.
    (*reader)->BinaryAsBytesFrom(RowBatch::kLargeValue);
    return std::unique_ptr<RecordSet>(new TableRecordSet(std::move(reader).value()));
  }

  // Companions go first and the table file last: if a removal fails the
  // table is still there to be dropped again, rather than a nameless rest.
  Status Drop(const std::string& table) {
    std::vector<fs::path> files = paradox::DroppableTableFiles(folder_, table);
    if (files.empty()) return MissingTable(table);
    return CallServed([&] { return RemoveFiles(table, files); }, serve_);
  }

  Status RemoveFiles(const std::string& table, const std::vector<fs::path>& files) {
    for (auto it = files.rbegin(); it != files.rend(); ++it) {
      std::error_code ec;
      fs::remove(*it, ec);  // unlinking ignores a read-only file mode, as wanted
      if (ec) {
        return Status::IoError("Could not delete " + it->string() + " of table " + table + ": " +
                               ec.message());
      }
    }
    return Status::Ok();
  }

  fs::path folder_;
  std::function<void()> serve_;
  paradox::ReadOptions read_options_;
};

}  // namespace

Result<std::unique_ptr<Driver>> OpenParadoxFolderDriver(const ConnectionAttributes& attrs,
                                                        const ConnectionOptions& options) {
  std::string folder;
  if (auto it = attrs.find("defaultdir"); it != attrs.end()) folder = it->second;
  if (folder.empty()) {
    if (auto it = attrs.find("dbq"); it != attrs.end()) folder = it->second;
  }
  if (folder.empty()) {
    return Status::InvalidArgument("No Paradox folder given (DefaultDir and Dbq are empty).");
  }
  std::error_code ec;
  if (!fs::is_directory(folder, ec)) {
    return Status::NotFound("'" + folder +
                            "' is not a valid path: the Paradox folder does not exist or is "
                            "not a folder.");
  }
  return std::unique_ptr<Driver>(new ParadoxFolderDriver(folder, options));
}

}  // namespace corvane
