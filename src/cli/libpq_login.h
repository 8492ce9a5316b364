// Where corvane-cli's PostgreSQL login comes from. libpq resolves it as it
// does for psql; the login window's stored values only fill what nothing
// else gives, and only for the server they were stored for, and its stored
// password goes nowhere but the very login it was stored with.
#pragma once

#include <optional>
#include <string>

#include "app/settings_store.h"
#include "cli/options.h"
#include "connection/connection_strings.h"
#include "connection/pg_login.h"

namespace corvane::cli {

// What the login window stored last; the window's defaults for a server
// or port it never stored.
struct StoredLogin {
  bool any = false;  // the window stored at least one login value
  std::string folder;
  std::string server = "localhost", port = "5432", user, password, database;
};
StoredLogin ReadStoredLogin(app::SettingsStore& store);

struct LoginPlan {
  // Empty values are left to libpq.
  ConnectionSettings settings;
  // The window's login when this is the one it was stored with: its
  // password is sent when the server asks for one and libpq found none.
  std::optional<StoredLogin> stored;
};
// The options' login (a connection string in --dbname taken apart, its
// values over -h, -p and -U as in psql), then the stored values nothing
// else gives when the server and port the options and libpq's environment
// name are the stored ones (or none).
LoginPlan PlanLogin(const Options& options, const StoredLogin& stored,
                    const LibpqLoginDefaults& libpq);

// Settles the password as psql would: --prompt-password asks first; else
// one trial login, and when the server wants a password nobody gave, the
// stored one (for its own login) or a prompt on the terminal (never with
// --no-password). Without a terminal and a stored password nothing is
// tried: libpq alone decides, and the command reports its refusal.
void CompleteLogin(const Options& options, LoginPlan& plan);

}  // namespace corvane::cli
