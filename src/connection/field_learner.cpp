#include "connection/field_learner.h"

#include "connection/staging_export.h"

namespace corvane::staging {

FieldLearner::FieldLearner(std::vector<paradox::SchemaChooser::Column> columns, int code_page,
                           std::vector<char> datetime)
    : chooser_(columns, code_page), datetime_(std::move(datetime)), row_(columns.size()) {}

void FieldLearner::Observe(std::span<const std::string_view> row, std::span<const char> bytes) {
  chooser_.Observe(row, bytes);
}

void FieldLearner::ObserveBatch(const RowBatch& batch) {
  const size_t columns = std::min(batch.columns(), row_.size());
  for (size_t r = 0; r < batch.rows(); ++r) {
    for (size_t i = 0; i < columns; ++i) {
      const std::string_view text = batch.text(r, i);
      row_[i] = datetime_[i] != 0 ? StoredDateTime(text) : text;
    }
    chooser_.Observe(row_);
  }
}

}  // namespace corvane::staging
