// Reads a whole table into memory for comparison in tests.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "base/status.h"
#include "paradox/table_reader.h"

namespace corvane::paradox::testing {

using Row = std::vector<std::optional<std::string>>;  // nullopt = NULL
inline const std::optional<std::string> kNull;

inline Result<std::vector<Row>> ReadAll(const std::string& path) {
  Result<std::unique_ptr<TableReader>> r = TableReader::Open(path);
  if (!r.ok()) return r.status();
  std::vector<Row> rows;
  std::vector<Cell> cells;
  for (;;) {
    Result<bool> more = (*r)->Next(cells);
    if (!more.ok()) return more.status();
    if (!*more) break;
    Row row;
    for (const Cell& c : cells) row.push_back(c.null ? kNull : std::optional(c.text));
    rows.push_back(std::move(row));
  }
  return rows;
}

}  // namespace corvane::paradox::testing
