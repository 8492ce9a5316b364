// Reading rows of COPY ... TO STDOUT in the text format: fields split at
// tabs, \N for null, backslash escapes undone.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace corvane {

// The fields of one row. A field without escapes is a view into the row
// text; one with escapes is decoded into `decoded` (views stay valid until
// the next Decode).
class CopyTextRow {
 public:
  // Splits `line` (one row, its "\n" optional) into fields. False when it
  // does not hold exactly `columns` fields.
  bool Decode(std::string_view line, size_t columns);
  bool is_null(size_t i) const { return nulls_[i]; }
  std::string_view field(size_t i) const { return fields_[i]; }
  // Field `i` as a string of its own: a decoded one is moved out (its
  // view then ends), any other copied.
  std::string TakeField(size_t i);

 private:
  std::vector<std::string_view> fields_;
  std::vector<char> nulls_;
  std::vector<std::string> decoded_;
};

}  // namespace corvane
