// "Send Table/s To PostgreSQL": copies the selected tables of the Paradox
// list into PostgreSQL (procedure tag Form2.PushButton4_Click).
#pragma once

#include "ui/windows.h"

namespace corvane::transfer {

struct TransferOutcome {
  int failures = 0;  // failure dialogs shown
};

TransferOutcome SendTablesToPostgres(ui::TablesWindow& window);

}  // namespace corvane::transfer
