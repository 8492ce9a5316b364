// The rule files a new table gets beside it: its validity checks (.val)
// and secondary indexes (.xNN/.yNN, .xgN/.ygN), asked for by field name and
// fitted to the table as written. A rule the table cannot hold is left off
// with a line saying why; the table never fails for it.
#pragma once

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

struct RuleFile {
  std::string extension;  // ".VAL", ".X02", ".YG0" (upper case)
  std::string bytes;
};

struct RuleFiles {
  std::vector<RuleFile> files;
  std::vector<std::string> left_off;  // one line per rule left off, naming it and why
};

// The files for `rules` on `table` (as our writer made it: info.path its
// .db). Field names match ignoring case. Fails only when `records` does.
Result<RuleFiles> EncodeRuleFiles(const TableInfo& table, const RulesToWrite& rules,
                                  const RecordWalk& records);

}  // namespace corvane::paradox
