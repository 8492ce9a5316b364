// The field chooser of a staging table, shown each row as it is stored, so
// that the export needs only one read of the table. Rows stored on the
// staging writer's threads are shown there (ObserveBatch), the others on
// the caller's; never two at once.
#pragma once

#include <span>
#include <string_view>
#include <vector>

#include "base/row_batches.h"
#include "paradox/schema_chooser.h"

namespace corvane::staging {

class FieldLearner {
 public:
  // `datetime` flags the DATETIME columns, whose texts are stored without
  // a UTC offset.
  FieldLearner(std::vector<paradox::SchemaChooser::Column> columns, int code_page,
               std::vector<char> datetime);
  FieldLearner(const FieldLearner&) = delete;
  FieldLearner& operator=(const FieldLearner&) = delete;

  // One stored row, a text per column, the empty text for NULL; `bytes`
  // flags binary values given as their bytes.
  void Observe(std::span<const std::string_view> row, std::span<const char> bytes = {});
  // The rows of `batch` as handed to the staging driver (texts before the
  // DATETIME ones lose their offset).
  void ObserveBatch(const RowBatch& batch);
  // The chooser, which has seen every row given so far.
  const paradox::SchemaChooser& Settled() const { return chooser_; }

 private:
  paradox::SchemaChooser chooser_;
  std::vector<char> datetime_;
  std::vector<std::string_view> row_;
};

}  // namespace corvane::staging
