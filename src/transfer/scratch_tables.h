// Scratch tables of copies into PostgreSQL.
//
// A copy fills a table of its own under a marked name and puts it in the
// place of its target in one transaction, so no other session ever sees the
// target half written or missing. The marked name carries the backend pid
// of the session that made it, and that session holds an advisory lock on
// its pid for as long as it lives. A scratch table whose lock nobody holds
// was left by a session that is gone (a killed program, a cut connection);
// the next copy drops it. A live copy's scratch table is never touched.
#pragma once

#include <string>
#include <string_view>

#include "base/status.h"
#include "connection/connection.h"
#include "connection/sql_names.h"

namespace corvane::transfer {

// The scratch table for `table` in the session with backend pid `pid`:
// "corvane~<pid>~" and as much of the table name as fits PostgreSQL's 63
// bytes (cut between characters).
std::string ScratchTableName(int pid, std::string_view table);
using corvane::ScratchTableOwner;

// Takes this session's scratch lock and drops the scratch tables whose
// session is gone (and any left under this session's own pid by an
// earlier holder of it). Returns the session's pid. Precondition: this
// connection has made no scratch table yet.
Result<int> ClaimScratchTables(Connection& postgres);

// The name PostgreSQL gives an object it names after a table (the primary
// key "pkey", an identity column's sequence "seq" with `column`): the names
// cut, the longer first, so that the whole fits 63 bytes.
std::string PostgresDerivedName(std::string_view table, std::string_view column,
                                std::string_view label);

}  // namespace corvane::transfer
