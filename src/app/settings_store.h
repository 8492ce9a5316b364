// The per-user settings store: an INI file
// ${XDG_CONFIG_HOME:-~/.config}/Vantorel/settings.ini, section [Corvane],
// written and flushed on every change, readable by its user only.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "base/status.h"

namespace corvane::app {

inline constexpr const char* kApplication = "Vantorel";
inline constexpr const char* kSection = "Corvane";
// Code page of the Paradox tables the program writes: "auto" (or absent)
// lets each table's text choose; a number forces one.
inline constexpr const char* kExportCodePageKey = "ExportCodePage";

class SettingsStore {
 public:
  virtual ~SettingsStore() = default;
  // The stored text, or `default_value` when the key (or the store) is absent.
  virtual Result<std::string> Read(const std::string& app, const std::string& section,
                                   const std::string& key, const std::string& default_value) = 0;
  // Stores `value` unchanged (the empty text too), creating what is missing.
  virtual Status Write(const std::string& app, const std::string& section, const std::string& key,
                       const std::string& value) = 0;
};

// The INI file under `config_root`/<app>/settings.ini.
std::unique_ptr<SettingsStore> MakeIniSettingsStore(std::string config_root);
// ${XDG_CONFIG_HOME:-$HOME/.config}
std::string DefaultConfigRoot();

class MemorySettingsStore : public SettingsStore {
 public:
  Result<std::string> Read(const std::string& app, const std::string& section,
                           const std::string& key, const std::string& default_value) override;
  Status Write(const std::string& app, const std::string& section, const std::string& key,
               const std::string& value) override;
  std::map<std::string, std::string> values;  // "app/section/key" -> text
  bool fail_writes = false;
  int writes = 0;
};

}  // namespace corvane::app
