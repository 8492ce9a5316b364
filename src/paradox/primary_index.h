// The primary index (.px) of a keyed Paradox table: writing one for a table
// our writer made, and checking one against its table.
//
// A .px is laid out like a table without the level-4 header extension: a
// header (file type 1), then index blocks with the usual 6-byte block
// header. Each index record is the key fields' bytes followed by three
// shorts in the record encoding: the block it points at, the number of
// records under that entry, and 0. Level-1 entries point at data blocks, one
// per block of the chain in chain order, keyed by the block's first record;
// entries of higher levels point at index blocks, keyed by their first
// entry. docs/paradox-primary-index.md has the details.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/status.h"
#include "paradox/format.h"

namespace corvane::paradox {

// One level-1 entry: the first record's key bytes of a data block.
struct IndexEntry {
  std::string key;  // key_size bytes, as in the record
  uint16_t block = 0;
  uint32_t records = 0;
};

struct PrimaryIndexSpec {
  std::vector<FieldInfo> key_fields;  // the table's leading fields, sizes normalised
  std::string file_name;              // "NAME.PX", in the table's code page
  uint8_t version_byte = 0x0B;        // as the table's header 0x39
  uint8_t sort_order = 0;             // as the table's header 0x29
};

// The whole .px for a table whose data blocks `leaves` describes, in chain
// order (empty for an empty table). Index blocks are as small as keeps the
// index at two levels where that is possible, the root first.
// kInvalidArgument when the index would need more than 65535 blocks.
Result<std::string> EncodePrimaryIndex(const PrimaryIndexSpec& spec,
                                       const std::vector<IndexEntry>& leaves);

// What CheckPrimaryIndex found.
struct IndexCheck {
  std::string file;  // the .px file name, empty when there is none
  int levels = 0;
  uint32_t entries = 0;  // index records, all levels
  std::string problem;   // empty when the index agrees with the table
};

// Checks the primary index beside the keyed table `info` (as read by
// TableReader, `info.path` the .db): its key fields are the table's leading
// fields, every level-1 entry points at the next block of the chain with
// that block's first key and record count, and every upper entry at an
// index block with its first key and the sum of its counts. A missing .px,
// a password-protected table or a damaged file are reported in `problem`;
// only an unreadable .db is an error.
Result<IndexCheck> CheckPrimaryIndex(const TableInfo& info);

}  // namespace corvane::paradox
