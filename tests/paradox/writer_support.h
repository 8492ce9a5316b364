// Helpers for the writer tests: a scratch folder, and reading a table back
// with our reader and with pxlib (an implementation independent of ours).
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "paradox/format.h"
#include "support/temp_folder.h"

namespace corvane::paradox::testing {

using Rows = std::vector<std::vector<Cell>>;

// The tests' temporary folder, with the writer tests' two questions on it.
class ScratchFolder : public ::corvane::testing::TempFolder {
 public:
  ScratchFolder() : TempFolder("corvane-writer") {}
  std::string File(const std::string& name) const { return (path() / name).string(); }
  // Names of the entries, sorted.
  std::vector<std::string> Entries() const;
};

struct ReadBack {
  std::string error;  // empty on success
  TableInfo info;     // ours only
  Rows rows;
};

ReadBack ReadWithOurReader(const std::string& db_path);

// pxlib's view of a table without blob fields (Debian's pxlib aborts on
// .mb files). Values are rendered by pxlib's decoders (dates through its
// own calendar) into the same text forms our reader uses.
struct PxReadBack {
  std::string error;
  int version = 0;
  int record_size = 0;
  int code_page = 0;
  std::vector<FieldInfo> fields;  // size = pxlib's length (BCD: decimals)
  Rows rows;
};
PxReadBack ReadWithPxlib(const std::string& db_path);

// Makes `db_path` with pxlib, without rows, for header comparisons.
std::string CreateWithPxlib(const std::string& db_path, const std::vector<FieldInfo>& fields);

Cell Null();
Cell Text(std::string text);

}  // namespace corvane::paradox::testing
