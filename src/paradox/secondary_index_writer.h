// Writing a secondary index of a table our writer made: the .x file (a
// keyed table of its own holding, per record of the table, the indexed
// fields and what finds the record) and the .y file (the primary index of
// the .x), laid out as secondary_index.h reads them and as
// docs/paradox-secondary-index.md describes.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"
#include "paradox/format.h"

namespace corvane::paradox {

// One record of the table as written.
struct RecordPlace {
  uint32_t number = 0;  // 0-based, in chain order
  uint16_t block = 0;   // 1-based
  uint16_t slot = 0;    // 0-based place in its block
  std::string_view bytes;
};
// Calls `each` for every record of the table in chain order.
using RecordWalk = std::function<Status(const std::function<Status(const RecordPlace&)>& each)>;

struct IndexToWrite {
  std::string name;         // stored in composite files only
  std::vector<int> fields;  // 0-based positions in the table, in index order
  bool composite = false;   // a .xgN file (several fields, a name or any option)
  bool case_insensitive = false;
  bool unique = false;
  bool descending = false;
};

struct IndexFiles {
  std::string x, y;
};

// The index files for `index` on `table` (a level 5 table as our writer
// makes it: info.path its .db, key_fields its key; `x_name` the .x file
// name stored in the header). InvalidArgument, naming the field or the
// rows, for an index the table cannot have: a blob or Bytes field, text
// in a code page without a byte-order driver, rows that repeat a unique
// index's values, more than 65535 blocks.
Result<IndexFiles> EncodeSecondaryIndex(const TableInfo& table, const IndexToWrite& index,
                                        const std::string& x_name, const RecordWalk& records);

}  // namespace corvane::paradox
