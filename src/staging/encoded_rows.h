// The rows of a staging table, encoded as they are stored for the Paradox
// fields the chooser picks from the first of them, so that an export whose
// fields turn out the same writes them as they are, without reading the
// staging table and encoding every value again.
//
// A value the field it was meant for cannot hold starts a new layout for
// the rows from it on, with only that column's field changed (a Long that
// needs a Number); the export turns that column's values kept in an older
// field into the final one where that keeps each value exactly (whole
// numbers into any number field, decimals into a Number or another BCD,
// dates into timestamps). Any other change, a field whose encoding depends
// on what comes later (memos, blobs, bytes) or a disk growing short drops
// them all: the export then reads the table as it always does. Alpha
// values are kept as their texts, since the field's width and code page
// are only known at the end. Past a megabyte the rows go to a scratch file
// beside the staging file that no name leads to, so nothing of it stays
// after a kill.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"
#include "paradox/format.h"

namespace corvane::staging {

class EncodedRows {
 public:
  // The scratch file, if one is needed, goes into `folder`.
  explicit EncodedRows(std::string folder) : folder_(std::move(folder)) {}
  ~EncodedRows();
  EncodedRows(const EncodedRows&) = delete;
  EncodedRows& operator=(const EncodedRows&) = delete;

  // Rows from now on are encoded for `fields`; false (and nothing kept)
  // when one of them is a field that cannot be encoded ahead.
  bool Start(std::vector<paradox::FieldInfo> fields);
  bool active() const { return active_; }
  // One row as stored, a text per column, the empty text for NULL. False
  // when the value of column `outgrown` does not fit the field it is kept
  // in: nothing of the row is kept then (see Widen). Other failures drop
  // every row.
  bool Add(std::span<const std::string_view> row, size_t& outgrown);
  // Rows from now on keep column `column` in `field`; false (and nothing
  // kept) when the values kept so far could not become that field.
  bool Widen(size_t column, const paradox::FieldInfo& field);
  // Gives up: every row kept so far goes.
  void Drop();

  // Whether the export of `rows` rows to `fields` can use the rows kept:
  // each of them was kept, each column in its field (an Alpha of any
  // width) or in one whose values become it exactly.
  bool Serves(const std::vector<paradox::FieldInfo>& fields, uint64_t rows) const;
  // Calls `fn` with each row kept, in order, for `fields` (which it
  // Serves): a cell per field, an Alpha one with its text, any other with
  // its encoded bytes (`encoded`). A value that does not become its field
  // after all fails with kInvalidArgument.
  Status ForEach(const std::vector<paradox::FieldInfo>& fields,
                 const std::function<Status(std::span<const paradox::CellView>)>& fn) const;

 private:
  // The fields of the rows from `first` on (up to the next layout's).
  struct Layout {
    uint64_t first = 0;
    std::vector<paradox::FieldInfo> fields;
  };
  bool Flush();
  bool Decode(std::string_view& bytes, const std::vector<paradox::FieldInfo>& fields,
              std::vector<paradox::CellView>& row) const;

  std::string folder_;
  std::vector<Layout> layouts_;
  std::vector<paradox::FieldInfo> fields_;  // the last layout's
  bool active_ = false;
  uint64_t rows_ = 0;
  std::string pending_;    // rows not yet in the file
  int fd_ = -1;            // the scratch file, once one is needed
  uint64_t in_file_ = 0;   // bytes written to it
};

}  // namespace corvane::staging
