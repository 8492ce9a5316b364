#include "transfer/staging_names.h"

namespace corvane::transfer {
namespace {

std::string UpperAscii(std::string s) {
  for (char& c : s) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return s;
}

// Each pair of separators becomes one, left to right without overlap.
std::string CollapsePairs(std::string_view text, char separator) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    out.push_back(text[i]);
    if (text[i] == separator && i + 1 < text.size() && text[i + 1] == separator) ++i;
  }
  return out;
}

// `text` with every `quote` doubled, for use between quotes of that kind.
std::string Doubled(std::string_view text, char quote) {
  std::string out;
  out.reserve(text.size() + 2);
  for (char c : text) {
    out += c;
    if (c == quote) out += quote;
  }
  return out;
}

}  // namespace

std::string_view StagingColumnTypeText(ColumnClass column_class) {
  switch (column_class) {
    case ColumnClass::kDecimal:
      return "` DECIMAL,";
    case ColumnClass::kSingle:
    case ColumnClass::kInt:
    case ColumnClass::kNumeric:
      return "` INT,";
    case ColumnClass::kAdLongVarBinary:
      return "` OLEOBJECT,";
    case ColumnClass::kLongVar:
      return "` MEMO,";
    case ColumnClass::kDate:
    case ColumnClass::kTimestamp:
      return "` DATETIME,";
    case ColumnClass::kDouble:
      return "` FLOAT,";
    case ColumnClass::kChar:
    case ColumnClass::kNone:
      break;
  }
  return "` VARCHAR,";
}

std::string DoubleBackquotes(std::string_view name) { return Doubled(name, '`'); }

std::string StagingDatabasePath(const std::string& program_folder) {
  return program_folder + "/dbtemp.mdb";
}

Result<bool> ExistTable(Connection& connection, const std::string& name) {
  auto list = connection.OpenSchema(20);
  if (!list.ok()) return list.status();
  RecordSet& rows = **list;
  int type_index = -1, name_index = -1;
  for (int i = 0; i < rows.FieldCount(); ++i) {
    if (rows.FieldName(i) == "TABLE_TYPE") type_index = i;
    if (rows.FieldName(i) == "TABLE_NAME") name_index = i;
  }
  if (type_index < 0 || name_index < 0) {
    return Status::Internal("The table list has no TABLE_TYPE and TABLE_NAME columns.");
  }
  const std::string wanted = UpperAscii(name);
  bool found = false;
  while (!rows.Eof()) {
    if (rows.FieldValue(type_index).text() == "TABLE" &&
        UpperAscii(rows.FieldValue(name_index).text()) == wanted) {
      found = true;
    }
    CORVANE_RETURN_IF_ERROR(rows.MoveNext());
  }
  rows.Close();
  return found;
}

std::string CollapseBackslashes(std::string_view path, char separator) {
  if (path.empty() || path[0] != separator) return CollapsePairs(path, separator);
  size_t k = path.find_first_not_of(separator);
  if (k == std::string_view::npos) k = path.size();
  return std::string(2, separator) + CollapsePairs(path.substr(k), separator);
}

std::string ExportFolderText(const std::string& paradox_folder, char separator) {
  return CollapseBackslashes(paradox_folder + separator, separator);
}

std::string DoubleClosingBrackets(std::string_view text) { return Doubled(text, ']'); }

std::string ExportStatementText(const std::string& folder_text, const std::string& target,
                                const std::string& source) {
  return "select * into [Paradox 5.x;Database=" + DoubleClosingBrackets(folder_text) + "].[" +
         DoubleClosingBrackets(target) + ".db] from [" + DoubleClosingBrackets(source) + "]";
}

std::string StagingDropText(const std::string& source) {
  return "DROP TABLE [" + DoubleClosingBrackets(source) + "]";
}

}  // namespace corvane::transfer
