// Outline: list the table's family, read each .val and .x file whole
// (after checking its size, so a hostile size reserves nothing), decode it,
// and turn every failure into one problem line.
#include "paradox/table_rules.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "base/ascii.h"
#include "paradox/companion_files.h"
#include "paradox/file_io.h"

namespace corvane::paradox {
namespace {

namespace fs = std::filesystem;

bool IsHex(char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }

// The first `limit` bytes of `path` at most; `size` is the file's size.
Result<std::string> ReadHead(const std::string& path, uint64_t limit, uint64_t& size) {
  ReadOnlyFile file;
  if (Status s = file.Open(path); !s.ok()) return s;
  size = file.size();
  std::string bytes(static_cast<size_t>(std::min(limit, size)), '\0');
  if (Status s = file.ReadExactly(0, bytes.size(), bytes.data()); !s.ok()) return s;
  return bytes;
}

Result<Validity> ReadValidity(const std::string& path, const TableInfo& info) {
  uint64_t size = 0;
  Result<std::string> bytes = ReadHead(path, kMaxValiditySize + 1, size);
  if (!bytes.ok()) return bytes.status();
  if (size > kMaxValiditySize) {
    return Status::Corruption(path + ": " + std::to_string(size) +
                              " bytes is too large for a validity file");
  }
  return DecodeValidity(*bytes, info, path);
}

Result<SecondaryIndex> ReadIndex(const std::string& path, const TableInfo& info) {
  uint64_t size = 0;
  Result<std::string> probe = ReadHead(path, kHdrFixedEnd, size);
  if (!probe.ok()) return probe.status();
  if (probe->size() < kHdrFixedEnd)
    return Status::Corruption(path + ": too short for an index file");
  const uint16_t header_size =
      LoadLe16(reinterpret_cast<const unsigned char*>(probe->data()) + kHdrHeaderSize);
  Result<std::string> header = ReadHead(path, header_size, size);
  if (!header.ok()) return header.status();
  return DecodeSecondaryIndex(*header, size, info, path);
}

}  // namespace

bool IsSecondaryIndexExtension(const std::string& extension) {
  const std::string e = AsciiLowerCase(extension);
  if (e.size() == 4 && e[1] == 'x' && e[2] == 'g' && IsHex(e[3])) return true;
  return e.size() == 4 && e[1] == 'x' && IsHex(e[2]) && IsHex(e[3]);
}

TableRules ReadTableRules(const TableInfo& info) {
  TableRules rules;
  const fs::path table(info.path);
  // The table's own family: beside a.db, A.VAL is A.DB's when that exists.
  Result<TableFamily> family = FindTable(table.parent_path(), table.stem().string());
  const std::vector<fs::path> companions =
      family.ok() && family->table_file.filename() == table.filename()
          ? family->companions
          : CompanionFiles(table.parent_path(), table.stem().string());
  for (const fs::path& file : companions) {
    const std::string ext = file.extension().string();
    if (AsciiLowerCase(ext) == ".val") {
      Result<Validity> v = ReadValidity(file.string(), info);
      if (!v.ok()) {
        rules.problems.push_back(v.status().message() + "; skipped");
      } else if (rules.validity) {
        rules.problems.push_back(file.string() + ": a second validity file; skipped");
      } else {
        rules.validity = std::move(*v);
      }
    } else if (IsSecondaryIndexExtension(ext)) {
      Result<SecondaryIndex> index = ReadIndex(file.string(), info);
      if (index.ok()) {
        rules.indexes.push_back(std::move(*index));
      } else {
        rules.problems.push_back(index.status().message() + "; skipped");
      }
    }
  }
  return rules;
}

}  // namespace corvane::paradox
