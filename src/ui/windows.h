// What the work handlers of each window receive: the window's surfaces as
// interfaces. The Qt windows fill these with adapters of their widgets, the
// command line with console adapters, tests with in-memory ones.
#pragma once

#include <string>

#include "ui/surfaces.h"

namespace corvane::ui {

// The login window (Form1).
struct LoginWindow {
  Dialogs& dialogs;
  Pointer& pointer;
  EventPump& pump;
  const SettingsSource& settings;  // Text1..Text6 as they stand
  std::string program_folder;
};

// The tables window (Form2).
struct TablesWindow {
  TableList& postgres_list;  // List1
  TableList& paradox_list;   // List2
  ProgressBar& progress;     // ProgressBar1
  Dialogs& dialogs;
  Pointer& pointer;
  EventPump& pump;
  const SettingsSource& settings;  // the login window's fields, read at use
  std::string program_folder;      // where dbtemp.mdb lives
};

}  // namespace corvane::ui
