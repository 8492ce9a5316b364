// The rule files a new table gets beside it: its validity checks (.val)
// and secondary indexes (.xNN/.yNN, .xgN/.ygN), asked for by field name and
// fitted to the table as written. A rule the table cannot hold is left off
// with a line saying why; the table never fails for it.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/status.h"
#include "paradox/format.h"
#include "paradox/secondary_index_writer.h"

namespace corvane::paradox {

// Values in the fixed text form of the field (as cells are given).
struct NamedFieldRule {
  std::string field;
  bool required = false;
  std::optional<std::string> minimum, maximum, default_value;
  std::string picture;  // "" for none
};

struct NamedIndex {
  std::string name;  // kept for composite files
  std::vector<std::string> fields;
  bool case_insensitive = false;
  bool unique = false;
  bool descending = false;
};

struct RulesToWrite {
  std::vector<NamedFieldRule> fields;
  std::vector<NamedIndex> indexes;
  bool empty() const { return fields.empty() && indexes.empty(); }
};

// Takes one finished file: its extension (".VAL", ".X02", ".YG0", upper
// case) and bytes. Files are handed over one at a time, so only one index
// is held at once.
using RuleFileSink = std::function<Status(const std::string& extension, const std::string& bytes)>;

// Encodes the files for `rules` on `table` (as our writer made it:
// info.path its .db) and hands each to `put`. Field names match ignoring
// case. Returns one line per rule left off, naming it and why; fails only
// when `records` or `put` does.
Result<std::vector<std::string>> EncodeRuleFiles(const TableInfo& table, const RulesToWrite& rules,
                                                 const RecordWalk& records,
                                                 const RuleFileSink& put);

}  // namespace corvane::paradox
