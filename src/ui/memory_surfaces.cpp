#include "ui/memory_surfaces.h"

#include <set>

#include "ui/procedure.h"

namespace corvane::ui {

int MemoryTableList::SelectedCount() const {
  int n = 0;
  for (const auto& e : entries_) n += e.selected ? 1 : 0;
  return n;
}

void MemoryTableList::SetCurrentIndex(int index) {
  current_ = (index >= 0 && index < Count()) ? index : -1;
}

void MemoryTableList::RemoveAt(int index) {
  entries_.erase(entries_.begin() + index);
  if (current_ == index)
    current_ = -1;
  else if (current_ > index)
    --current_;
}

void MemoryTableList::AddInSchema(const std::string& name, const std::string& schema) {
  int at = SortedInsertIndex(*this, name);
  entries_.insert(entries_.begin() + at, Entry{name, false, schema, {}});
  if (current_ >= at) ++current_;
}

void MemoryTableList::AddAll(std::vector<ListEntry> entries) {
  SortEntries(entries);
  std::vector<Entry> merged;
  merged.reserve(entries_.size() + entries.size());
  size_t old = 0;
  int current = current_;
  for (ListEntry& e : entries) {
    // Existing equal names stay first, as Add puts a name after them.
    while (old < entries_.size() && !ListOrderLess(e.name, entries_[old].name)) {
      if (static_cast<int>(old) == current_) current = static_cast<int>(merged.size());
      merged.push_back(std::move(entries_[old++]));
    }
    merged.push_back(Entry{std::move(e.name), false, {}, std::move(e.folder)});
  }
  for (; old < entries_.size(); ++old) {
    if (static_cast<int>(old) == current_) current = static_cast<int>(merged.size());
    merged.push_back(std::move(entries_[old]));
  }
  entries_ = std::move(merged);
  current_ = current;
}

void MemoryTableList::Clear() {
  entries_.clear();
  current_ = -1;
}

std::vector<std::string> MemoryTableList::Names() const {
  std::vector<std::string> out;
  for (const auto& e : entries_) out.push_back(e.name);
  return out;
}

void MemoryTableList::SelectNames(const std::vector<std::string>& names) {
  const std::set<std::string> wanted(names.begin(), names.end());
  for (int i = 0; i < Count(); ++i) {
    if (wanted.count(entries_[i].name) != 0) {
      entries_[i].selected = true;
      current_ = i;
    }
  }
}

void ScriptedDialogs::Message(const std::string& text, std::optional<std::string> title,
                              MessageIcon icon) {
  shown.push_back({"message", text, title.value_or(""), icon});
}

Answer ScriptedDialogs::Question(const std::string& text, std::optional<std::string> title) {
  shown.push_back({"question", text, title.value_or(""), MessageIcon::kNone});
  if (answers.empty()) return Answer::kYes;
  Answer a = answers.front();
  answers.pop_front();
  return a;
}

std::string ScriptedDialogs::Prompt(const std::string& text, std::optional<std::string> title,
                                    const std::string& default_answer) {
  shown.push_back({"prompt", text, title.value_or(""), MessageIcon::kNone});
  if (prompt_answers.empty()) return "";
  std::string a = prompt_answers.front();
  prompt_answers.pop_front();
  return a == "\x01" ? default_answer : a;
}

std::string ScriptedDialogs::ChooseFolder(const std::string& title, const std::string& start) {
  shown.push_back({"folder", start, title, MessageIcon::kNone});
  if (folder_answers.empty()) return "";
  std::string a = folder_answers.front();
  folder_answers.pop_front();
  return a;
}

std::vector<std::string> ScriptedDialogs::Failures() const {
  std::vector<std::string> out;
  for (const auto& s : shown) {
    if (s.kind == "message" && s.title == kFailureTitle) out.push_back(s.text);
  }
  return out;
}

}  // namespace corvane::ui
