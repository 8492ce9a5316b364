// The secondary indexes of a Paradox table: what each .xNN (one field) or
// .xgN (composite, or named, case-insensitive, unique or descending) file
// says about its index. Only the header of the .x file is read; its records
// and the .y file that indexes them are Paradox's to keep.
//
// The header is laid out like a table's: its fields are the indexed fields,
// then the table's key fields (or, for a table without a key, the record's
// place: "Tup No", "Blk Num", "Tup Offset"), then "Blk Num". Level 7 keeps
// the index's options at 0x55. docs/paradox-secondary-index.md has the
// details.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"
#include "paradox/format.h"

namespace corvane::paradox {

struct SecondaryIndex {
  std::string file;
  std::string name;         // as stored; a single-field index is named after its field
  std::vector<int> fields;  // 0-based positions in the table, in index order
  bool composite = false;   // a .xgN file
  bool case_insensitive = false;
  bool unique = false;
  bool descending = false;
  uint32_t entries = 0;  // records of the index as its header counts them
};

// Decodes `header`, the first min(header size, file size) bytes of the
// index file `path` (its size `file_size`), against `table`. Corruption,
// naming the file, for a damaged header or one whose fields do not fit the
// table; NotSupported for a file that is no secondary index.
Result<SecondaryIndex> DecodeSecondaryIndex(std::string_view header, uint64_t file_size,
                                            const TableInfo& table, const std::string& path);

}  // namespace corvane::paradox
