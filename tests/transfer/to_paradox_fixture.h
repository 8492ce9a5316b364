// What the PostgreSQL-to-Paradox tests share: the throwaway PostgreSQL and
// Paradox folder of the other direction's fixture, plus a program folder
// holding an empty staging database.
#pragma once

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "paradox/format.h"
#include "transfer/to_paradox.h"
#include "transfer_fixture.h"

namespace corvane::testing {

class ToParadoxTest : public ToPostgresTest {
 protected:
  void SetUp() override;
  void TearDown() override;

  transfer::TransferOutcome SendToParadox();
  // Makes a PostgreSQL table from `definition` (column list) and `rows`
  // (VALUES lists), to be dropped after the test.
  void MakePgTable(const std::string& name, const std::string& definition,
                   const std::vector<std::string>& rows = {});
  // Puts the names into the PostgreSQL list, selected, the last current.
  void SelectPostgres(const std::vector<std::string>& names);
  // The text of the first failure dialog, "" when none was shown.
  std::string FirstFailure() const;
  // The .db files of the Paradox folder, sorted.
  std::vector<std::string> TableFilesInFolder() const;

  std::filesystem::path program_;  // holds dbtemp.mdb
};

// Values of a table as our reader returns them (nullopt for NULL); the
// error text when the table cannot be read.
struct ReadTable {
  std::string error;
  std::vector<paradox::FieldInfo> fields;
  std::vector<std::vector<std::optional<std::string>>> rows;
};
ReadTable ReadOurs(const std::string& db_path);
// Runs a shell command line: its exit status (-1 when it did not exit) and
// what it printed on stdout.
std::pair<int, std::string> ShellOutput(const std::string& command);
ReadTable ReadPxlib(const std::string& db_path);

}  // namespace corvane::testing
