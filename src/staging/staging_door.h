// Typed calls into the staging connection, for callers that need more than
// a statement's text can carry.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"
#include "connection/connection.h"
#include "paradox/format.h"
#include "staging/staging_statements.h"

namespace corvane::staging {

// How the export picks a column's field when none is kept for it: the
// staging type words, and for text whose type is kept, Alpha or Memo
// (never Logical).
enum class ColumnWord { kVarchar, kDecimal, kInt, kOleObject, kMemo, kDateTime, kFloat, kAlphaMemo };

// The word of its text ("VARCHAR", ...); kVarchar for any other.
ColumnWord ColumnWordOf(std::string_view text);

// A column of a staging table about to be created.
struct StagingColumn {
  std::string name;
  ColumnWord word = ColumnWord::kVarchar;
  // "Keep field types and keys": the field the source's type names, which
  // the export keeps where it holds every value (Alpha and the blobs with
  // their size, BCD with its scale).
  std::optional<paradox::FieldInfo> kept;
  // A kept Autoincrement: the last value handed out, which becomes the
  // table's counter; 0 for none.
  uint32_t counter = 0;
  int key = 0;  // 1-based place in the key, 0 outside it
};

// The word that names the column's type in the CREATE TABLE text a dialog
// quotes ("VARCHAR", "ALPHA(20)", "AUTOINC(44)"), without its key place.
std::string ColumnWordText(const StagingColumn& column);

// Creates staging table `table` (dropping nothing: see DROP TABLE), as
// CREATE TABLE with these columns and their key would. Fails on a
// connection that is not a staging connection.
Status CreateTable(Connection& staging, const std::string& table,
                   const std::vector<StagingColumn>& columns);

// What an export did beyond writing the table.
struct ExportResult {
  std::string note;  // why a key was left off, or empty
};

// Exports as the statement text would, with `e.may_replace` honoured.
// Fails on a connection that is not a staging connection.
Result<ExportResult> Export(Connection& staging, const ExportStatement& e);

}  // namespace corvane::staging
