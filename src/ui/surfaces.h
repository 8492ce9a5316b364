// What a work handler touches in a window, as interfaces the core owns.
// The Qt windows, the console and the tests each implement them; handlers
// never see a widget.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "connection/connection_strings.h"

namespace corvane::ui {

using corvane::ConnectionSettings;

// One entry for TableList::AddAll: the name shown, and the sub-folder its
// table was found in, relative to the list's folder ("" for that folder).
struct ListEntry {
  std::string name;
  std::string folder;
};

// A sorted table list with extended selection (one name per entry).
// Entries are ordered alphabetically ignoring case (ListOrderLess); Add puts
// a name at its sorted place. Indexes run from 0; CurrentIndex is -1 when
// there is no current entry. Making an entry current does not select it.
// An entry may carry a schema beside its text: the PostgreSQL list shows
// bare names, and two entries of one name in two schemas are two tables.
// The empty schema means "wherever the search path finds it".
class TableList {
 public:
  virtual ~TableList() = default;
  virtual int Count() const = 0;
  virtual std::string Text(int index) const = 0;
  virtual bool Selected(int index) const = 0;
  virtual void SetSelected(int index, bool selected) = 0;
  virtual int SelectedCount() const = 0;
  virtual int CurrentIndex() const = 0;
  virtual void SetCurrentIndex(int index) = 0;
  virtual void RemoveAt(int index) = 0;
  virtual void Add(const std::string& name) { AddInSchema(name, std::string()); }
  // As Add, the entry keeping `schema` (not shown).
  virtual void AddInSchema(const std::string& name, const std::string& schema) = 0;
  // The schema of the entry at `index`; "" when it has none.
  virtual std::string Schema(int index) const = 0;
  // Adds every entry where Add would put it, in one pass: a folder of
  // thousands of tables must not cost one sorted insertion each.
  virtual void AddAll(std::vector<ListEntry> entries) = 0;
  // The sub-folder the entry's table was found in ("" for the list's folder).
  virtual std::string Folder(int index) const = 0;
  virtual void Clear() = 0;
  // Marks every entry; the last entry becomes current, as marking entries
  // one by one in a list box leaves it, so the actions see a selection.
  // Adapters override it to change the whole list in one update.
  virtual void SetAllSelected(bool selected);
};

// Lower-cases UTF-8 text with full Unicode case mapping (C.UTF-8), whatever
// the process locale; bytes that are not UTF-8 stay as they are.
std::string LowerCase(const std::string& text);

// Where a name goes in a sorted list: alphabetically, ignoring case; a name sorts after
// existing equal names.
bool ListOrderLess(const std::string& a, const std::string& b);
// Index at which Add puts `name` in a list whose entries are sorted.
int SortedInsertIndex(const TableList& list, const std::string& name);
// Sorts `entries` as Add one by one would place them (equal names keep
// their order).
void SortEntries(std::vector<ListEntry>& entries);

// True when some entry equals `text` after both are lower-cased.
bool ListContains(const TableList& list, const std::string& text);
// Removes every entry exactly equal to `text`; others keep their order.
void RemoveFromList(TableList& list, const std::string& text);
// The same, limited to the entries of `schema` (and those without one);
// the empty schema limits nothing.
void RemoveFromListInSchema(TableList& list, const std::string& text, const std::string& schema);
void SelectAll(TableList& list);
void DeselectAll(TableList& list);

class ProgressBar {
 public:
  virtual ~ProgressBar() = default;
  // 0..100; adapters show it rounded.
  virtual void SetValue(double percent) = 0;
  virtual void SetText(const std::string& text) = 0;
};

inline constexpr const char* kProgressRestText = "Progress Bar";

enum class PointerShape { kDefault = 0, kHourglass = 11, kCustom = 99 };

class Pointer {
 public:
  virtual ~Pointer() = default;
  virtual PointerShape Get() const = 0;
  virtual void Set(PointerShape shape) = 0;
};

enum class MessageIcon { kNone = 0, kExclamation = 48 };
enum class Answer { kYes = 6, kNo = 7 };

// Modal dialogs. A title of nullopt means the application title.
class Dialogs {
 public:
  virtual ~Dialogs() = default;
  virtual void Message(const std::string& text, std::optional<std::string> title = std::nullopt,
                       MessageIcon icon = MessageIcon::kNone) = 0;
  virtual Answer Question(const std::string& text, std::optional<std::string> title) = 0;
  // The same with No as the button Return presses: for a question whose Yes
  // gives up work.
  virtual Answer QuestionDefaultNo(const std::string& text, std::optional<std::string> title) {
    return Question(text, std::move(title));
  }
  // The typed text on OK, the empty text on Cancel.
  virtual std::string Prompt(const std::string& text, std::optional<std::string> title,
                             const std::string& default_answer) = 0;
  // One folder path, or the empty text when cancelled.
  virtual std::string ChooseFolder(const std::string& title, const std::string& start) = 0;
};

// Lets the window repaint and answer clicks during long work.
class EventPump {
 public:
  virtual ~EventPump() = default;
  virtual void Pump() = 0;
};

class SettingsSource {
 public:
  virtual ~SettingsSource() = default;
  // Read at the moment of use, never cached by handlers.
  virtual ConnectionSettings Current() const = 0;
  // The code page setting for new Paradox tables ("" or "auto": chosen by
  // each table's text).
  virtual std::string ExportCodePage() const { return ""; }
};

}  // namespace corvane::ui
