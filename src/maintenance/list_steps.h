// Steps both sides' handlers share: finding the one selected entry, asking
// for a new name, and putting the new name in the old one's place.
#pragma once

#include <string>

#include "ui/surfaces.h"

namespace corvane::maintenance {

inline constexpr const char* kSelectToRename = "Please select a table to rename.";
inline constexpr const char* kSelectJustOne = "Please select just one table to rename.";

// The selected entry nearest the end of the list; -1 when none is selected.
int LastSelected(const ui::TableList& list);

// The rename prompt, titled with the application title and filled with the
// old name. The empty text means: leave everything as it is.
std::string AskNewName(ui::Dialogs& dialogs, const std::string& old_name);

// Replaces the entry at `index` by `new_name` (in the same schema) in its sorted place and makes
// the first entry current. Making it current does not select it, so the
// walk that called this offers no second table for renaming.
void ReplaceEntry(ui::TableList& list, int index, const std::string& new_name);

}  // namespace corvane::maintenance
