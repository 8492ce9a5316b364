#include "cli/options.h"

#include <cstdlib>

#include "app/settings_store.h"
#include "cli/libpq_login.h"

namespace corvane::cli {

std::optional<std::string> Options::Get(const std::string& name) const {
  auto it = values.find(name);
  if (it == values.end()) return std::nullopt;
  return it->second;
}

Result<Options> ParseOptions(int argc, char** argv, const std::set<std::string>& valued,
                             const std::set<std::string>& flag_names) {
  Options out;
  for (int i = 0; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--") {
      for (++i; i < argc; ++i) out.positional.push_back(argv[i]);
      break;
    }
    if (arg.rfind("--", 0) != 0 || arg.size() == 2) {
      out.positional.push_back(arg);
      continue;
    }
    std::string name = arg.substr(2);
    std::optional<std::string> value;
    if (auto eq = name.find('='); eq != std::string::npos) {
      value = name.substr(eq + 1);
      name.resize(eq);
    }
    if (flag_names.count(name)) {
      if (value) return Status::InvalidArgument("--" + name + " takes no value");
      out.flags.insert(name);
    } else if (valued.count(name)) {
      if (!value) {
        if (i + 1 >= argc) return Status::InvalidArgument("--" + name + " needs a value");
        value = argv[++i];
      }
      out.values[name] = *value;
    } else {
      return Status::InvalidArgument("unknown option --" + name);
    }
  }
  return out;
}

const std::set<std::string>& LoginOptionNames() {
  static const std::set<std::string> kNames = {"server",   "port",     "user",
                                               "password", "database", "paradox"};
  return kNames;
}

ConnectionSettings SettingsFrom(const Options& options) {
  auto store = app::MakeIniSettingsStore(app::DefaultConfigRoot());
  auto stored = [&](const char* key, const char* def) {
    Result<std::string> r = store->Read(app::kApplication, app::kSection, key, def);
    return r.ok() ? r.value() : std::string(def);
  };
  // An option, else what libpq's variables and files say, else what the
  // login window stored last, else the window's defaults.
  const LibpqLogin libpq = LibpqEnvironmentLogin();
  auto pick = [&](const char* option, const std::optional<std::string>& from_libpq, const char* key,
                  const char* def) {
    if (auto v = options.Get(option)) return *v;
    return from_libpq ? *from_libpq : stored(key, def);
  };
  ConnectionSettings s;
  s.paradox_folder = options.Get("paradox").value_or(stored("ParadoxFolder", ""));
  s.server = pick("server", libpq.host, "Server", "localhost");
  s.port = pick("port", libpq.port, "Port", "5432");
  s.user = pick("user", libpq.user, "User", "");
  s.database = pick("database", libpq.dbname, "Database", "");
  std::optional<std::string> password = options.Get("password");
  if (!password) password = libpq.password;
  if (!password) password = PasswordFileLookup(s.server, s.port, s.database, s.user);
  s.password = password.value_or(stored("Password", ""));
  return s;
}

std::string ExportCodePageFrom(const Options& options) {
  if (auto given = options.Get("code-page")) return *given;
  auto store = app::MakeIniSettingsStore(app::DefaultConfigRoot());
  Result<std::string> r = store->Read(app::kApplication, app::kSection, app::kExportCodePageKey, "");
  return r.ok() ? r.value() : std::string();
}

}  // namespace corvane::cli
