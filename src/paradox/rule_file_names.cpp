// Where the name is: a .val keeps it in its footer (u32 offset at 0x09: a
// u16 field count n, 4 bytes, n field numbers, n type/size pairs, then the
// name area, then n field names that end the file); an index file in its
// header's variable part (n descriptors, a pointer, for .x files n name
// pointers, then the name area). The area is 79 bytes, 261 from level 7.
#include "paradox/rule_file_names.h"

#include "paradox/byte_cursor.h"
#include "paradox/code_page.h"
#include "paradox/companion_files.h"
#include "paradox/file_io.h"
#include "paradox/format.h"
#include "paradox/table_reader.h"
#include "paradox/table_rules.h"
#include "paradox/temp_file.h"

namespace corvane::paradox {
namespace {

constexpr uint8_t kValidityLevel3 = 0x01;
constexpr int kValFooter = 0x09;
constexpr int kFooterNumbers = 6;
// An index file is read whole to be rewritten; one of a table of 65535
// blocks of 32 KiB stays far below this.
constexpr uint64_t kMaxIndexFileSize = uint64_t{1} << 31;

// Whether `count` NUL-terminated names from `at` end `bytes` exactly.
bool NamesEndFile(std::string_view bytes, size_t at, int count) {
  ByteCursor c(bytes);
  if (!c.Seek(at)) return false;
  std::string_view name;
  for (int i = 0; i < count; ++i) {
    if (!c.NextCString(name)) return false;
  }
  return c.pos() == c.size();
}

Result<std::string> Replaced(std::string_view bytes, size_t at, size_t area,
                             const std::string& stem) {
  std::string out(bytes);
  const std::string old = std::string(ByteCursor(bytes).CString(at, area));
  const size_t base = old.find_last_of("\\/:") == std::string::npos ? 0 : old.find_last_of("\\/:") + 1;
  const size_t dot = old.rfind('.');
  const size_t end = dot == std::string::npos || dot < base ? old.size() : dot;
  const std::string name = old.substr(0, base) + stem + old.substr(end);
  if (name.size() + 1 > area) return Status::InvalidArgument("the new name does not fit");
  out.replace(at, area, std::string(area, '\0'));
  out.replace(at, name.size(), name);
  return out;
}

Result<size_t> ValidityNameArea(std::string_view bytes, size_t& area) {
  ByteCursor c(bytes);
  if (!c.Has(0, kValFooter + 4) || c.U8(1) == kValidityLevel3) {
    return Status::NotSupported("no table name is stored");
  }
  const size_t footer = c.U32(kValFooter);
  if (!c.Has(footer, kFooterNumbers)) return Status::NotSupported("the footer is out of range");
  const int n = c.U16(footer);
  const size_t name_at = footer + kFooterNumbers + 4 * static_cast<size_t>(n);
  for (int a : {kTableNameLen, kTableNameLen7}) {
    if (NamesEndFile(bytes, name_at + static_cast<size_t>(a), n)) {
      area = static_cast<size_t>(a);
      return name_at;
    }
  }
  return Status::NotSupported("the footer is not recognised");
}

Result<size_t> IndexNameArea(std::string_view bytes, size_t& area) {
  ByteCursor c(bytes);
  if (!c.Has(0, kHdrExtendedEnd)) return Status::NotSupported("too short for an index file");
  const uint8_t type = c.U8(kHdrFileType);
  const bool x_file = type == 3 || type == 5 || type == 6 || type == 8;
  if (!x_file && type != 4 && type != 7) return Status::NotSupported("not an index file");
  const uint8_t version = c.U8(kHdrVersion);
  const size_t n = c.U16(kHdrFieldCount);
  const size_t start = x_file && version >= kFirstExtendedVersion ? kHdrExtendedEnd : kHdrFixedEnd;
  area = version == kVersionLevel7 ? kTableNameLen7 : kTableNameLen;
  const size_t at = start + 2 * n + 4 + (x_file ? 4 * n : 0);
  if (!c.Has(at, area) || at + area > c.U16(kHdrHeaderSize)) {
    return Status::NotSupported("the header is cut short");
  }
  return at;
}

}  // namespace

Result<std::string> WithStoredTableName(std::string_view bytes, bool validity,
                                        const std::string& stem) {
  size_t area = 0;
  Result<size_t> at = validity ? ValidityNameArea(bytes, area) : IndexNameArea(bytes, area);
  if (!at.ok()) return at.status();
  return Replaced(bytes, *at, area, stem);
}

std::vector<std::string> StoreTableNameInRuleFiles(const std::filesystem::path& db_path) {
  std::vector<std::string> problems;
  bool rewrote = false;
  Result<TableInfo> info = TableReader::ReadInfo(db_path.string());
  const std::string stem = db_path.stem().string();
  Result<std::string> raw = FromUtf8(stem, info.ok() ? info->code_page : 1252);
  for (const std::filesystem::path& file : CompanionFiles(db_path.parent_path(), stem)) {
    const std::string ext = file.extension().string();
    const bool validity = ext.size() == 4 && SameNameIgnoringCase(ext, ".val");
    std::string y_as_x = ext;
    if (y_as_x.size() > 1 && (y_as_x[1] == 'y' || y_as_x[1] == 'Y')) y_as_x[1] = 'x';
    if (!validity && !IsSecondaryIndexExtension(y_as_x)) continue;
    auto fail = [&](const std::string& why) {
      problems.push_back(file.filename().string() + ": " + why);
    };
    if (!raw.ok()) return {stem + ": the name has no form in the table's code page"};
    ReadOnlyFile in;
    Status st = in.Open(file.string());
    std::string bytes;
    if (st.ok() && in.size() > (validity ? kMaxValiditySize : kMaxIndexFileSize)) {
      fail("too large to rewrite");
      continue;
    }
    if (st.ok()) {
      bytes.resize(static_cast<size_t>(in.size()));
      st = in.ReadExactly(0, bytes.size(), bytes.data());
    }
    if (!st.ok()) {
      fail(st.message());
      continue;
    }
    Result<std::string> renamed = WithStoredTableName(bytes, validity, *raw);
    if (!renamed.ok()) {
      if (renamed.status().code() != Status::Code::kNotSupported) fail(renamed.status().message());
      continue;
    }
    if (*renamed == bytes) continue;
    auto out = TempFile::Create(file);
    if (out.ok()) st = (*out)->WriteAt(0, renamed->data(), renamed->size());
    if (out.ok() && st.ok()) st = (*out)->Sync();
    if (out.ok() && st.ok()) st = (*out)->Publish(file, true);
    if (!out.ok() || !st.ok()) fail(out.ok() ? st.message() : out.status().message());
    rewrote = rewrote || (out.ok() && st.ok());
  }
  if (rewrote) (void)SyncFolder(db_path.parent_path());
  return problems;
}

}  // namespace corvane::paradox
