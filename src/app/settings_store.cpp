#include "app/settings_store.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "base/whole_file.h"

namespace corvane::app {
namespace {

// Values may hold any text; escape what would break the line format.
std::string Escape(const std::string& v) {
  std::string out;
  for (char c : v) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string Unescape(const std::string& v) {
  std::string out;
  for (size_t i = 0; i < v.size(); ++i) {
    if (v[i] == '\\' && i + 1 < v.size()) {
      char n = v[++i];
      out += n == 'n' ? '\n' : n == 'r' ? '\r' : n;
    } else {
      out += v[i];
    }
  }
  return out;
}

// section -> ordered (key, value) pairs
using Ini = std::vector<std::pair<std::string, std::vector<std::pair<std::string, std::string>>>>;

Ini Parse(std::istream& in) {
  Ini ini;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
      ini.push_back({line.substr(1, line.size() - 2), {}});
    } else if (auto eq = line.find('='); eq != std::string::npos && !ini.empty()) {
      ini.back().second.push_back({line.substr(0, eq), Unescape(line.substr(eq + 1))});
    }
  }
  return ini;
}

class IniSettingsStore : public SettingsStore {
 public:
  explicit IniSettingsStore(std::string root) : root_(std::move(root)) {}

  Result<std::string> Read(const std::string& app, const std::string& section,
                           const std::string& key, const std::string& default_value) override {
    std::ifstream in(PathFor(app));
    if (!in) return default_value;
    Ini ini = Parse(in);
    for (const auto& [name, pairs] : ini) {
      if (name != section) continue;
      for (const auto& [k, v] : pairs) {
        if (k == key) return v;
      }
    }
    return default_value;
  }

  Status Write(const std::string& app, const std::string& section, const std::string& key,
               const std::string& value) override {
    const std::string path = PathFor(app);
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
    if (ec)
      return Status::IoError("Cannot create the settings folder for " + path + ": " + ec.message());
    Ini ini;
    if (std::ifstream in(path); in) ini = Parse(in);
    auto sec =
        std::find_if(ini.begin(), ini.end(), [&](const auto& s) { return s.first == section; });
    if (sec == ini.end()) sec = ini.insert(ini.end(), {section, {}});
    auto kv = std::find_if(sec->second.begin(), sec->second.end(),
                           [&](const auto& p) { return p.first == key; });
    if (kv == sec->second.end())
      sec->second.push_back({key, value});
    else
      kv->second = value;
    std::ostringstream out;
    for (const auto& [name, pairs] : ini) {
      out << '[' << name << "]\n";
      for (const auto& [k, v] : pairs) out << k << '=' << Escape(v) << '\n';
    }
    return WriteWholeFile(path, out.str(), 0600, "settings file");
  }

 private:
  std::string PathFor(const std::string& app) const { return root_ + "/" + app + "/settings.ini"; }

  std::string root_;
};

}  // namespace

std::unique_ptr<SettingsStore> MakeIniSettingsStore(std::string config_root) {
  return std::make_unique<IniSettingsStore>(std::move(config_root));
}

std::string DefaultConfigRoot() {
  if (const char* x = std::getenv("XDG_CONFIG_HOME"); x && *x) return x;
  const char* home = std::getenv("HOME");
  return std::string(home ? home : ".") + "/.config";
}

Result<std::string> MemorySettingsStore::Read(const std::string& app, const std::string& section,
                                              const std::string& key,
                                              const std::string& default_value) {
  auto it = values.find(app + "/" + section + "/" + key);
  return it == values.end() ? default_value : it->second;
}

Status MemorySettingsStore::Write(const std::string& app, const std::string& section,
                                  const std::string& key, const std::string& value) {
  ++writes;
  if (fail_writes) return Status::IoError("settings store is read-only");
  values[app + "/" + section + "/" + key] = value;
  return Status::Ok();
}

}  // namespace corvane::app
