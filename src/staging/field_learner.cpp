#include "staging/field_learner.h"

#include "staging/staging_export.h"

namespace corvane::staging {

FieldLearner::FieldLearner(std::vector<paradox::SchemaChooser::Column> columns, int code_page,
                           std::vector<char> datetime, std::string scratch_folder)
    : chooser_(columns, code_page), datetime_(std::move(datetime)), row_(columns.size()) {
  if (!scratch_folder.empty()) encoded_ = std::make_unique<EncodedRows>(std::move(scratch_folder));
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

// Keeps row_ encoded; a column whose value outgrew its field goes on in
// the one the chooser, which has seen the row, now picks for it.
void FieldLearner::Keep() {
  size_t outgrown = 0;
  for (size_t widened = 0; !encoded_->Add(row_, outgrown); ++widened) {
    if (widened == row_.size() || !encoded_->Widen(outgrown, chooser_.Choose().at(outgrown))) {
      encoded_->Drop();
      return;
    }
  }
}

void FieldLearner::ObserveBatch(const RowBatch& batch) {
  const bool encoding = encoded_ && encoded_->active();
  for (size_t r = 0; r < batch.rows(); ++r) {
    RowOf(batch, r);
    chooser_.Observe(row_);
    if (encoding && encoded_->active()) Keep();
  }
  if (started_) return;
  started_ = true;
  // The fields the first rows call for are most often the table's.
  if (!encoded_ || !encoded_->Start(chooser_.Choose())) return;
  for (size_t r = 0; r < batch.rows() && encoded_->active(); ++r) {
    RowOf(batch, r);
    Keep();
  }
}

}  // namespace corvane::staging
