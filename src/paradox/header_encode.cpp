#include "paradox/header_encode.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "paradox/code_page.h"

namespace corvane::paradox {
namespace {

constexpr uint8_t kVersionLevel5 = 0x0B;
constexpr uint8_t kFileTypeKeyed = 0;
constexpr uint8_t kFileTypeNotKeyed = 2;
constexpr int kHeaderGranule = 0x800;
// Constants shared by every BDE-written level-5 table (format notes 2.6).
constexpr uint8_t kChangeCount1 = 2;
constexpr uint8_t kChangeCount2 = 1;
constexpr int kHdrChangeCount1 = 0x2D;
constexpr int kHdrChangeCount2 = 0x2E;
constexpr int kHdrMaxBlocks = 0x3A;
constexpr int kHdrUnknown3E = 0x3E;
constexpr int kHdrUnknown56 = 0x56;
constexpr int kHdrFileVersion2 = 0x58;
constexpr int kHdrFileVersion3 = 0x5A;
constexpr int kHdrUpdateTime = 0x60;
constexpr int kHdrHiFieldId = 0x64;
constexpr int kHdrUnknown6C = 0x6C;
constexpr int kHdrChangeCount4 = 0x70;

void Put16(std::string& h, int at, uint16_t v) {
  StoreLe16(reinterpret_cast<unsigned char*>(&h[static_cast<size_t>(at)]), v);
}
void Put32(std::string& h, int at, uint32_t v) {
  StoreLe32(reinterpret_cast<unsigned char*>(&h[static_cast<size_t>(at)]), v);
}

// Items 1-5, 7 and 8 of the variable part; returns the offsets the fixed
// part points at (field numbers, sort order name).
void AppendVariablePart(const DbHeader& d, std::string& h, size_t& numbers_at, size_t& sort_at) {
  const size_t n = d.fields.size();
  for (const FieldInfo& f : d.fields) {
    h.push_back(static_cast<char>(f.type));
    h.push_back(static_cast<char>(f.type == FieldType::kBcd ? f.scale : f.size));
  }
  h.append(4 + 4 * n, '\0');  // run-time pointers Paradox ignores
  std::string name = d.table_name.substr(0, kTableNameLen - 1);
  name.resize(kTableNameLen, '\0');
  h += name;
  for (const std::string& field_name : d.field_names) {
    h += field_name;
    h.push_back('\0');
  }
  numbers_at = h.size();
  for (size_t i = 1; i <= n; ++i) {
    h.push_back(static_cast<char>(i & 0xFF));
    h.push_back(static_cast<char>(i >> 8));
  }
  sort_at = h.size();
  h += SortOrderFor(d.code_page, d.fields, d.key_fields).name;
  h.push_back('\0');
}

}  // namespace

SortOrder SortOrderFor(int code_page) {
  const LanguageDriver d = LanguageDriverFor(code_page);
  return {d.sort_byte, d.name};
}

namespace {

bool HasTextKey(const std::vector<FieldInfo>& fields, int key_fields) {
  for (int i = 0; i < key_fields && i < static_cast<int>(fields.size()); ++i) {
    if (fields[static_cast<size_t>(i)].type == FieldType::kAlpha) return true;
  }
  return false;
}

}  // namespace

std::optional<SortOrder> ByteOrderFor(int code_page) {
  if (code_page == 1252) return SortOrder{0x4C, "DBWINUS0"};
  if (code_page == 437) return SortOrder{0x00, "ascii"};
  const SortOrder own = SortOrderFor(code_page);
  if (std::string_view(own.name) == "ascii") return own;
  return std::nullopt;
}

SortOrder SortOrderFor(int code_page, const std::vector<FieldInfo>& fields, int key_fields) {
  if (HasTextKey(fields, key_fields)) {
    if (auto bytes = ByteOrderFor(code_page)) return *bytes;
  }
  return SortOrderFor(code_page);
}

Status CheckKeyFields(const std::vector<FieldInfo>& fields, int key_fields, int code_page) {
  if (key_fields < 0 || key_fields > static_cast<int>(fields.size())) {
    return Status::InvalidArgument("a key of " + std::to_string(key_fields) + " fields for " +
                                   std::to_string(fields.size()) + " fields");
  }
  for (int i = 0; i < key_fields; ++i) {
    const FieldInfo& f = fields[static_cast<size_t>(i)];
    if (IsBlobType(f.type) || f.type == FieldType::kBytes) {
      return Status::InvalidArgument("field \"" + f.name + "\" (" + TypeLabel(f.type) +
                                     ") cannot be a key field");
    }
    // Records go in the order of their key bytes; a driver that collates
    // text otherwise would find them out of order.
    if (f.type == FieldType::kAlpha && !ByteOrderFor(code_page)) {
      return Status::InvalidArgument("text field \"" + f.name + "\" cannot be a key in code page " +
                                     std::to_string(code_page) +
                                     ": no Paradox language driver known for it sorts text by "
                                     "byte value");
    }
  }
  return Status::Ok();
}

int RecordSize(const std::vector<FieldInfo>& fields) {
  int size = 0;
  for (const FieldInfo& f : fields) size += f.size;
  return size;
}

std::string EncodeDbHeader(const DbHeader& d) {
  std::string h(kHdrExtendedEnd, '\0');
  size_t numbers_at = 0, sort_at = 0;
  AppendVariablePart(d, h, numbers_at, sort_at);
  const size_t real_size = h.size();
  // Like pxlib, a header that exactly fills its blocks gets one more.
  const size_t size = (real_size / kHeaderGranule + 1) * kHeaderGranule;
  h.resize(size, '\0');

  const uint16_t n = static_cast<uint16_t>(d.fields.size());
  const bool empty = d.blocks == 0;
  Put16(h, kHdrRecordSize, static_cast<uint16_t>(RecordSize(d.fields)));
  Put16(h, kHdrHeaderSize, static_cast<uint16_t>(size));
  h[kHdrFileType] = static_cast<char>(d.key_fields > 0 ? kFileTypeKeyed : kFileTypeNotKeyed);
  h[kHdrBlockSizeKiB] = static_cast<char>(d.block_size_kib);
  Put32(h, kHdrRecordCount, d.record_count);
  Put16(h, kHdrUsedBlocks, d.blocks);
  Put16(h, kHdrFileBlocks, d.blocks);
  Put16(h, kHdrFirstBlock, empty ? 0 : 1);
  Put16(h, kHdrLastBlock, d.blocks);
  Put16(h, kHdrFieldCount, n);
  Put16(h, kHdrKeyFieldCount, static_cast<uint16_t>(d.key_fields));
  Put32(h, kHdrEncryption1, kEncryptionMarker);
  h[kHdrSortOrder] = static_cast<char>(SortOrderFor(d.code_page, d.fields, d.key_fields).code);
  h[kHdrChangeCount1] = static_cast<char>(kChangeCount1);
  h[kHdrChangeCount2] = static_cast<char>(kChangeCount2);
  h[kHdrVersion] = static_cast<char>(kVersionLevel5);
  Put16(h, kHdrMaxBlocks, d.blocks);
  h[kHdrUnknown3E] = 0x1F;
  h[kHdrUnknown3E + 1] = 0x0F;
  Put32(h, kHdrAutoIncrement, d.auto_increment);
  Put16(h, kHdrRealHeaderSize, static_cast<uint16_t>(real_size));
  h[kHdrUnknown56] = 0x20;
  Put16(h, kHdrFileVersion2, 0x0100 | kVersionLevel5);
  Put16(h, kHdrFileVersion3, 0x0100 | kVersionLevel5);
  Put32(h, kHdrUpdateTime, d.update_time);
  Put16(h, kHdrHiFieldId, static_cast<uint16_t>(n + 1));
  Put16(h, kHdrFieldNumbersRel, static_cast<uint16_t>(numbers_at - kHdrFixedEnd));
  Put16(h, kHdrCodePage, static_cast<uint16_t>(d.code_page));
  h[kHdrUnknown6C] = 0x01;
  h[kHdrUnknown6C + 1] = 0x01;
  Put16(h, kHdrSortIdRel, static_cast<uint16_t>(sort_at - kHdrFixedEnd));
  Put16(h, kHdrChangeCount4, 1);
  return h;
}

}  // namespace corvane::paradox
