#include "catalog/postgres_catalog.h"

#include "connection/connection.h"
#include "connection/sql_names.h"
#include "ui/pump.h"

namespace corvane::catalog {

bool TestPostgreSQLConnection(const ConnectionSettings& settings,
                              const std::function<void()>& while_waiting) {
  Connection connection;
  connection.options().serve = while_waiting;
  return connection.Open(PostgresConnectionString(settings)).ok();
}

// Outline: open, run the one query, then clear the list and add every row
// with its schema beside it, serving the pump per row. An error ends the
// work where it happens: before the query has rows the list is untouched;
// during the rows the names added so far stay.
Status ListPostgreSQLTables(const ConnectionSettings& settings, ui::TableList& list,
                            ui::EventPump& pump) {
  Connection connection;
  connection.options().serve = ui::ServeWith(pump);
  CORVANE_RETURN_IF_ERROR(connection.Open(PostgresConnectionString(settings)));
  Result<std::unique_ptr<RecordSet>> rows =
      connection.Execute("select tablename, schemaname from pg_tables;");
  if (!rows.ok()) return rows.status();
  RecordSet& rs = *rows.value();
  list.Clear();
  const int64_t count = rs.RecordCount();
  for (int64_t i = 0; i < count; ++i) {
    pump.Pump();
    // A copy's scratch table is no table of the user's: it is not listed.
    const std::string name = rs.FieldValue(0).text();
    if (ScratchTableOwner(name) == 0) list.AddInSchema(name, rs.FieldValue(1).text());
    CORVANE_RETURN_IF_ERROR(rs.MoveNext());
  }
  rs.Close();
  connection.Close();
  return Status::Ok();
}

Result<std::string> PostgresFirstSchema(const ConnectionSettings& settings) {
  Connection connection;
  CORVANE_RETURN_IF_ERROR(connection.Open(PostgresConnectionString(settings)));
  auto rows = connection.Execute("select current_schema();");
  if (!rows.ok()) return rows.status();
  std::string schema = rows.value()->Eof() ? "" : rows.value()->FieldValue(0).text();
  rows.value()->Close();
  connection.Close();
  return schema;
}

}  // namespace corvane::catalog
