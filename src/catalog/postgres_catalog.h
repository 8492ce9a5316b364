// The PostgreSQL catalog.
#pragma once

#include <functional>

#include "base/status.h"
#include "connection/connection_strings.h"
#include "ui/surfaces.h"

namespace corvane::catalog {

// Opens and drops a connection with the login; false on any failure, silently.
// `while_waiting` (if set) is served while the server answers.
bool TestPostgreSQLConnection(const ConnectionSettings& settings,
                              const std::function<void()>& while_waiting = {});

// Clears `list` and adds every table of pg_tables, each entry keeping its
// schema (every schema, the system catalogs too; a name in two schemas twice),
// serving `pump` per row. Errors (open, query, row) are returned: one before
// the rows leaves `list` as it was; one during them keeps the names added.
Status ListPostgreSQLTables(const ConnectionSettings& settings, ui::TableList& list,
                            ui::EventPump& pump);

// The schema a bare table name is created in: the first schema of the
// search path that exists ("" when none does).
Result<std::string> PostgresFirstSchema(const ConnectionSettings& settings);

}  // namespace corvane::catalog
