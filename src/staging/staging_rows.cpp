#include "staging/staging_rows.h"

namespace corvane::staging {
namespace {

class MemoryRows : public RecordSet {
 public:
  MemoryRows(std::vector<std::string> names, std::vector<std::vector<Value>> rows)
      : names_(std::move(names)), rows_(std::move(rows)) {}
  int64_t RecordCount() const override { return static_cast<int64_t>(rows_.size()); }
  int FieldCount() const override { return static_cast<int>(names_.size()); }
  const std::string& FieldName(int index) const override { return names_.at(index); }
  int FieldType(int) const override { return type_code::kVarWChar; }
  const Value& FieldValue(int index) const override { return rows_.at(row_).at(index); }
  bool Eof() const override { return row_ >= rows_.size(); }
  Status MoveNext() override {
    if (Eof()) {
      return Status::InvalidArgument(
          "Either BOF or EOF is True, or the current record has been deleted.");
    }
    ++row_;
    return Status::Ok();
  }
  void Close() override { row_ = rows_.size(); }

 private:
  std::vector<std::string> names_;
  std::vector<std::vector<Value>> rows_;
  size_t row_ = 0;
};

}  // namespace

std::unique_ptr<RecordSet> RowsRecordSet(std::vector<std::string> names,
                                         std::vector<std::vector<Value>> rows) {
  return std::make_unique<MemoryRows>(std::move(names), std::move(rows));
}

}  // namespace corvane::staging
