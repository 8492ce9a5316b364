#include "connection/field_learner.h"

namespace corvane::staging {

FieldLearner::FieldLearner(std::vector<paradox::SchemaChooser::Column> columns, int code_page)
    : chooser_(columns, code_page), columns_(columns.size()) {
  worker_ = std::thread([this] { Work(); });
}

FieldLearner::~FieldLearner() {
  pipe_->Cancel();
  if (!settled_) {
    batch_.reset();
    pipe_->Finish();
  }
  if (worker_.joinable()) worker_.join();
}

void FieldLearner::Observe(std::span<const std::string_view> row) {
  if (settled_) {  // rows after the export: seen at once
    chooser_.Observe(row);
    return;
  }
  for (std::string_view v : row) {
    if (v.size() >= RowBatch::kLargeValue) return ObserveHere(row);
  }
  if (!batch_) batch_ = pipe_->Empty(columns_);
  if (!batch_) return;  // only after a cancel, which only the destructor sends
  for (size_t i = 0; i < columns_; ++i) {
    batch_->Add(i < row.size() ? row[i] : std::string_view(), false);
  }
  if (BatchPipe::IsFull(*batch_)) {
    pipe_->Send(std::move(*batch_));
    batch_.reset();
  }
}

const paradox::SchemaChooser& FieldLearner::Settled() {
  if (!settled_) {
    settled_ = true;
    if (batch_ && batch_->rows() > 0) pipe_->Send(std::move(*batch_));
    batch_.reset();
    pipe_->Finish();
    worker_.join();
  }
  return chooser_;
}

void FieldLearner::ObserveHere(std::span<const std::string_view> row) {
  if (batch_ && batch_->rows() > 0) pipe_->Send(std::move(*batch_));
  batch_.reset();
  pipe_->Finish();
  worker_.join();  // the rows before are seen first
  chooser_.Observe(row);
  pipe_ = std::make_unique<BatchPipe>();
  worker_ = std::thread([this] { Work(); });
}

void FieldLearner::Work() {
  std::vector<std::string_view> row(columns_);
  while (std::optional<RowBatch> batch = pipe_->Next()) {
    for (size_t r = 0; r < batch->rows(); ++r) {
      for (size_t i = 0; i < columns_; ++i) row[i] = batch->text(r, i);
      chooser_.Observe(row);
    }
    pipe_->Recycle(std::move(*batch));
  }
}

}  // namespace corvane::staging
