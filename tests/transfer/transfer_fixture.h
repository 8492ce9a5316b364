// What the Paradox-to-PostgreSQL tests share: a throwaway Paradox folder,
// the in-memory window surfaces, and direct access to both sides to check
// what arrived.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "connection/connection.h"
#include "support/pg_env.h"
#include "transfer/to_postgres.h"
#include "ui/memory_surfaces.h"
#include "ui/windows.h"
#include "support/temp_folder.h"

namespace corvane::testing {

using Rows = std::vector<std::vector<Value>>;

// The surfaces of the tables window, in memory.
struct FakeTablesWindow {
  ui::MemoryTableList postgres_list;
  ui::MemoryTableList paradox_list;
  ui::MemoryProgressBar progress;
  ui::ScriptedDialogs dialogs;
  ui::MemoryPointer pointer;
  ui::CountingPump counting_pump;
  ui::FixedSettings settings;

  ui::TablesWindow Window(ui::EventPump* pump = nullptr, ui::ProgressBar* bar = nullptr) {
    return ui::TablesWindow{postgres_list,
                            paradox_list,
                            bar ? *bar : progress,
                            dialogs,
                            pointer,
                            pump ? *pump : counting_pump,
                            settings,
                            ""};
  }
  // Statements shown after "sql: " in the failure dialogs, in order.
  std::vector<std::string> FailureStatements() const;
};

class ToPostgresTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Runs the handler once with the current lists and answers.
  transfer::TransferOutcome Send(transfer::ToPostgresOptions options = {},
                                 ui::ProgressBar* bar = nullptr);
  // Runs a statement on the test database; fails the test on error.
  void Pg(const std::string& sql);
  Status PgTry(const std::string& sql);
  Rows PgRows(const std::string& sql);
  // Rows as our Paradox driver reads them from the test folder.
  Rows ParadoxRows(const std::string& table);
  // Puts `name` into the Paradox list, selected and current.
  void SelectParadox(const std::vector<std::string>& names);

  std::unique_ptr<TempFolder> temp_;
  std::filesystem::path folder_;
  FakeTablesWindow fake_;
  bool have_pg_ = false;
  std::vector<std::string> drop_after_;  // PostgreSQL tables this test made
};

// The figures of one table in corvane-cli's printed summary: read, stored,
// refused and the result word; "" when the table has no line. The summary
// comes last: a refused row's line names the table too.
std::string SummaryLine(const std::string& out, const std::string& table);

}  // namespace corvane::testing
