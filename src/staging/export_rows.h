// How the export reads a staging table: the rows in insert order or in
// key order, and whether the rows can keep their key.
#pragma once

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/ascii.h"
#include "base/row_batches.h"
#include "base/status.h"
#include "paradox/format.h"
#include "staging/staging_db.h"
#include "staging/staging_statements.h"

namespace corvane::staging {

// A row as views into the batch it was read into: its texts are not copied again.
using RowFn = std::function<Status(std::span<const paradox::CellView>)>;

Status Interrupted(const std::string& table);

// How rows are read. Plainly, every column as it is. Where values of a
// megabyte or more may be, each column comes as its value unless it is that
// large (NULL then) and its length, and the rowid last: a large value is
// then read whole through a blob handle, instead of SQLite loading it and
// the reader copying it.
struct RowShape {
  std::vector<std::string> large_columns;  // the columns' names; empty: plainly
  std::string Text() const {
    if (large_columns.empty()) return "t.*";
    std::string out;
    for (const std::string& name : large_columns) {
      const std::string c = "t." + QuoteSqliteName(name);
      out += "iif(length(" + c + ") < " + std::to_string(RowBatch::kLargeValue) + ", " + c +
             ", NULL), length(" + c + "), ";
    }
    return out + "t.rowid";
  }
};

RowShape ShapeFor(const std::vector<ColumnDef>& columns, bool large_values);

// The name a row's number goes by in a table of `names`: each of SQLite's
// names for it yields to a column of that name. "" when columns take all.
template <typename Names>
std::string RowNumberName(const Names& names) {
  for (std::string_view alias : {"rowid", "_rowid_", "oid"}) {
    const bool taken = std::any_of(names.begin(), names.end(), [&](const auto& n) {
      const std::string& name = n.name;
      return std::equal(name.begin(), name.end(), alias.begin(), alias.end(), [](char a, char b) {
        return AsciiLower(a) == b;
      });
    });
    if (!taken) return std::string(alias);
  }
  return "";
}

std::string SelectInInsertOrder(const std::string& table, const std::string& row,
                                const RowShape& shape = {});
std::string SelectInKeyOrder(const std::string& table, const std::string& row,
                             const RowShape& shape);

// The rows' keys in key order, in a scratch database beside the staging
// file. The staging connection keeps temporary tables and sorts in memory,
// which would grow with the table; this stays on disk, and goes when the
// export ends (or, after a crash, when the staging file is next opened).
class KeySort {
 public:
  explicit KeySort(StagingDb& db) : db_(db), path_(KeySortPath(db.path())) {}
  ~KeySort();
  KeySort(const KeySort&) = delete;
  KeySort& operator=(const KeySort&) = delete;

  Status Open();

 private:
  StagingDb& db_;
  std::string path_;
  bool attached_ = false;
};

// Calls `fn` with each row `select` gives, read on a thread of its own
// (see the definition for `order` and `pieces`).
Status ForEachRow(StagingDb& db, const std::string& table, const std::string& select,
                  const RowShape& shape, size_t columns, const std::vector<size_t>& order,
                  bool pieces, const RowFn& fn);

// The columns of the key in key order; empty for a table without one.
std::vector<size_t> KeyColumns(const std::vector<ColumnDef>& columns);

// How the rows stand to their key: why they cannot keep it, or whether
// they are in key order already (else the temporary key table sorts them).
struct KeyOrder {
  std::string why_not;
  bool in_order = false;
};

Result<KeyOrder> SortByKey(StagingDb& db, const std::string& table,
                           const std::vector<paradox::FieldInfo>& fields,
                           const std::vector<size_t>& key, int code_page, KeySort& sort);

}  // namespace corvane::staging
