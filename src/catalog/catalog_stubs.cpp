// Placeholders until the catalogs land; every call reports that it is missing.
#include "catalog/paradox_catalog.h"
#include "catalog/postgres_catalog.h"

namespace corvane::catalog {

Result<bool> TestParadoxFolder(const std::string&) {
  return Status::NotSupported("Paradox catalog not built yet");
}
Status ListParadoxTables(const std::string&, ui::TableList& list, ui::EventPump&, ui::Dialogs&) {
  list.Clear();
  return Status::NotSupported("Paradox catalog not built yet");
}
bool TestPostgreSQLConnection(const ConnectionSettings&) { return false; }
Status ListPostgreSQLTables(const ConnectionSettings&, ui::TableList& list, ui::EventPump&) {
  list.Clear();
  return Status::NotSupported("PostgreSQL catalog not built yet");
}

}  // namespace corvane::catalog
