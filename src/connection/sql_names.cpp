#include "connection/sql_names.h"

namespace corvane {
namespace {

std::string DoubleQuoted(std::string_view name) {
  std::string quoted;
  quoted.reserve(name.size() + 2);
  quoted += '"';
  for (char c : name) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  quoted += '"';
  return quoted;
}

}  // namespace

std::string QuotePostgresName(std::string_view name) { return DoubleQuoted(name); }

std::string QualifiedPostgresName(std::string_view schema, std::string_view name) {
  if (schema.empty()) return QuotePostgresName(name);
  return QuotePostgresName(schema) + "." + QuotePostgresName(name);
}

// SQLite takes the standard form too.
std::string QuoteSqliteName(std::string_view name) { return DoubleQuoted(name); }

Status CheckPostgresName(const std::string& name, const std::string& what) {
  if (name.size() <= kPostgresNameBytes) return Status::Ok();
  return Status::InvalidArgument(what + " \"" + name + "\" is " + std::to_string(name.size()) +
                                 " bytes long; PostgreSQL names hold at most " +
                                 std::to_string(kPostgresNameBytes) +
                                 " bytes, and nothing was sent.");
}

}  // namespace corvane
