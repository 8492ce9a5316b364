#include "catalog/postgres_catalog.h"

#include "connection/connection.h"
#include "ui/pump.h"

namespace corvane::catalog {

bool TestPostgreSQLConnection(const ConnectionSettings& settings,
                              const std::function<void()>& while_waiting) {
  Connection connection;
  connection.options().serve = while_waiting;
  return connection.Open(PostgresConnectionString(settings)).ok();
}

// Outline: open, run the one query, then clear the list and add every row,
// serving the pump per row. An error ends the work where it happens: before
// the query has rows the list is untouched; during the rows the names added
// so far stay.
Status ListPostgreSQLTables(const ConnectionSettings& settings, ui::TableList& list,
                            ui::EventPump& pump) {
  Connection connection;
  connection.options().cursor_location = CursorLocation::kClient;
  connection.options().serve = ui::ServeWith(pump);
  CORVANE_RETURN_IF_ERROR(connection.Open(PostgresConnectionString(settings)));
  Result<std::unique_ptr<RecordSet>> rows = connection.Execute("select tablename from pg_tables;");
  if (!rows.ok()) return rows.status();
  RecordSet& rs = *rows.value();
  list.Clear();
  const int64_t count = rs.RecordCount();
  for (int64_t i = 0; i < count; ++i) {
    pump.Pump();
    list.Add(rs.FieldValue(0).text());
    CORVANE_RETURN_IF_ERROR(rs.MoveNext());
  }
  rs.Close();
  connection.Close();
  return Status::Ok();
}

}  // namespace corvane::catalog
