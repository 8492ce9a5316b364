#include "connection/pg_login.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "postgres/pg_session.h"

namespace corvane {
namespace {

std::string SystemUser() {
  const passwd* pw = ::getpwuid(::geteuid());
  return pw && pw->pw_name ? pw->pw_name : "";
}

bool EnvironmentSets(const char* variable) {
  const char* v = variable ? std::getenv(variable) : nullptr;
  return v && *v;
}

std::string Text(const char* s) { return s ? s : ""; }

}  // namespace

LibpqLoginDefaults LibpqEnvironmentLogin() {
  LibpqLoginDefaults out;
  PQconninfoOption* all = PQconndefaults();
  for (PQconninfoOption* o = all; o && o->keyword; ++o) {
    const std::string value = Text(o->val);
    if (value.empty()) continue;
    // Set unless it is what libpq would take anyway.
    const bool built_in = (o->compiled && value == o->compiled) ||
                          (std::strcmp(o->keyword, "user") == 0 && value == SystemUser());
    if (built_in && !EnvironmentSets(o->envvar)) continue;
    const std::string keyword = o->keyword;
    if (keyword == "host" || (keyword == "hostaddr" && out.host.empty())) out.host = value;
    if (keyword == "port") out.port = value;
    if (keyword == "user") out.user = value;
    if (keyword == "dbname") out.dbname = value;
  }
  PQconninfoFree(all);
  return out;
}

bool IsConnectionString(const std::string& dbname) {
  return dbname.rfind("postgresql://", 0) == 0 || dbname.rfind("postgres://", 0) == 0 ||
         dbname.find('=') != std::string::npos;
}

Result<std::map<std::string, std::string>> ParseLibpqConnectionString(const std::string& text) {
  char* error = nullptr;
  PQconninfoOption* parsed = PQconninfoParse(text.c_str(), &error);
  if (parsed == nullptr) {
    std::string why = error ? error : "out of memory";
    PQfreemem(error);
    while (!why.empty() && why.back() == '\n') why.pop_back();
    return Status::InvalidArgument(why);
  }
  std::map<std::string, std::string> out;
  for (PQconninfoOption* o = parsed; o->keyword; ++o) {
    if (o->val) out[o->keyword] = o->val;
  }
  PQconninfoFree(parsed);
  return out;
}

PgLoginTrial TryPostgresLogin(const ConnectionSettings& s) {
  PgLoginTrial out;
  bool timed_out = false;
  PgConnPtr conn =
      PgConnectParamsFor(ParseConnectionString(PostgresConnectionString(s)), ConnectionOptions{})
          .Open(nullptr, timed_out);
  if (!conn) {
    out.message = "Out of memory while connecting to PostgreSQL.";
    return out;
  }
  PGconn* c = conn.get();
  out.connected = PQstatus(c) == CONNECTION_OK;
  out.needs_password = !out.connected && PQconnectionNeedsPassword(c);
  out.message = Text(PQerrorMessage(c));
  while (!out.message.empty() && out.message.back() == '\n') out.message.pop_back();
  out.host = Text(PQhost(c));
  out.port = Text(PQport(c));
  out.user = Text(PQuser(c));
  out.database = Text(PQdb(c));
  return out;
}

}  // namespace corvane
