#include "postgres/sql_state.h"

#include <utility>

namespace corvane {

SqlFault ClassifySqlState(std::string_view s) {
  auto in_class = [&](std::string_view prefix) { return s.substr(0, prefix.size()) == prefix; };
  // 57P: the server shuts down or ended this session; 57014 is a cancel,
  // after which the connection still serves.
  if (in_class("08") || in_class("57P")) return SqlFault::kConnectionLost;
  if (s == "53100" || s == "58030") return SqlFault::kServerStorage;
  if (s == "57014") return SqlFault::kCanceled;
  if (in_class("23")) return SqlFault::kRulesBroken;
  if (s == "42830") return SqlFault::kNoUniqueParent;
  if (s == "42601") return SqlFault::kSyntax;
  if (in_class("42")) return SqlFault::kMisfit;
  if (s == "25006") return SqlFault::kReadOnly;
  if (s == "0A000") return SqlFault::kNotSupported;
  return SqlFault::kNone;
}

Status PgStatus(std::string message, std::string sqlstate) {
  const SqlFault fault = ClassifySqlState(sqlstate);
  return Status::Sql(std::move(message), std::move(sqlstate), fault);
}

}  // namespace corvane
