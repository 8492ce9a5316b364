#include "transfer/long_names.h"

#include <set>

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

std::string ParadoxFieldNameRule(const std::string& name) {
  if (name.empty()) return "a field name cannot be empty";
  if (Utf16Length(name) > kParadoxFieldNameUnits) {
    return "Paradox field names hold at most " + std::to_string(kParadoxFieldNameUnits) +
           " characters";
  }
  if (name.front() == ' ') return "a Paradox field name cannot begin with a blank";
  if (name == "#") return "a Paradox field name cannot be # alone";
  if (name.find_first_of("[]{}()") != std::string::npos) {
    return "a Paradox field name cannot hold [ ] { } ( or )";
  }
  if (name.find("->") != std::string::npos) return "a Paradox field name cannot hold ->";
  return "";
}

Status CheckParadoxFieldNames(const std::string& table, const std::vector<std::string>& names) {
  // Two names equal ignoring case are refused by the staging table itself.
  for (const std::string& name : names) {
    const std::string rule = ParadoxFieldNameRule(name);
    if (!rule.empty()) {
      return Status::InvalidArgument("Column \"" + name + "\" of table " + table +
                                     " cannot be a Paradox field name: " + rule +
                                     ". Nothing was written.");
    }
  }
  return Status::Ok();
}

namespace {

// `name` with what the rules forbid replaced, cut to the length allowed.
std::string Repaired(std::string name, size_t index) {
  for (size_t at; (at = name.find("->")) != std::string::npos;) name.replace(at, 2, "_");
  for (char& c : name) {
    if (std::string_view("[]{}()").find(c) != std::string_view::npos) c = '_';
  }
  name.erase(0, name.find_first_not_of(' '));
  if (name == "#") name = "No";
  name = FirstUtf16Units(name, kParadoxFieldNameUnits);
  if (name.empty()) name = "Field" + std::to_string(index + 1);
  return name;
}

}  // namespace

std::vector<std::string> ValidParadoxFieldNames(const std::vector<std::string>& names) {
  // Names already valid keep their place first, so that only the others
  // are changed to make room.
  std::set<std::string> taken;
  std::vector<bool> kept(names.size(), false);
  for (size_t i = 0; i < names.size(); ++i) {
    kept[i] = ParadoxFieldNameRule(names[i]).empty() && taken.insert(UpperCase(names[i])).second;
  }
  std::vector<std::string> out(names);
  for (size_t i = 0; i < names.size(); ++i) {
    if (kept[i]) continue;
    const std::string base = Repaired(names[i], i);
    std::string name = base;
    for (int n = 2; !ParadoxFieldNameRule(name).empty() || taken.count(UpperCase(name)) > 0; ++n) {
      const std::string suffix = "_" + std::to_string(n);
      name = FirstUtf16Units(base, kParadoxFieldNameUnits - suffix.size()) + suffix;
    }
    taken.insert(UpperCase(name));
    out[i] = name;
  }
  return out;
}

}  // namespace corvane::transfer
