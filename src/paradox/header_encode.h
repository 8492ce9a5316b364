// The header of a fresh Paradox 5.x table (keyed or not) (.db), laid out as the
// format notes' writer template: the fixed part, the level-4+ extension and
// the field descriptors, names, numbers and sort order.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/status.h"
#include "paradox/format.h"

namespace corvane::paradox {

// The language driver Paradox records for a code page: the sort-order byte
// at 0x29 and the name at the end of the header.
struct SortOrder {
  uint8_t code;
  const char* name;
};
SortOrder SortOrderFor(int code_page);

struct DbHeader {
  std::vector<FieldInfo> fields;         // sizes already normalised
  std::vector<std::string> field_names;  // in the table's code page
  std::string table_name;                // file name, in the code page
  int code_page = 1252;
  int block_size_kib = 2;
  uint32_t record_count = 0;
  uint16_t blocks = 0;  // all in the chain, 1..blocks in order
  uint32_t auto_increment = 0;
  uint32_t update_time = 0;  // Unix time
  int key_fields = 0;        // keyed table: its leading fields form the key
};

// The language driver of a table: keyed tables with a text key are sorted
// by their key bytes, which is the order of the 'ascii' drivers.
SortOrder SortOrderFor(int code_page, const std::vector<FieldInfo>& fields, int key_fields);
// The 'ascii' driver of `code_page`, whose text order is byte order, if
// one is known.
std::optional<SortOrder> ByteOrderFor(int code_page);
// Whether the leading `key_fields` of `fields` can be a table's key in
// `code_page`: no blob or Bytes field, and text only where a driver sorts
// it by its bytes.
Status CheckKeyFields(const std::vector<FieldInfo>& fields, int key_fields, int code_page);

int RecordSize(const std::vector<FieldInfo>& fields);

// The header bytes, padded to its size (a multiple of 2048): data block 1
// starts right after it.
std::string EncodeDbHeader(const DbHeader& header);

}  // namespace corvane::paradox
