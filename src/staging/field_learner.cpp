#include "staging/field_learner.h"

#include "staging/staging_export.h"

namespace corvane::staging {

FieldLearner::FieldLearner(std::vector<paradox::SchemaChooser::Column> columns, int code_page,
                           std::vector<char> datetime, std::string scratch_folder)
    : chooser_(columns, code_page), datetime_(std::move(datetime)), row_(columns.size()) {
  bool named = false;  // a column naming its field gets it only if every value fits
  for (const auto& c : columns) named = named || c.exact.has_value();
  if (!scratch_folder.empty() && !named) {
    encoded_ = std::make_unique<EncodedRows>(std::move(scratch_folder));
  }
}

void FieldLearner::Observe(std::span<const std::string_view> row, std::span<const char> bytes) {
  chooser_.Observe(row, bytes);
  started_ = true;
  if (encoded_) encoded_->Drop();  // it never saw this row
}

void FieldLearner::RowOf(const RowBatch& batch, size_t r) {
  const size_t columns = std::min(batch.columns(), row_.size());
  for (size_t i = 0; i < columns; ++i) {
    const std::string_view text = batch.text(r, i);
    row_[i] = datetime_[i] != 0 ? StoredDateTime(text) : text;
  }
}

void FieldLearner::ObserveBatch(const RowBatch& batch) {
  const bool encoding = encoded_ && encoded_->active();
  for (size_t r = 0; r < batch.rows(); ++r) {
    RowOf(batch, r);
    chooser_.Observe(row_);
    if (encoding) encoded_->Add(row_);
  }
  if (started_) return;
  started_ = true;
  // The fields the first rows call for are most often the table's.
  if (!encoded_ || !encoded_->Start(chooser_.Choose())) return;
  for (size_t r = 0; r < batch.rows() && encoded_->active(); ++r) {
    RowOf(batch, r);
    encoded_->Add(row_);
  }
}

}  // namespace corvane::staging
