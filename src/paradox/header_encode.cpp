#include "paradox/header_encode.h"

#include <algorithm>
#include <cstring>

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
  switch (code_page) {
    case 1252:
      return {0x62, "ANSIINTL"};
    case 1251:
      return {0x8F, "ancyrr"};
    case 1250:
      return {0xDC, "anczech"};
    case 437:
      return {0xB7, "intl"};
    case 850:
      return {0x54, "intl850"};
    case 865:
      return {0x82, "nordan"};
    case 866:
      return {0xC0, "cyrr"};
    case 936:
      return {0x03, "china"};
    default:
      return {0x00, "ascii"};  // the code page field still names the encoding
  }
}

SortOrder SortOrderFor(int code_page, const std::vector<FieldInfo>& fields, int key_fields) {
  bool text_key = false;
  for (int i = 0; i < key_fields && i < static_cast<int>(fields.size()); ++i) {
    text_key |= fields[static_cast<size_t>(i)].type == FieldType::kAlpha;
  }
  if (text_key && code_page == 1252) return {0x4C, "DBWINUS0"};
  if (text_key && code_page == 437) return {0x00, "ascii"};
  return SortOrderFor(code_page);
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
