// Delete and rename on both sides of the tables window.
#pragma once

#include "ui/windows.h"

namespace corvane::maintenance {

struct Outcome {
  int failures = 0;  // failure dialogs shown
};

Outcome DeletePostgresTables(ui::TablesWindow& window);  // Form2.PushButton1_Click
Outcome RenamePostgresTable(ui::TablesWindow& window);   // Form2.PushButton6_Click
Outcome DeleteParadoxTables(ui::TablesWindow& window);   // Form2.PushButton5_Click
Outcome RenameParadoxTable(ui::TablesWindow& window);    // Form2.PushButton7_Click

}  // namespace corvane::maintenance
