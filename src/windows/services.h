// What the windows are given from outside: the settings store, the program
// folder, the work gate they share and, for tests, scripted dialogs.
#pragma once

#include <string>

#include "app/settings_store.h"
#include "ui/surfaces.h"
#include "windows/window_support.h"

namespace corvane::windows {

struct WindowServices {
  app::SettingsStore& store;
  std::string program_folder;
  WorkGate& gate;
  // Null: each window shows real message boxes owned by itself.
  ui::Dialogs* dialogs = nullptr;
};

}  // namespace corvane::windows
