#include "connection/connection.h"

#include "base/ascii.h"
#include "base/moved_bytes.h"
#include "connection/connection_strings.h"
#include "connection/drivers.h"

namespace corvane {
namespace {

constexpr const char* kClosedMessage = "Operation is not allowed when the object is closed.";

class EmptySet : public RecordSet {
 public:
  int64_t RecordCount() const override { return 0; }
  int FieldCount() const override { return 0; }
  const std::string& FieldName(int) const override { return empty_; }
  int FieldType(int) const override { return type_code::kEmpty; }
  const Value& FieldValue(int) const override { return null_; }
  bool Eof() const override { return true; }
  Status MoveNext() override {
    return Status::InvalidArgument(
        "Either BOF or EOF is True, or the current record has been deleted.");
  }
  void Close() override {}

 private:
  std::string empty_;
  Value null_;
};

constexpr const char* kNotCapable =
    "Object or provider is not capable of performing requested operation.";

}  // namespace

void Value::ToHex() const {
  text_ = HexText(text_);
  bytes_ = false;
}

std::unique_ptr<RecordSet> EmptyRecordSet() { return std::make_unique<EmptySet>(); }

Connection::~Connection() { Close(); }

Status Connection::Open(const std::string& connection_string) {
  if (driver_) return Status::InvalidArgument("Operation is not allowed when the object is open.");
  ConnectionAttributes attrs = ParseConnectionString(connection_string);
  Result<std::unique_ptr<Driver>> opened =
      Status::NotFound("Data source name not found and no default driver specified");
  const std::string driver = AsciiLowerCase(attrs.count("driver") ? attrs["driver"] : "");
  const std::string provider = AsciiLowerCase(attrs.count("provider") ? attrs["provider"] : "");
  if (driver == "postgresql unicode") {
    opened = OpenPostgresDriver(attrs, options_);
  } else if (driver == "microsoft paradox driver (*.db )") {
    opened = OpenParadoxFolderDriver(attrs, options_);
  } else if (provider == "microsoft.jet.oledb.4.0") {
    opened = OpenStagingDriver(attrs, options_);
  }
  if (!opened.ok()) return opened.status();
  driver_ = std::move(opened).value();
  return Status::Ok();
}

Result<std::unique_ptr<RecordSet>> Connection::Execute(const std::string& sql) {
  if (!driver_) return Status::InvalidArgument(kClosedMessage);
  return driver_->Execute(sql);
}

Result<std::unique_ptr<RecordSet>> Connection::LookUp(const std::string& sql) {
  if (!driver_) return Status::InvalidArgument(kClosedMessage);
  return driver_->LookUp(sql);
}

Status Connection::InsertRow(const std::string& table, const std::vector<Value>& values) {
  if (!driver_) return Status::InvalidArgument(kClosedMessage);
  auto* taker = dynamic_cast<RowTakingDriver*>(driver_.get());
  if (!taker) return Status::NotSupported("This data source takes rows as statement text only.");
  return taker->InsertRow(table, values);
}

DeferredRows Connection::FinishRows() {
  auto* taker = dynamic_cast<RowTakingDriver*>(driver_.get());
  return taker ? taker->FinishRows() : DeferredRows{};
}

std::vector<Status> Driver::ExecuteEach(const std::vector<std::string>& statements) {
  std::vector<Status> out;
  out.reserve(statements.size());
  for (const auto& sql : statements) {
    auto r = Execute(sql);
    out.push_back(r.ok() ? Status::Ok() : r.status());
  }
  return out;
}

std::vector<Status> Connection::ExecuteEach(const std::vector<std::string>& statements) {
  if (!driver_)
    return std::vector<Status>(statements.size(), Status::InvalidArgument(kClosedMessage));
  return driver_->ExecuteEach(statements);
}

Result<std::unique_ptr<RowCopy>> Connection::BeginCopy(const std::string& quoted_table,
                                                       int column_count, CopyEmpty empty) {
  if (!driver_) return Status::InvalidArgument(kClosedMessage);
  auto* copier = dynamic_cast<CopyingDriver*>(driver_.get());
  if (!copier) return Status::NotSupported("This data source cannot copy rows in bulk.");
  return copier->BeginCopy(quoted_table, column_count, empty);
}

Status Connection::CopyRows(const std::string& quoted_table, int column_count,
                            std::span<const std::vector<Value>> rows, CopyEmpty empty) {
  auto copy = BeginCopy(quoted_table, column_count, empty);
  if (!copy.ok()) return copy.status();
  for (const std::vector<Value>& row : rows) {
    Status added = copy.value()->Add(row);
    if (!added.ok()) return added;  // the copy is abandoned as it goes
  }
  return copy.value()->End(nullptr);
}

Result<std::unique_ptr<RecordSet>> Connection::OpenSchema(int schema) {
  if (!driver_) return Status::InvalidArgument(kClosedMessage);
  auto* lister = dynamic_cast<RowTakingDriver*>(driver_.get());
  if (schema != 20 || !lister) return Status::NotSupported(kNotCapable);
  return lister->OpenSchemaTables();
}

void Connection::Close() {
  if (driver_) {
    driver_->Close();
    driver_.reset();
  }
}

}  // namespace corvane
