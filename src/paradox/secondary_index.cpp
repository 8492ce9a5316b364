// Outline: check the fixed header (file type, sizes), walk the variable
// part as in a table header (descriptors, pointers, table-name area, field
// names; from level 4 the field numbers and the sort-order and index names
// through 0x66/0x6E), then split the fields into the indexed ones and the
// tail that finds the record, which must be what the table's key says.
#include "paradox/secondary_index.h"

#include "paradox/byte_cursor.h"
#include "paradox/code_page.h"
#include "paradox/companion_files.h"

namespace corvane::paradox {
namespace {

// Header 0x04 of the .x files (the .y files, 4 and 7, index those).
constexpr uint8_t kSingleFieldTypes[] = {3, 5};
constexpr uint8_t kCompositeTypes[] = {6, 8};
constexpr int kHdrIndexOptions = 0x55;  // u8, level 7
constexpr uint8_t kOptionCaseInsensitive = 0x01;
constexpr uint8_t kOptionDescending = 0x10;
constexpr uint8_t kOptionUnique = 0x20;
constexpr uint16_t kNumberDescending = 0x8000;  // on a field number, seen with kOptionDescending
constexpr int kMaxIndexFields = 255;
constexpr const char* kKeyedTail[] = {"Blk Num"};
constexpr const char* kUnkeyedTail[] = {"Tup No", "Blk Num", "Tup Offset"};

bool OneOf(uint8_t v, const uint8_t (&list)[2]) { return v == list[0] || v == list[1]; }

class Decoder {
 public:
  Decoder(std::string_view header, const TableInfo& table, const std::string& path)
      : c_(header), table_(table), path_(path) {}
  Result<SecondaryIndex> Run(uint64_t file_size);

 private:
  Status Bad(const std::string& what) const { return Status::Corruption(path_ + ": " + what); }
  Status ReadNames(int count, bool extended);
  Status SplitFields();
  // By number where both files have them (a renamed field keeps its
  // number), else by name.
  int FieldOf(size_t i) const {
    const std::vector<uint16_t>& numbers = table_.field_numbers;
    const bool by_number = i < numbers_.size() && numbers.size() == table_.fields.size();
    for (size_t f = 0; f < table_.fields.size(); ++f) {
      if (by_number ? numbers[f] == (numbers_[i] & ~kNumberDescending)
                    : SameNameIgnoringCase(table_.fields[f].name, names_[i])) {
        return static_cast<int>(f);
      }
    }
    return -1;
  }

  ByteCursor c_;
  const TableInfo& table_;
  const std::string& path_;
  std::vector<uint8_t> types_;
  std::vector<std::string> names_;
  std::vector<uint16_t> numbers_;
  SecondaryIndex index_;
};

Result<SecondaryIndex> Decoder::Run(uint64_t file_size) {
  if (!c_.Has(0, kHdrFixedEnd)) return Bad("too short for an index file");
  const uint8_t type = c_.U8(kHdrFileType);
  if (!OneOf(type, kSingleFieldTypes) && !OneOf(type, kCompositeTypes)) {
    return Status::NotSupported(path_ + ": file type " + std::to_string(type) +
                                " is not a secondary index");
  }
  const uint16_t header_size = c_.U16(kHdrHeaderSize);
  if (header_size < kHdrFixedEnd || header_size > file_size) {
    return Bad("header size " + std::to_string(header_size) + " does not fit the file");
  }
  const uint8_t version = c_.U8(kHdrVersion);
  if (version < 3 || version > kVersionLevel7) {
    return Status::NotSupported(path_ + ": version byte " + std::to_string(version) +
                                " is not known");
  }
  const int count = static_cast<int16_t>(c_.U16(kHdrFieldCount));
  if (count < 2 || count > kMaxIndexFields) {
    return Bad("field count " + std::to_string(count) + " is out of range");
  }
  index_.file = path_;
  index_.composite = OneOf(type, kCompositeTypes);
  index_.entries = c_.U32(kHdrRecordCount);
  if (Status s = ReadNames(count, version >= kFirstExtendedVersion); !s.ok()) return s;
  if (Status s = SplitFields(); !s.ok()) return s;
  const uint8_t options = c_.U8(kHdrIndexOptions);
  index_.case_insensitive = (options & kOptionCaseInsensitive) != 0;
  index_.unique = (options & kOptionUnique) != 0;
  index_.descending = (options & kOptionDescending) != 0 ||
                      (!numbers_.empty() && (numbers_[0] & kNumberDescending) != 0);
  if (index_.name.empty()) index_.name = table_.fields[index_.fields[0]].name;
  return std::move(index_);
}

Status Decoder::ReadNames(int count, bool extended) {
  const size_t n = static_cast<size_t>(count);
  const size_t descriptors = extended ? kHdrExtendedEnd : kHdrFixedEnd;
  const int name_area = c_.U8(kHdrVersion) == kVersionLevel7 ? kTableNameLen7 : kTableNameLen;
  if (!c_.Has(descriptors, 2 * n)) return Bad("the field descriptors are cut short");
  for (size_t i = 0; i < n; ++i) types_.push_back(c_.U8(descriptors + 2 * i));
  if (!c_.Seek(descriptors) || !c_.Skip(2 * n + 4 + 4 * n + name_area)) {
    return Bad("the header is cut short before the field names");
  }
  for (size_t i = 0; i < n; ++i) {
    std::string_view raw;
    if (!c_.NextCString(raw)) return Bad("the field names are cut short");
    Result<std::string> name = ToUtf8(raw, table_.code_page);
    if (!name.ok()) return Bad("a field name is not text of the table's code page");
    names_.push_back(*name);
  }
  if (!extended) return Status::Ok();
  const size_t numbers_at = kHdrFixedEnd + static_cast<size_t>(c_.U16(kHdrFieldNumbersRel));
  const size_t sort_at = kHdrFixedEnd + static_cast<size_t>(c_.U16(kHdrSortIdRel));
  if (!c_.Has(numbers_at, 2 * n) || !c_.Seek(sort_at))
    return Bad("the field numbers are cut short");
  for (size_t i = 0; i < n; ++i) numbers_.push_back(c_.U16(numbers_at + 2 * i));
  std::string_view sort_order, name;
  if (!c_.NextCString(sort_order) || !c_.NextCString(name)) {
    return Bad("the index name is cut short");
  }
  Result<std::string> text = ToUtf8(name, table_.code_page);
  if (!text.ok()) return Bad("the index name is not text of the table's code page");
  index_.name = *text;
  return Status::Ok();
}

// The fields after the indexed ones find the record: the table's key and
// the block, or for a table without a key the record's place.
Status Decoder::SplitFields() {
  std::vector<std::string> tail;
  for (int k = 0; k < table_.key_fields && k < static_cast<int>(table_.fields.size()); ++k) {
    tail.push_back(table_.fields[k].name);
  }
  if (table_.key_fields > 0) {
    tail.insert(tail.end(), std::begin(kKeyedTail), std::end(kKeyedTail));
  } else {
    tail.assign(std::begin(kUnkeyedTail), std::end(kUnkeyedTail));
  }
  if (names_.size() <= tail.size()) return Bad("the index holds no field of the table");
  const size_t indexed = names_.size() - tail.size();
  for (size_t i = 0; i < tail.size(); ++i) {
    if (!SameNameIgnoringCase(names_[indexed + i], tail[i])) {
      return Bad("field \"" + names_[indexed + i] + "\" does not fit the table's key");
    }
  }
  for (size_t i = 0; i < indexed; ++i) {
    const int f = FieldOf(i);
    if (f < 0) return Bad("indexes field \"" + names_[i] + "\", which the table does not have");
    if (static_cast<uint8_t>(table_.fields[f].type) != types_[i]) {
      return Bad("field \"" + names_[i] + "\" has another type than in the table");
    }
    index_.fields.push_back(f);
  }
  if (!index_.composite && indexed != 1) return Bad("a single-field index holds several fields");
  return Status::Ok();
}

}  // namespace

Result<SecondaryIndex> DecodeSecondaryIndex(std::string_view header, uint64_t file_size,
                                            const TableInfo& table, const std::string& path) {
  return Decoder(header, table, path).Run(file_size);
}

}  // namespace corvane::paradox
