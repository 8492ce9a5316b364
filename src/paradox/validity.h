// The validity checks of a Paradox table (.val): required fields, minimum,
// maximum, default, picture and lookup table per field, and the table's
// referential integrity, both the references it makes and those made to it.
//
// Two layouts exist. Level 3 files (version byte 0x01) hold the field
// records only and name fields by their position in the table. Level 4 and
// later files (the table's own version byte) add a footer with the field
// numbers, types and names they were written for, and a referential
// integrity section. docs/paradox-validity.md has the details.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"
#include "paradox/format.h"

namespace corvane::paradox {

// What one field of the table must hold. Values are in the fixed text form
// the reader gives the field's cells.
struct FieldRule {
  int field = 0;  // 0-based position in the table
  bool required = false;
  std::optional<std::string> minimum;
  std::optional<std::string> maximum;
  std::optional<std::string> default_value;
  std::string picture;           // empty when none; UTF-8
  std::string lookup_table;      // file name as stored ("STORE.DB"); empty when none
  bool lookup_fill_all = false;  // all corresponding fields are filled from the lookup
  bool lookup_help = false;      // the lookup is offered as help
};

// A reference from this table's `fields` to `parent_table`'s fields.
struct Reference {
  std::string name;
  std::vector<int> fields;         // 0-based positions in this table
  std::string parent_table;        // file name as stored ("primary.db")
  std::vector<int> parent_fields;  // the parent's field numbers, 1-based as stored
  bool cascade_update = false;     // else a changed parent key is refused
};

// A reference another table makes to this one.
struct Dependent {
  std::string name;
  std::string child_table;  // file name as stored
};

struct Validity {
  std::string file;
  uint8_t version_byte = 0;      // byte 1: 0x01 for level 3, else the table's 0x39
  std::string table_name;        // as stored in the footer (level 4+), often a full path
  std::vector<FieldRule> rules;  // in file order
  std::vector<Reference> references;
  std::vector<Dependent> dependents;
};

// Largest .val we read; far beyond what 255 fields and their references
// take, so anything larger is not a validity file.
inline constexpr uint64_t kMaxValiditySize = 4u << 20;

// Decodes the whole .val `bytes` of the file `path` against `table` (as the
// reader gave it). Every offset and count is checked against `bytes` first.
// Corruption, naming the file, for a damaged file or one that does not fit
// the table; NotSupported for an unknown version.
Result<Validity> DecodeValidity(std::string_view bytes, const TableInfo& table,
                                const std::string& path);

}  // namespace corvane::paradox
