// The one place a PostgreSQL SQLSTATE is read for its meaning. Every error
// the driver builds passes through here, so everyone above reads
// Status::fault() instead of matching codes.
#pragma once

#include <string_view>

#include "base/status.h"

namespace corvane {

// SQLSTATEs of connection exceptions that libpq itself detects and the
// driver reports when the server said nothing.
inline constexpr const char* kSqlStateConnectionFailure = "08006";
inline constexpr const char* kSqlStateNoConnection = "08003";
inline constexpr const char* kSqlStateCannotConnect = "08001";

SqlFault ClassifySqlState(std::string_view sqlstate);

// A server error with its SQLSTATE classified.
Status PgStatus(std::string message, std::string sqlstate);

}  // namespace corvane
