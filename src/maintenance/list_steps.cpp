#include "maintenance/list_steps.h"

#include <optional>

namespace corvane::maintenance {

int LastSelected(const ui::TableList& list) {
  for (int i = list.Count() - 1; i >= 0; --i) {
    if (list.Selected(i)) return i;
  }
  return -1;
}

std::string AskNewName(ui::Dialogs& dialogs, const std::string& old_name) {
  return dialogs.Prompt("Enter new name of " + old_name + ":", std::nullopt, old_name);
}

void ReplaceEntry(ui::TableList& list, int index, const std::string& new_name) {
  const std::string schema = list.Schema(index);
  list.RemoveAt(index);
  list.AddInSchema(new_name, schema);
  if (list.Count() > 0) list.SetCurrentIndex(0);
}

}  // namespace corvane::maintenance
