// The rules a Paradox table keeps beside its records: the validity checks
// and referential integrity of its .val, and its secondary indexes.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "paradox/format.h"
#include "paradox/secondary_index.h"
#include "paradox/validity.h"

namespace corvane::paradox {

struct TableRules {
  std::optional<Validity> validity;
  std::vector<SecondaryIndex> indexes;  // by file name
  // One line per companion file that could not be read, naming it and
  // what is wrong; that file was skipped.
  std::vector<std::string> problems;
};

// Reads the .val and the .xNN/.xgN files that belong to the table `info`
// (as the reader gave it; info.path the .db). Never fails: a missing file
// is no rule, a damaged or unknown one is a problem and is skipped, so the
// rows are never kept from the user by them.
TableRules ReadTableRules(const TableInfo& info);

// True for the extension (with its dot, any case) of a file describing a
// secondary index: .xNN or .xgN with hexadecimal N.
bool IsSecondaryIndexExtension(const std::string& extension);

}  // namespace corvane::paradox
