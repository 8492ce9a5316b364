#include "cli/libpq_login.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <vector>

namespace corvane::cli {
namespace {

std::optional<std::string> Env(const char* name) {
  const char* v = std::getenv(name);
  if (v == nullptr || *v == '\0') return std::nullopt;
  return std::string(v);
}

std::string HomeFolder() {
  if (auto home = Env("HOME")) return *home;
  const passwd* pw = ::getpwuid(::getuid());
  return pw && pw->pw_dir ? pw->pw_dir : "";
}

std::string Trim(const std::string& s) {
  const size_t first = s.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return "";
  return s.substr(first, s.find_last_not_of(" \t\r\n") - first + 1);
}

// The key=value lines of [service] in one service file; nullopt when the
// file does not define it.
std::optional<std::map<std::string, std::string>> ServiceIn(const std::string& file,
                                                            const std::string& service) {
  std::ifstream in(file);
  if (!in) return std::nullopt;
  std::optional<std::map<std::string, std::string>> found;
  bool inside = false;
  for (std::string line; std::getline(in, line);) {
    line = Trim(line);
    if (line.empty() || line[0] == '#') continue;
    if (line[0] == '[') {
      if (found && inside) break;  // the first definition counts
      inside = line == "[" + service + "]";
      if (inside) found.emplace();
      continue;
    }
    const size_t eq = line.find('=');
    if (inside && eq != std::string::npos)
      (*found)[Trim(line.substr(0, eq))] = Trim(line.substr(eq + 1));
  }
  return found;
}

std::map<std::string, std::string> ServiceValues() {
  const auto service = Env("PGSERVICE");
  if (!service) return {};
  const std::string user_file = Env("PGSERVICEFILE").value_or(HomeFolder() + "/.pg_service.conf");
  const std::string system_file =
      Env("PGSYSCONFDIR").value_or("/etc/postgresql-common") + "/pg_service.conf";
  for (const std::string& file : {user_file, system_file}) {
    if (auto values = ServiceIn(file, *service)) return *values;
  }
  return {};
}

// One line of the password file split at unescaped ":", escapes removed.
std::vector<std::string> PassFields(const std::string& line) {
  std::vector<std::string> fields(1);
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '\\' && i + 1 < line.size()) {
      fields.back() += line[++i];
    } else if (line[i] == ':' && fields.size() < 5) {
      fields.emplace_back();
    } else {
      fields.back() += line[i];
    }
  }
  return fields;
}

}  // namespace

LibpqLogin LibpqEnvironmentLogin() {
  const std::map<std::string, std::string> service = ServiceValues();
  auto pick = [&](const char* key, const char* variable) -> std::optional<std::string> {
    if (auto it = service.find(key); it != service.end() && !it->second.empty()) return it->second;
    return Env(variable);
  };
  LibpqLogin login;
  login.host = pick("host", "PGHOST");
  login.port = pick("port", "PGPORT");
  login.user = pick("user", "PGUSER");
  login.dbname = pick("dbname", "PGDATABASE");
  login.password = pick("password", "PGPASSWORD");
  return login;
}

std::optional<std::string> PasswordFileLookup(std::string host, std::string port,
                                              std::string dbname, std::string user) {
  const std::string file = Env("PGPASSFILE").value_or(HomeFolder() + "/.pgpass");
  struct stat st {};
  if (::stat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  if (st.st_mode & (S_IRWXG | S_IRWXO)) return std::nullopt;
  if (host.empty() || host[0] == '/') host = "localhost";
  if (port.empty()) port = "5432";
  if (user.empty()) {
    const passwd* pw = ::getpwuid(::getuid());
    user = pw ? pw->pw_name : "";
  }
  if (dbname.empty()) dbname = user;
  const std::string wanted[4] = {host, port, dbname, user};
  std::ifstream in(file);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    const std::vector<std::string> f = PassFields(line);
    if (f.size() < 5) continue;
    bool match = true;
    for (int i = 0; i < 4 && match; ++i) match = f[i] == "*" || f[i] == wanted[i];
    if (match) return f[4];
  }
  return std::nullopt;
}

}  // namespace corvane::cli
