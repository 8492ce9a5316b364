// Reading rows of COPY ... TO STDOUT in the text format: fields split at
// tabs, \N for null, backslash escapes undone.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace corvane {

// The fields of one row, decoded in place in the row's own buffer (an
// escape is never shorter than what it stands for), so no field is copied.
class CopyTextRow {
 public:
  // Splits the row in `line[0, size)` (its "\n" optional) into fields,
  // undoing escapes in place; the views stay valid as long as the buffer.
  // False when it does not hold exactly `columns` fields.
  bool Decode(char* line, size_t size, size_t columns);
  bool is_null(size_t i) const { return nulls_[i]; }
  std::string_view field(size_t i) const { return fields_[i]; }
  // Field `i` as a string of its own, its bytes in the row buffer given up
  // as they are copied (see MoveOutOf): for a large value, which then is
  // never resident twice. The field's view ends.
  std::string TakeField(size_t i);

 private:
  std::vector<std::string_view> fields_;
  std::vector<char> nulls_;
};

}  // namespace corvane
