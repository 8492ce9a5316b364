// Names in SQL text, one way per dialect, and the length PostgreSQL keeps.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "base/status.h"

namespace corvane {

// A PostgreSQL identifier between double quotes with embedded quotes
// doubled, so no name can end the identifier early.
std::string QuotePostgresName(std::string_view name);
// "schema"."name", or "name" alone for the empty schema (the search path's).
std::string QualifiedPostgresName(std::string_view schema, std::string_view name);

// A copy into PostgreSQL fills "corvane~<pid>~<name>" before it takes the
// table's place. The pid in such a name, or 0 when `name` is not one.
int ScratchTableOwner(std::string_view name);

// A SQLite name between double quotes, embedded quotes doubled.
std::string QuoteSqliteName(std::string_view name);

inline constexpr size_t kPostgresNameBytes = 63;

// Ok when `name` fits a PostgreSQL name; otherwise an error that names it
// and says what it is (`what`: "The new name", "Table", ...).
Status CheckPostgresName(const std::string& name, const std::string& what);

}  // namespace corvane
