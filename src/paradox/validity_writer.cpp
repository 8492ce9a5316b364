// Offsets as in validity.cpp and docs/paradox-validity.md. The record's
// "present" words are run-time pointers in real files; any non-zero value
// marks the part present, so 1 is written.
#include "paradox/validity_writer.h"

#include "paradox/code_page.h"
#include "paradox/field_encode.h"

namespace corvane::paradox {
namespace {

constexpr uint8_t kVersionLevel3 = 0x01;
constexpr size_t kValRecords = 0x35;
constexpr size_t kRecordSize = 0x1C;
constexpr int kLookupArea = 0x50;
constexpr int kFooterTableName = 79;
constexpr int kMaxPicture = 255;  // its length, with the NUL, is one byte

void PutLe16(std::string& out, uint16_t v) {
  out.push_back(static_cast<char>(v & 0xFF));
  out.push_back(static_cast<char>(v >> 8));
}

bool AsksForSomething(const FieldRule& r) {
  return r.required || r.minimum || r.maximum || r.default_value || !r.picture.empty() ||
         !r.lookup_table.empty();
}

Status Bad(const FieldInfo& f, const std::string& what) {
  return Status::InvalidArgument("validity check of field \"" + f.name + "\": " + what);
}

// Appends `value` as the field stores it.
Status PutValue(std::string& out, const FieldInfo& f, const std::string& value, int code_page) {
  if (IsBlobType(f.type)) return Bad(f, "a blob field has no bounds or default");
  std::string bytes(static_cast<size_t>(f.size), '\0');
  if (Status s = EncodeScalar(f, CellView(false, value), code_page,
                              reinterpret_cast<unsigned char*>(bytes.data()));
      !s.ok()) {
    return Bad(f, "\"" + value + "\": " + s.message());
  }
  // All zero bytes read back as blank, which is no rule: refuse rather
  // than lose it.
  if (bytes.find_first_not_of('\0') == std::string::npos) {
    return Bad(f, "\"" + value + "\" is stored as blank");
  }
  out += bytes;
  return Status::Ok();
}

Result<std::string> Encoded(const std::string& text, int code_page, size_t area,
                            const FieldInfo& f) {
  Result<std::string> raw = FromUtf8(text, code_page);
  if (!raw.ok()) return Bad(f, "\"" + text + "\" has no form in code page " + std::to_string(code_page));
  if (raw->size() + 1 > area || raw->find('\0') != std::string::npos) {
    return Bad(f, "\"" + text + "\" is too long");
  }
  return raw;
}

Status PutRule(std::string& out, const TableInfo& table, const FieldRule& r, bool level3) {
  const FieldInfo& f = table.fields[static_cast<size_t>(r.field)];
  std::string record(kRecordSize, '\0');
  std::string values;
  record[0x00] = static_cast<char>(r.field);  // level 4+: the footer lists every field in order
  record[0x02] = r.required ? 1 : 0;
  auto mark = [&record](size_t at) { StoreLe32(reinterpret_cast<unsigned char*>(&record[at]), 1); };
  if (!r.lookup_table.empty()) {
    Result<std::string> name = Encoded(r.lookup_table, table.code_page, kLookupArea, f);
    if (!name.ok()) return name.status();
    record[0x03] = static_cast<char>((r.lookup_fill_all ? 1 : 0) | (r.lookup_help ? 2 : 0));
    mark(0x04);
    if (level3) mark(0x08);
    std::string area(kLookupArea, '\0');
    area.replace(0, name->size(), *name);
    values += area;
  }
  const std::pair<const std::optional<std::string>*, size_t> bounds[] = {
      {&r.minimum, 0x0C}, {&r.maximum, 0x10}, {&r.default_value, 0x14}};
  for (const auto& [value, at] : bounds) {
    if (!*value) continue;
    mark(at);
    if (Status s = PutValue(values, f, **value, table.code_page); !s.ok()) return s;
  }
  if (!r.picture.empty()) {
    Result<std::string> picture = Encoded(r.picture, table.code_page, kMaxPicture, f);
    if (!picture.ok()) return picture.status();
    record[0x01] = static_cast<char>(picture->size() + 1);
    mark(0x18);
    values += *picture;
    values.push_back('\0');
  }
  out += record;
  out += values;
  return Status::Ok();
}

Status PutFooter(std::string& out, const TableInfo& table) {
  const size_t n = table.fields.size();
  PutLe16(out, static_cast<uint16_t>(n));
  out.append(4, '\0');
  for (size_t i = 0; i < n; ++i) {
    const bool numbered = table.field_numbers.size() == n;
    PutLe16(out, numbered ? table.field_numbers[i] : static_cast<uint16_t>(i + 1));
  }
  for (const FieldInfo& f : table.fields) {
    out.push_back(static_cast<char>(f.type));
    out.push_back(static_cast<char>(f.size));
  }
  std::string name = table.path.substr(table.path.find_last_of('/') + 1);
  Result<std::string> raw = FromUtf8(name, table.code_page);
  std::string area(kFooterTableName, '\0');
  if (raw.ok()) area.replace(0, std::min(raw->size(), area.size() - 1), *raw);
  out += area;
  for (const FieldInfo& f : table.fields) {
    Result<std::string> field_name = FromUtf8(f.name, table.code_page);
    if (!field_name.ok()) return Bad(f, "its name has no form in code page " +
                                            std::to_string(table.code_page));
    out += *field_name;
    out.push_back('\0');
  }
  return Status::Ok();
}

}  // namespace

Result<std::string> EncodeValidity(const TableInfo& table, const std::vector<FieldRule>& rules) {
  const bool level3 = table.version_byte < kFirstExtendedVersion;
  std::string out(kValRecords, '\0');
  out[1] = static_cast<char>(level3 ? kVersionLevel3 : table.version_byte);
  int count = 0;
  for (const FieldRule& r : rules) {
    if (!AsksForSomething(r)) continue;
    if (r.field < 0 || r.field >= static_cast<int>(table.fields.size()) || r.field > 0xFF) {
      return Status::InvalidArgument("a validity check names field " + std::to_string(r.field + 1) +
                                     " of " + std::to_string(table.fields.size()));
    }
    if (Status s = PutRule(out, table, r, level3); !s.ok()) return s;
    ++count;
  }
  if (count == 0) return std::string();
  out[2] = static_cast<char>(count);
  if (level3) return out;
  StoreLe32(reinterpret_cast<unsigned char*>(&out[0x09]), static_cast<uint32_t>(out.size()));
  if (Status s = PutFooter(out, table); !s.ok()) return s;
  return out;
}

}  // namespace corvane::paradox
