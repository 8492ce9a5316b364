// The field chooser of a staging table, shown each row as it is stored. It
// works on its own thread, so choosing the fields costs the rows' way in
// nothing but a copy of their texts; the export then needs only one read
// of the table.
#pragma once

#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <thread>
#include <vector>

#include "base/row_batches.h"
#include "paradox/schema_chooser.h"

namespace corvane::staging {

class FieldLearner {
 public:
  FieldLearner(std::vector<paradox::SchemaChooser::Column> columns, int code_page);
  ~FieldLearner();
  FieldLearner(const FieldLearner&) = delete;
  FieldLearner& operator=(const FieldLearner&) = delete;

  // One stored row, a text per column, the empty text for NULL.
  void Observe(std::span<const std::string_view> row);
  // The chooser once it has seen every row given so far.
  const paradox::SchemaChooser& Settled();

 private:
  void Work();
  // Shows the worker's chooser `row` on this thread: a row with a large
  // value is not copied for it.
  void ObserveHere(std::span<const std::string_view> row);

  paradox::SchemaChooser chooser_;
  size_t columns_;
  std::unique_ptr<BatchPipe> pipe_ = std::make_unique<BatchPipe>();
  std::optional<RowBatch> batch_;
  std::thread worker_;
  bool settled_ = false;
};

}  // namespace corvane::staging
