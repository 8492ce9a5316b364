// Reading rows of COPY ... TO STDOUT: in the text format fields split at
// tabs, \N for null, backslash escapes undone; in the binary format each
// field's length and bytes.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace corvane {

// The fields of one row, decoded in place in the row's own buffer (an
// escape is never shorter than what it stands for), so no field is copied.
class CopyRow {
 public:
  // Splits the row in `line[0, size)` (its "\n" optional) into fields,
  // undoing escapes in place; the views stay valid as long as the buffer.
  // False when it does not hold exactly `columns` fields.
  bool Decode(char* line, size_t size, size_t columns);
  // The same for one message of the binary format: the first also starts
  // with the file header, the last is the trailer alone (`trailer` is then
  // set and there are no fields).
  bool DecodeBinary(char* message, size_t size, size_t columns, bool& trailer);
  bool is_null(size_t i) const { return nulls_[i]; }
  std::string_view field(size_t i) const { return fields_[i]; }
  // Field `i` as a string of its own, its bytes in the row buffer given up
  // as they are copied (see MoveOutOf): for a large value, which then is
  // never resident twice. The field's view ends.
  std::string TakeField(size_t i);
  // The same for a field of raw bytes, as "\\x" and lower-case hex.
  std::string TakeFieldAsHex(size_t i);

 private:
  bool header_seen_ = false;
  std::vector<std::string_view> fields_;
  std::vector<char> nulls_;
};

}  // namespace corvane
