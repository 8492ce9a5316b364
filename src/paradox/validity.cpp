// Outline: byte 1 tells the layout. Level 4+: read the footer first (it
// names the fields the records point at), then the field records from
// 0x35, then the referential integrity section; each part must end exactly
// where the next begins, or the file is taken for damaged rather than half
// understood. Level 3: the field records alone run to the end of the file.
// Offsets are those of docs/paradox-validity.md.
#include "paradox/validity.h"

#include "paradox/byte_cursor.h"
#include "paradox/code_page.h"
#include "paradox/companion_files.h"
#include "paradox/field_decode.h"

namespace corvane::paradox {
namespace {

constexpr uint8_t kVersionLevel3 = 0x01;  // byte 1 of a level 3 .val
constexpr int kValCount = 0x02;           // u8, field records
constexpr int kValFooter = 0x09;          // u32, level 4+
constexpr int kValReferences = 0x0D;      // u32, level 4+; 0 when none
constexpr int kValRecords = 0x35;

// One field record; the values it points at follow it in this order.
constexpr int kRecordSize = 0x1C;
constexpr int kRecField = 0x00;        // u8, field (level 3: table position)
constexpr int kRecPictureSize = 0x01;  // u8, with the NUL
constexpr int kRecRequired = 0x02;     // u8
constexpr int kRecLookupFlags = 0x03;  // u8: 1 fill all fields, 2 help
constexpr int kRecLookup = 0x04;       // u32 run-time pointer, 0 = none
constexpr int kRecMinimum = 0x0C;      // u32 pointers, 0 = none
constexpr int kRecMaximum = 0x10;
constexpr int kRecDefault = 0x14;
constexpr int kRecPicture = 0x18;
constexpr int kLookupArea = 0x50;  // table name, NUL-terminated, then run-time data

// Footer: u16 field count, 4 unknown bytes, then per field a u16 number,
// then per field type and size, the table name, the field names.
constexpr int kFooterNumbers = 6;
constexpr int kFooterTableName = 79;
constexpr int kFooterTableName7 = 261;

// Referential integrity: u16 count of references, each kRefSize bytes; then
// u16 count of groups of dependents, each kGroupHead bytes, a u16 count and
// kDependentSize bytes per dependent.
constexpr int kRefSize = 0x1E0;
constexpr int kRefName = 0x00;
constexpr int kRefNameArea = 0x40;
constexpr int kRefParent = 0xD4;
constexpr int kRefParentArea = 0xC6;
constexpr int kRefUpdateRule = 0x19A;  // u32, low 24 bits 1 = cascade
constexpr int kRefFieldCount = 0x19E;  // u16
constexpr int kRefFields = 0x1A0;      // u16 field numbers of this table
constexpr int kRefParentFields = 0x1C0;
constexpr int kMaxRefFields = 16;
constexpr int kGroupHead = 0xB6;
constexpr int kDependentSize = 0x12A;
constexpr int kDepName = 0x00;
constexpr int kDepChild = 0x40;
constexpr int kDepChildArea = 0x52;

struct Footer {
  std::vector<uint16_t> numbers;
  std::vector<uint8_t> types;
  std::vector<int> positions;  // in the table; -1 for a field it no longer has
  std::vector<std::string> names;
  std::string table_name;
};

class Decoder {
 public:
  Decoder(std::string_view bytes, const TableInfo& table, const std::string& path)
      : c_(bytes), table_(table), path_(path) {}

  Result<Validity> Run();

 private:
  Status Bad(const std::string& what) const { return Status::Corruption(path_ + ": " + what); }
  Result<std::string> Text(std::string_view raw) const {
    Result<std::string> text = ToUtf8(raw, table_.code_page);
    if (!text.ok())
      return Bad("a name or picture is not text of code page " + std::to_string(table_.code_page));
    return text;
  }
  Status ReadFooter(size_t at);
  Status ReadNames(size_t names_at, int count);
  Status ReadRules(size_t end);
  Status ReadRule(FieldRule& rule);
  Status ReadValue(uint32_t pointer, const FieldInfo& f, std::optional<std::string>& out);
  Status ReadReferences(size_t at, size_t end);
  Status ReadReference(size_t at);
  Status ReadDependents();
  Result<int> PositionOfNumber(uint16_t number) const;
  int FieldOf(uint16_t number, uint8_t type, const std::string& name) const;
  Result<int> Resolved(size_t footer_index) const;

  ByteCursor c_;
  const TableInfo& table_;
  const std::string& path_;
  bool level3_ = false;
  Footer footer_;
  Validity v_;
};

Result<Validity> Decoder::Run() {
  if (!c_.Has(0, kValRecords)) return Bad("too short for a validity file");
  v_.file = path_;
  v_.version_byte = c_.U8(1);
  level3_ = v_.version_byte == kVersionLevel3;
  if (!level3_ && (v_.version_byte < kFirstExtendedVersion || v_.version_byte > kVersionLevel7)) {
    return Status::NotSupported(path_ + ": validity file version " +
                                std::to_string(v_.version_byte) + " is not known");
  }
  if (level3_) {
    if (Status s = ReadRules(c_.size()); !s.ok()) return s;
    return std::move(v_);
  }
  const uint32_t footer = c_.U32(kValFooter);
  const uint32_t refs = c_.U32(kValReferences);
  if (footer < kValRecords || footer >= c_.size()) return Bad("the footer offset is out of range");
  if (refs != 0 && (refs < kValRecords || refs > footer)) {
    return Bad("the referential integrity offset is out of range");
  }
  if (Status s = ReadFooter(footer); !s.ok()) return s;
  if (Status s = ReadRules(refs != 0 ? refs : footer); !s.ok()) return s;
  if (refs != 0) {
    if (Status s = ReadReferences(refs, footer); !s.ok()) return s;
  }
  return std::move(v_);
}

Status Decoder::ReadFooter(size_t at) {
  if (!c_.Has(at, kFooterNumbers)) return Bad("the footer is cut short");
  const int count = c_.U16(at);
  const size_t types_at = at + kFooterNumbers + 2 * static_cast<size_t>(count);
  if (count == 0 || !c_.Has(types_at, 2 * static_cast<size_t>(count))) {
    return Bad("the footer's field list is cut short");
  }
  for (int i = 0; i < count; ++i) {
    footer_.numbers.push_back(c_.U16(at + kFooterNumbers + 2 * i));
    footer_.types.push_back(c_.U8(types_at + 2 * i));
  }
  // The table-name area is as long as in the table's header; level 7 may
  // use either length, and only the right one makes the names end the file.
  const size_t name_at = types_at + 2 * static_cast<size_t>(count);
  Status status = Bad("the footer's field names do not end the file");
  for (int area : {kFooterTableName, kFooterTableName7}) {
    if (area == kFooterTableName7 && v_.version_byte != kVersionLevel7) break;
    status = ReadNames(name_at + area, count);
    if (status.ok()) {
      Result<std::string> name = Text(c_.CString(name_at, area));
      if (!name.ok()) return name.status();
      footer_.table_name = *name;
      v_.table_name = *name;
      return Status::Ok();
    }
  }
  return status;
}

Status Decoder::ReadNames(size_t names_at, int count) {
  footer_.positions.clear();
  footer_.names.clear();
  if (!c_.Seek(names_at)) return Bad("the footer's field names are cut short");
  for (int i = 0; i < count; ++i) {
    std::string_view raw;
    if (!c_.NextCString(raw)) return Bad("the footer's field names are cut short");
    Result<std::string> name = Text(raw);
    if (!name.ok()) return name.status();
    footer_.positions.push_back(FieldOf(footer_.numbers[i], footer_.types[i], *name));
    footer_.names.push_back(*name);
  }
  if (c_.pos() != c_.size()) return Bad("the footer's field names do not end the file");
  return Status::Ok();
}

Status Decoder::ReadRules(size_t end) {
  const int count = c_.U8(kValCount);
  c_.Seek(kValRecords);
  for (int i = 0; i < count; ++i) {
    FieldRule rule;
    if (Status s = ReadRule(rule); !s.ok()) return s;
    v_.rules.push_back(std::move(rule));
  }
  if (c_.pos() != end) {
    return Bad("the field checks end at " + std::to_string(c_.pos()) + " instead of " +
               std::to_string(end));
  }
  return Status::Ok();
}

Status Decoder::ReadRule(FieldRule& rule) {
  const size_t at = c_.pos();
  if (!c_.Skip(kRecordSize)) return Bad("a field check is cut short");
  const int index = c_.U8(at + kRecField);
  if (level3_) {
    if (index >= static_cast<int>(table_.fields.size())) {
      return Bad("a check names field " + std::to_string(index + 1) + " of " +
                 std::to_string(table_.fields.size()));
    }
    rule.field = index;
  } else {
    if (index >= static_cast<int>(footer_.positions.size())) {
      return Bad("a check names a field the footer does not list");
    }
    Result<int> position = Resolved(index);
    if (!position.ok()) return position.status();
    rule.field = *position;
  }
  const FieldInfo& f = table_.fields[rule.field];
  rule.required = c_.U8(at + kRecRequired) != 0;
  if (c_.U32(at + kRecLookup) != 0) {
    const size_t lookup_at = c_.pos();
    if (!c_.Skip(kLookupArea)) return Bad("a lookup table name is cut short");
    Result<std::string> name = Text(c_.CString(lookup_at, kLookupArea));
    if (!name.ok()) return name.status();
    rule.lookup_table = *name;
    rule.lookup_fill_all = (c_.U8(at + kRecLookupFlags) & 1) != 0;
    rule.lookup_help = (c_.U8(at + kRecLookupFlags) & 2) != 0;
  }
  if (Status s = ReadValue(c_.U32(at + kRecMinimum), f, rule.minimum); !s.ok()) return s;
  if (Status s = ReadValue(c_.U32(at + kRecMaximum), f, rule.maximum); !s.ok()) return s;
  if (Status s = ReadValue(c_.U32(at + kRecDefault), f, rule.default_value); !s.ok()) return s;
  const int picture_size = c_.U8(at + kRecPictureSize);
  if (c_.U32(at + kRecPicture) != 0 && picture_size > 0) {
    const size_t picture_at = c_.pos();
    if (!c_.Skip(picture_size)) return Bad("a picture is cut short");
    Result<std::string> picture = Text(c_.CString(picture_at, picture_size));
    if (!picture.ok()) return picture.status();
    rule.picture = *picture;
  }
  return Status::Ok();
}

Status Decoder::ReadValue(uint32_t pointer, const FieldInfo& f, std::optional<std::string>& out) {
  if (pointer == 0) return Status::Ok();
  if (IsBlobType(f.type)) return Bad("field \"" + f.name + "\" has a bound, but holds blobs");
  const size_t at = c_.pos();
  if (!c_.Skip(f.size)) return Bad("a value of field \"" + f.name + "\" is cut short");
  Cell cell;
  if (Status s = DecodeScalarField(f, c_.at(at), table_.code_page, cell); !s.ok()) {
    return Bad("a value of field \"" + f.name + "\": " + s.message());
  }
  // A blank bound or default is no rule at all.
  if (!cell.null) out = std::move(cell.text);
  return Status::Ok();
}

Status Decoder::ReadReferences(size_t at, size_t end) {
  c_.Seek(at);
  if (!c_.Skip(2)) return Bad("the referential integrity section is cut short");
  const int count = c_.U16(at);
  for (int i = 0; i < count; ++i) {
    const size_t ref_at = c_.pos();
    if (!c_.Skip(kRefSize)) return Bad("a reference is cut short");
    if (Status s = ReadReference(ref_at); !s.ok()) return s;
  }
  if (Status s = ReadDependents(); !s.ok()) return s;
  if (c_.pos() != end) return Bad("the referential integrity section does not end at the footer");
  return Status::Ok();
}

Status Decoder::ReadReference(size_t at) {
  Reference ref;
  Result<std::string> name = Text(c_.CString(at + kRefName, kRefNameArea));
  Result<std::string> parent = Text(c_.CString(at + kRefParent, kRefParentArea));
  if (!name.ok()) return name.status();
  if (!parent.ok()) return parent.status();
  ref.name = *name;
  ref.parent_table = *parent;
  ref.cascade_update = (c_.U32(at + kRefUpdateRule) & 0xFFFFFF) == 1;
  const int fields = c_.U16(at + kRefFieldCount);
  if (fields == 0 || fields > kMaxRefFields || ref.parent_table.empty()) {
    return Bad("reference \"" + ref.name + "\" is damaged");
  }
  for (int k = 0; k < fields; ++k) {
    Result<int> position = PositionOfNumber(c_.U16(at + kRefFields + 2 * k));
    if (!position.ok()) return position.status();
    ref.fields.push_back(*position);
    ref.parent_fields.push_back(c_.U16(at + kRefParentFields + 2 * k));
  }
  v_.references.push_back(std::move(ref));
  return Status::Ok();
}

Status Decoder::ReadDependents() {
  const size_t groups_at = c_.pos();
  if (!c_.Skip(2)) return Bad("the list of referring tables is cut short");
  const int groups = c_.U16(groups_at);
  for (int g = 0; g < groups; ++g) {
    const size_t count_at = c_.pos() + kGroupHead;
    if (!c_.Skip(kGroupHead + 2)) return Bad("the list of referring tables is cut short");
    const int count = c_.U16(count_at);
    for (int i = 0; i < count; ++i) {
      const size_t dep_at = c_.pos();
      if (!c_.Skip(kDependentSize)) return Bad("a referring table is cut short");
      Result<std::string> name = Text(c_.CString(dep_at + kDepName, kRefNameArea));
      Result<std::string> child = Text(c_.CString(dep_at + kDepChild, kDepChildArea));
      if (!name.ok()) return name.status();
      if (!child.ok()) return child.status();
      v_.dependents.push_back({*name, *child});
    }
  }
  return Status::Ok();
}

Result<int> Decoder::PositionOfNumber(uint16_t number) const {
  for (size_t i = 0; i < footer_.numbers.size(); ++i) {
    if (footer_.numbers[i] == number) return Resolved(i);
  }
  return Bad("a reference names field number " + std::to_string(number) +
             ", which the footer does not list");
}

// A field keeps its number through a restructure, its name not always: the
// number decides where the table has numbers, else the name; the type must
// agree either way.
int Decoder::FieldOf(uint16_t number, uint8_t type, const std::string& name) const {
  const std::vector<uint16_t>& numbers = table_.field_numbers;
  for (size_t f = 0; f < table_.fields.size(); ++f) {
    const bool same = numbers.size() == table_.fields.size()
                          ? numbers[f] == number
                          : SameNameIgnoringCase(table_.fields[f].name, name);
    if (same) return static_cast<uint8_t>(table_.fields[f].type) == type ? static_cast<int>(f) : -1;
  }
  return -1;
}

Result<int> Decoder::Resolved(size_t footer_index) const {
  if (footer_.positions[footer_index] >= 0) return footer_.positions[footer_index];
  return Bad("field \"" + footer_.names[footer_index] +
             "\" has a check, but the table has no such field of that type");
}

}  // namespace

Result<Validity> DecodeValidity(std::string_view bytes, const TableInfo& table,
                                const std::string& path) {
  return Decoder(bytes, table, path).Run();
}

}  // namespace corvane::paradox
