#include "catalog/paradox_catalog.h"

#include "base/utf8.h"
#include "catalog/folder_walk.h"
#include "paradox/table_set_aside.h"

namespace corvane::catalog {
namespace {

// Every occurrence of `what` removed in one left-to-right pass, as Replace
// does: what the removal brings together is not looked at again.
std::string RemoveAll(const std::string& s, const std::string& what) {
  std::string out;
  size_t from = 0;
  for (size_t at = s.find(what); at != std::string::npos; at = s.find(what, from)) {
    out.append(s, from, at - from);
    from = at + what.size();
  }
  out.append(s, from, std::string::npos);
  return out;
}

// Names that are not text would show as some other name, which send,
// delete and rename could not find again.
void NoteUnnamable(const std::vector<std::string>& paths, ui::Dialogs& dialogs) {
  if (paths.empty()) return;
  constexpr size_t kShown = 10;
  std::string text = std::to_string(paths.size()) +
                     " table file(s) are not in the list, as their names are not valid UTF-8 "
                     "text (the bytes that are not are shown as \\xNN). Rename them to work "
                     "with them:";
  for (size_t i = 0; i < paths.size() && i < kShown; ++i) text += "\n" + utf8::Printable(paths[i]);
  if (paths.size() > kShown) text += "\n... and " + std::to_string(paths.size() - kShown) + " more";
  dialogs.Message(text, std::nullopt, ui::MessageIcon::kExclamation);
}

}  // namespace

std::string TableNameOf(const std::string& file_name) {
  return RemoveAll(utf8::UpperCase(FileNameOf(file_name)), ".DB");
}

Result<bool> TestParadoxFolder(const std::string& folder) {
  if (folder.empty()) return false;
  return !ListFiles(folder, "*.db").empty();
}

// Outline: the folder, then every accepted sub-folder breadth-first (the
// walk); in each, its *.db files in directory order, "~" files left out,
// each shown by its upper-cased name with every ".DB" removed.
Status ListParadoxTables(const std::string& folder, ui::TableList& list, ui::EventPump& pump,
                         ui::Dialogs& dialogs) {
  list.Clear();
  if (folder.empty()) return Status::Ok();
  // A transfer killed part way leaves a table set aside or a scratch file;
  // this is where they are put back or cleared. What cannot be stays
  // hidden, never lost.
  (void)paradox::RecoverInterruptedWrites(folder);
  std::vector<std::string> folders = {folder + "/"};
  GetSubDirectories2016(folders, true, pump, dialogs);
  std::vector<std::string> unnamable;
  std::vector<ui::ListEntry> tables;
  for (std::string entry : folders) {
    pump.Pump();  // listing 10,000 folders takes long enough to be felt
    entry.pop_back();
    // Each entry keeps its sub-folder, so a copy reads the table it shows.
    const std::string sub_folder = entry.size() > folder.size() ? entry.substr(folder.size() + 1) : "";
    for (const std::string& name : ListFiles(entry, "*.db")) {
      if (name[0] == '~') continue;
      if (!utf8::IsValid(name)) {
        unnamable.push_back(entry + "/" + name);
        continue;
      }
      tables.push_back({TableNameOf(name), sub_folder});
    }
  }
  list.AddAll(std::move(tables));
  NoteUnnamable(unnamable, dialogs);
  return Status::Ok();
}

}  // namespace corvane::catalog
