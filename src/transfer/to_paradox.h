// "Send Table/s To Paradox": copies the selected tables of the PostgreSQL
// list into the Paradox folder through the staging database
// (procedure tag Form2.PushButton3_Click).
#pragma once

#include "transfer/to_postgres.h"
#include "ui/windows.h"

namespace corvane::transfer {

TransferOutcome SendTablesToParadox(ui::TablesWindow& window);

}  // namespace corvane::transfer
