// How the command line names PostgreSQL tables. A table of the schema a
// bare name is created in (the first of the search path) goes by its bare
// name; any other by schema.table. A part holding a dot (or starting with
// a double quote) is written between double quotes with quotes doubled, as
// in SQL, so the table "a.b" and the table b of schema a stay two names.
#pragma once

#include <string>
#include <vector>

#include "base/status.h"
#include "ui/surfaces.h"

namespace corvane::cli {

// PostgreSQL's own schemas: pg_catalog, information_schema, pg_toast*,
// pg_temp* (no user schema may start with "pg_").
bool IsSystemSchema(const std::string& schema);

// The name `tables --postgres` prints for a table and the copy commands
// accept back.
std::string CommandLineName(const std::string& schema, const std::string& table,
                            const std::string& first_schema);
// The same for the entry at `index` of a PostgreSQL list.
std::string CommandLineName(const ui::TableList& list, int index, const std::string& first_schema);

// The entry of `list` that `typed` means: "table", "schema.table", with
// either part quoted. A bare name held by several schemas means the first
// schema's table; otherwise it is refused (kInvalidArgument, naming the
// candidates). An unquoted name with a dot is read as schema.table, and as
// one table's whole name only when no such table exists. With `ignore_case`,
// a name without an exact match may match one entry ignoring case.
// kNotFound when nothing matches.
Result<int> FindPostgresEntry(const ui::TableList& list, const std::string& typed,
                              const std::string& first_schema, bool ignore_case);

}  // namespace corvane::cli
