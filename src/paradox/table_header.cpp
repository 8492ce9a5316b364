// Header outline: fixed part (0x00-0x57), the extension (0x58-0x77) from
// level 4 on, then field descriptors, pointers, the table-name area and the
// field names; level 4+ adds field numbers and the sort-order name, found
// through the offsets stored at 0x66 and 0x6E.
#include "paradox/table_header.h"

#include <cctype>
#include <cstdio>

#include "base/ascii.h"
#include "paradox/code_page.h"

namespace corvane::paradox {

namespace {

struct Reader {
  std::string_view bytes;
  const std::string& path;
  const unsigned char* at(size_t off) const {
    return reinterpret_cast<const unsigned char*>(bytes.data()) + off;
  }
  bool Has(size_t off, size_t n) const { return off <= bytes.size() && n <= bytes.size() - off; }
};

Status Bad(const std::string& path, const std::string& what) {
  return Status::Corruption(path + ": " + what);
}

std::string Hex(unsigned v) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "0x%02X", v);
  return buf;
}

const char* LevelOf(uint8_t version) {
  if (version == 3) return "3.0";
  if (version == 4) return "3.5";
  if (version >= 5 && version <= 9) return "4";
  if (version == 10 || version == 11) return "5";
  if (version == 12) return "7";
  return nullptr;
}

struct CodePageName {
  const char* name;
  int code_page;
};
// Language-driver names and the code page of their text.
constexpr CodePageName kDriverCodePages[] = {
    {"ascii", 437},     {"intl", 437},      {"intl850", 850},   {"nordan", 865},
    {"nordan40", 865},  {"swedfin", 437},   {"cyrr", 866},      {"ancyrr", 1251},
    {"anczech", 1250},  {"angreek1", 1253}, {"anturk", 1254},   {"china", 936},
    {"DBWINUS0", 1252}, {"DBWINWE0", 1252}, {"DBWINES0", 1252}, {"ANSIINTL", 1252},
    {"ANSII850", 1252}, {"ANSISPAN", 1252}, {"ANSISWFN", 1252}, {"ANSINOR4", 1252},
    {"czech", 852},     {"polish", 852},    {"hun852dc", 852},  {"slovene", 852},
    {"turk", 857},      {"hebrew", 862},    {"grcp437", 737},   {"iceland", 861},
    {"anpolish", 1250}, {"anhundc", 1250},  {"ansislov", 1250}, {"ANHEBREW", 1255},
    {"BLWINAR0", 1256}, {"thai", 874},      {"japan", 932},     {"korea", 949},
    {"taiwan", 950},    {"BLROM800", kRoman8CodePage},
};

struct SortByte {
  uint8_t byte;
  const char* name;
};
// Level 3.x tables name their sort order by a byte only.
constexpr SortByte kSortBytes[] = {{0x00, "ascii"},  {0xB7, "intl"},     {0x54, "intl850"},
                                   {0x82, "nordan"}, {0xE6, "nordan40"}, {0xF0, "swedfin"},
                                   {0xC0, "cyrr"}};

int CodePageOfDriver(std::string_view name) {
  for (const CodePageName& c : kDriverCodePages) {
    if (EqualIgnoringAsciiCase(name, c.name)) return c.code_page;
  }
  // Every driver our writer names reads back, whatever the list above lacks.
  for (int cp : ExportCodePages()) {
    if (EqualIgnoringAsciiCase(name, LanguageDriverFor(cp).name)) return cp;
  }
  return 0;
}

// Level 4+ stores the code page; 3.x and odd files leave it to the sort order.
void ChooseCodePage(int stored, TableInfo& info) {
  if (IsSupportedCodePage(stored)) {
    info.code_page = stored;
    return;
  }
  const int by_driver = CodePageOfDriver(info.sort_order);
  const std::string what =
      stored == 0 ? std::string("the table names no code page")
                  : "the table's code page " + std::to_string(stored) + " is not supported";
  if (IsSupportedCodePage(by_driver)) {
    info.code_page = by_driver;
    info.notes.push_back(what + "; " + std::to_string(by_driver) + " assumed from sort order " +
                         info.sort_order);
    return;
  }
  info.code_page = kDefaultCodePage;
  info.notes.push_back(what + "; " + std::to_string(kDefaultCodePage) + " assumed");
}

std::string SortOrderOfByte(uint8_t b) {
  for (const SortByte& s : kSortBytes) {
    if (s.byte == b) return s.name;
  }
  return Hex(b);
}

// NUL-terminated string at `off`, at most up to the end of `r`.
std::string_view CString(const Reader& r, size_t off) {
  if (off >= r.bytes.size()) return {};
  const std::string_view rest = r.bytes.substr(off);
  return rest.substr(0, rest.find('\0'));
}

uint32_t EncryptionKey(const Reader& r, bool extended) {
  const uint32_t first = LoadLe32(r.at(kHdrEncryption1));
  if (extended && first == kEncryptionMarker) return LoadLe32(r.at(kHdrEncryption2));
  return first;
}

// Fixed size in the record of each type whose size byte is not free.
int FixedSize(FieldType t) {
  switch (t) {
    case FieldType::kLogical:
      return 1;
    case FieldType::kShort:
      return 2;
    case FieldType::kDate:
    case FieldType::kLong:
    case FieldType::kTime:
    case FieldType::kAutoIncrement:
      return 4;
    case FieldType::kMoney:
    case FieldType::kNumber:
    case FieldType::kTimestamp:
      return 8;
    default:
      return 0;
  }
}

Status DecodeDescriptor(const Reader& r, int i, size_t off, FieldInfo& f) {
  const uint8_t code = *r.at(off);
  const int size = *r.at(off + 1);
  const std::string which = "field " + std::to_string(i + 1);
  if (!IsKnownFieldType(code))
    return Bad(r.path, which + " has the unknown type code " + Hex(code));
  f.type = static_cast<FieldType>(code);
  f.size = size;
  f.scale = 0;
  if (f.type == FieldType::kBcd) {
    if (size > kBcdDigits)
      return Bad(r.path, which + " is BCD with " + std::to_string(size) + " decimals");
    f.scale = size;
    f.size = kBcdBytes;
  } else if (IsBlobType(f.type) ? size < kBlobRefSize : size == 0) {
    return Bad(r.path, which + " has the impossible size " + std::to_string(size));
  } else if (FixedSize(f.type) != 0 && FixedSize(f.type) != size) {
    return Bad(r.path, which + " (" + TypeLabel(f.type) + ") has size " + std::to_string(size));
  }
  return Status::Ok();
}

Status DecodeFields(const Reader& r, bool extended, TableInfo& info) {
  const int n = LoadLe16(r.at(kHdrFieldCount));
  if (n < 1 || n > 255) return Bad(r.path, "the header gives " + std::to_string(n) + " fields");
  size_t off = extended ? kHdrExtendedEnd : kHdrFixedEnd;
  if (!r.Has(off, 2 * n)) return Bad(r.path, "the header ends inside the field list");
  info.fields.resize(n);
  int total = 0;
  for (int i = 0; i < n; ++i) {
    CORVANE_RETURN_IF_ERROR(DecodeDescriptor(r, i, off + 2 * i, info.fields[i]));
    total += info.fields[i].size;
  }
  if (total != info.record_size) {
    return Bad(r.path, "the fields take " + std::to_string(total) + " bytes but a record has " +
                           std::to_string(info.record_size));
  }
  off += 2 * n + 4 + 4 * n + (info.version_byte >= kVersionLevel7 ? kTableNameLen7 : kTableNameLen);
  for (int i = 0; i < n; ++i) {
    if (!r.Has(off, 1)) return Bad(r.path, "the header ends inside the field names");
    const std::string_view name = CString(r, off);
    if (off + name.size() >= r.bytes.size())
      return Bad(r.path, "the header ends inside the field names");
    Result<std::string> utf8 = ToUtf8(name, info.code_page);
    if (!utf8.ok()) return Bad(r.path, utf8.status().message());
    info.fields[i].name = std::move(utf8).value();
    off += name.size() + 1;
  }
  if (!extended || !r.Has(kHdrExtendedEnd, 0)) return Status::Ok();
  const size_t numbers = kHdrFixedEnd + size_t{LoadLe16(r.at(kHdrFieldNumbersRel))};
  if (r.Has(numbers, 2 * static_cast<size_t>(n))) {
    for (int i = 0; i < n; ++i) info.field_numbers.push_back(LoadLe16(r.at(numbers + 2 * i)));
  }
  return Status::Ok();
}

Status DecodeGeometry(const Reader& r, uint64_t file_size, TableHeader& h) {
  TableInfo& info = h.info;
  info.record_size = LoadLe16(r.at(kHdrRecordSize));
  info.header_size = LoadLe16(r.at(kHdrHeaderSize));
  info.block_size = *r.at(kHdrBlockSizeKiB) * 1024;
  info.record_count = LoadLe32(r.at(kHdrRecordCount));
  h.used_blocks = LoadLe16(r.at(kHdrUsedBlocks));
  h.file_blocks = LoadLe16(r.at(kHdrFileBlocks));
  h.first_block = LoadLe16(r.at(kHdrFirstBlock));
  if (info.header_size < kHdrFixedEnd) return Bad(r.path, "the header size is too small");
  if (static_cast<uint64_t>(info.header_size) > file_size)
    return Bad(r.path, "the file is shorter than its header");
  if (info.block_size < 1024 || info.block_size > 32 * 1024) {
    return Bad(r.path,
               "the block size byte " + std::to_string(info.block_size / 1024) + " is invalid");
  }
  if (info.record_size < 1 || info.record_size > info.block_size - kBlockHeaderSize) {
    return Bad(r.path, "the record size " + std::to_string(info.record_size) +
                           " does not fit its blocks of " + std::to_string(info.block_size));
  }
  return Status::Ok();
}

Status DecodeKind(const Reader& r, TableInfo& info) {
  info.version_byte = *r.at(kHdrVersion);
  const char* level = LevelOf(info.version_byte);
  if (!level)
    return Bad(r.path, "not a Paradox table (version byte " + Hex(info.version_byte) + ")");
  info.level = level;
  info.file_type = *r.at(kHdrFileType);
  if (info.file_type != 0 && info.file_type != 2) {
    return Bad(r.path, "not a Paradox table but an index or other file (file type " +
                           std::to_string(info.file_type) + ")");
  }
  info.keyed = info.file_type == 0;
  return Status::Ok();
}

void DecodeCodePage(const Reader& r, bool extended, TableInfo& info) {
  int stored = 0;
  if (extended && r.Has(kHdrExtendedEnd, 0)) {
    stored = LoadLe16(r.at(kHdrCodePage));
    info.sort_order = std::string(CString(r, kHdrFixedEnd + LoadLe16(r.at(kHdrSortIdRel))));
  } else {
    info.sort_order = SortOrderOfByte(*r.at(kHdrSortOrder));
  }
  ChooseCodePage(stored, info);
}

}  // namespace

Result<TableHeader> DecodeTableHeader(std::string_view header, uint64_t file_size,
                                      const std::string& path) {
  const Reader r{header, path};
  if (!r.Has(0, kHdrFixedEnd)) return Bad(path, "the file is too short to be a Paradox table");
  TableHeader h;
  h.info.path = path;
  CORVANE_RETURN_IF_ERROR(DecodeKind(r, h.info));
  CORVANE_RETURN_IF_ERROR(DecodeGeometry(r, file_size, h));
  const bool extended = h.info.version_byte >= kFirstExtendedVersion;
  if (extended && !r.Has(0, kHdrExtendedEnd)) return Bad(path, "the header is cut short");
  h.encryption_key = EncryptionKey(r, extended);
  h.info.encrypted = h.encryption_key != 0;
  if (h.info.keyed) h.info.key_fields = LoadLe16(r.at(kHdrKeyFieldCount));
  h.info.auto_increment = LoadLe32(r.at(kHdrAutoIncrement));
  DecodeCodePage(r, extended, h.info);
  CORVANE_RETURN_IF_ERROR(DecodeFields(r, extended, h.info));
  return h;
}

}  // namespace corvane::paradox
