#include "transfer/long_names.h"

namespace corvane::transfer {

std::string TrimQuestionText(const std::string& name) {
  return UpperCase(name) + " is more than 8 characters. It will be trimmed into " +
         UpperCase(FirstUtf16Units(name, kParadoxNameUnits)) + ". Continue?";
}

Status CheckPostgresTableNames(const std::string& table, const RecordSet& rows) {
  CORVANE_RETURN_IF_ERROR(CheckPostgresName(table, "Table name"));
  for (int c = 0; c < rows.FieldCount(); ++c) {
    CORVANE_RETURN_IF_ERROR(
        CheckPostgresName(rows.FieldName(c), "Column name of table " + table + ":"));
  }
  return Status::Ok();
}

}  // namespace corvane::transfer
