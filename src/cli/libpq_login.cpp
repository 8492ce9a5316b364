#include "cli/libpq_login.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace corvane::cli {
namespace {

constexpr const char* kNotStored = "\x01";

// The controlling terminal, where psql asks even when input is piped;
// invalid without one.
class Terminal {
 public:
  Terminal() : fd_(::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC)) {}
  ~Terminal() {
    if (fd_ >= 0) ::close(fd_);
  }
  Terminal(const Terminal&) = delete;
  Terminal& operator=(const Terminal&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// Asks on the terminal with echo off; nullopt without a terminal or input.
std::optional<std::string> AskPassword(const std::string& prompt) {
  Terminal tty;
  if (tty.get() < 0) return std::nullopt;
  // Echo goes off before the prompt shows, so nothing typed after it is
  // echoed or thrown away.
  termios saved{};
  const bool quiet = ::tcgetattr(tty.get(), &saved) == 0;
  if (quiet) {
    termios silent = saved;
    silent.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    ::tcsetattr(tty.get(), TCSANOW, &silent);
  }
  (void)!::write(tty.get(), prompt.data(), prompt.size());
  std::string line;
  char c = 0;
  ssize_t n = 0;
  while ((n = ::read(tty.get(), &c, 1)) == 1 && c != '\n') line += c;
  if (quiet) ::tcsetattr(tty.get(), TCSANOW, &saved);
  (void)!::write(tty.get(), "\n", 1);
  if (n != 1 && line.empty()) return std::nullopt;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

std::string PromptFor(const std::string& user) {
  return user.empty() ? "Password: " : "Password for user " + user + ": ";
}

// The trial went where the stored password belongs.
bool IsStoredLogin(const PgLoginTrial& trial, const StoredLogin& stored) {
  return trial.host == stored.server && trial.port == stored.port &&
         (stored.user.empty() || trial.user == stored.user) &&
         (stored.database.empty() || trial.database == stored.database);
}

// A connection string in --dbname: its login values over the options', the
// rest passed to libpq as they are.
void TakeConnectionString(const std::string& text, ConnectionSettings& s) {
  Result<std::map<std::string, std::string>> parsed = ParseLibpqConnectionString(text);
  if (!parsed.ok()) return;  // refused when the options were parsed
  s.database.clear();
  for (const auto& [key, value] : parsed.value()) {
    if (key == "host")
      s.server = value;
    else if (key == "port")
      s.port = value;
    else if (key == "user")
      s.user = value;
    else if (key == "password")
      s.password = value;
    else if (key == "dbname")
      s.database = value;
    else
      s.libpq_extra[key] = value;
  }
}

}  // namespace

StoredLogin ReadStoredLogin(app::SettingsStore& store) {
  StoredLogin out;
  auto read = [&](const char* key, std::string& into, bool login) {
    Result<std::string> r = store.Read(app::kApplication, app::kSection, key, kNotStored);
    if (!r.ok() || r.value() == kNotStored) return;
    into = r.value();
    out.any = out.any || login;
  };
  read("ParadoxFolder", out.folder, false);
  read("Server", out.server, true);
  read("Port", out.port, true);
  read("User", out.user, true);
  read("Password", out.password, true);
  read("Database", out.database, true);
  return out;
}

LoginPlan PlanLogin(const Options& options, const StoredLogin& stored,
                    const LibpqLoginDefaults& libpq) {
  LoginPlan plan;
  ConnectionSettings& s = plan.settings;
  s.paradox_folder = options.Get("paradox").value_or(stored.folder);
  s.server = options.Get("server").value_or("");
  s.port = options.Get("port").value_or("");
  s.user = options.Get("user").value_or("");
  s.password = options.Get("password").value_or("");
  s.database = options.Get("database").value_or("");
  if (IsConnectionString(s.database)) TakeConnectionString(s.database, s);
  if (!stored.any) return plan;
  auto given = [](const std::string& option, const std::string& environment) {
    return option.empty() ? environment : option;
  };
  const std::string host = given(s.server, libpq.host), port = given(s.port, libpq.port);
  const std::string user = given(s.user, libpq.user), db = given(s.database, libpq.dbname);
  if ((!host.empty() && host != stored.server) || (!port.empty() && port != stored.port))
    return plan;  // another server: nothing of the stored login goes there
  if (host.empty()) s.server = stored.server;
  if (port.empty()) s.port = stored.port;
  if (user.empty()) s.user = stored.user;
  if (db.empty()) s.database = stored.database;
  const bool same_login =
      (user.empty() || user == stored.user) && (db.empty() || db == stored.database);
  if (same_login && !stored.password.empty()) plan.stored = stored;
  return plan;
}

void CompleteLogin(const Options& options, LoginPlan& plan) {
  ConnectionSettings& s = plan.settings;
  if (!s.password.empty()) return;
  const bool never_ask = options.Has("no-password");
  if (options.Has("prompt-password") && !never_ask) {
    const std::string user = s.user.empty() ? LibpqEnvironmentLogin().user : s.user;
    if (auto typed = AskPassword(PromptFor(user))) s.password = *typed;
    return;
  }
  bool may_ask = false;
  if (!never_ask) may_ask = Terminal().get() >= 0;
  if (!plan.stored && !may_ask) return;
  const PgLoginTrial trial = TryPostgresLogin(s);
  if (trial.connected || !trial.needs_password) return;
  if (plan.stored && IsStoredLogin(trial, *plan.stored)) {
    s.password = plan.stored->password;
    return;
  }
  if (may_ask) {
    if (auto typed = AskPassword(PromptFor(trial.user))) s.password = *typed;
  }
}

}  // namespace corvane::cli
