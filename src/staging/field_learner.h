// The field chooser of a staging table, shown each row as it is stored, so
// that the export needs only one read of the table. Rows stored on the
// staging writer's threads are shown there (ObserveBatch), the others on
// the caller's; never two at once. Rows shown in batches are also kept
// encoded for the fields the first batch suggests, a column that outgrows
// its field going on in the wider one (encoded_rows.h).
#pragma once

#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/row_batches.h"
#include "staging/encoded_rows.h"
#include "paradox/schema_chooser.h"

namespace corvane::staging {

class FieldLearner {
 public:
  // `datetime` flags the DATETIME columns, whose texts are stored without
  // a UTC offset. Encoded rows beyond a few hundred KiB go to a file in
  // `scratch_folder`; none are kept when it is empty.
  FieldLearner(std::vector<paradox::SchemaChooser::Column> columns, int code_page,
               std::vector<char> datetime, std::string scratch_folder = {});
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
  // Every row given so far, encoded, when they could all be; else null.
  const EncodedRows* Encoded() const { return encoded_ && encoded_->active() ? encoded_.get() : nullptr; }

 private:
  void RowOf(const RowBatch& batch, size_t r);
  void Keep();

  paradox::SchemaChooser chooser_;
  std::vector<char> datetime_;
  std::vector<std::string_view> row_;
  std::unique_ptr<EncodedRows> encoded_;
  bool started_ = false;  // the first rows were shown
};

}  // namespace corvane::staging
