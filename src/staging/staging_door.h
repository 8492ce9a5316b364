// Typed calls into the staging connection, for callers that need more than
// a statement's text can carry.
#pragma once

#include <string>

#include "base/status.h"
#include "connection/connection.h"
#include "staging/staging_statements.h"

namespace corvane::staging {

// What an export did beyond writing the table.
struct ExportResult {
  std::string note;  // why a key was left off, or empty
};

// Exports as the statement text would, with `e.may_replace` honoured.
// Fails on a connection that is not a staging connection.
Result<ExportResult> Export(Connection& staging, const ExportStatement& e);

}  // namespace corvane::staging
