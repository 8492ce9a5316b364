// Writing a table's validity checks (.val) in the layout the reader takes:
// required, minimum, maximum, default and picture per field. Level 3
// tables get the records-only layout; later levels the footer that names
// the fields by number, type and name, and an empty reference section.
#pragma once

#include <string>
#include <vector>

#include "base/status.h"
#include "paradox/format.h"
#include "paradox/validity.h"

namespace corvane::paradox {

// The .val bytes for `rules` on `table` (as written; its version byte, code
// page and field numbers decide the layout). Values are in the fixed text
// form of the field; a value the field cannot hold, a bound on a blob field
// or a rule naming no field of the table is refused (InvalidArgument)
// naming the field. Rules that ask for nothing are left out; no rules at
// all give an empty string, meaning no file.
Result<std::string> EncodeValidity(const TableInfo& table, const std::vector<FieldRule>& rules);

}  // namespace corvane::paradox
