// Hand-built .val files and secondary index headers, laid out as
// docs/paradox-validity.md and docs/paradox-secondary-index.md describe.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace corvane::paradox::testing {

struct RuleField {
  uint8_t type;
  uint8_t size;
  std::string name;
};

// Values are the bytes the field has in a record ("" = none).
struct ValRule {
  int field = 0;  // level 3: table position; else index into the footer
  bool required = false;
  std::string lookup, min, max, def, picture;
};

struct ValReference {
  std::string name;
  std::vector<uint16_t> fields;  // this table's field numbers
  std::string parent;            // "P.DB"
  std::vector<uint16_t> parent_fields;
  bool cascade = false;
};

// Version 0x01 gives the level 3 layout (records only); any other version
// a footer listing `fields` with numbers 1..n and the references.
std::string BuildVal(uint8_t version, const std::vector<RuleField>& fields,
                     const std::vector<ValRule>& rules,
                     const std::vector<ValReference>& references = {});

struct IndexSpec {
  uint8_t version = 0x0C;
  uint8_t file_type = 3;          // 3 single-field, 6 composite
  std::vector<RuleField> fields;  // indexed fields, then the tail
  std::vector<uint16_t> numbers;  // one per field
  int key_count = 2;              // header 0x23
  uint8_t options = 0;            // header 0x55
  std::string name;
  uint32_t entries = 0;
};
// A 2048-byte index header and no blocks.
std::string BuildIndexHeader(const IndexSpec& spec);

}  // namespace corvane::paradox::testing
