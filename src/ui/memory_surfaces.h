// In-memory implementations of the ui interfaces: used by the command line
// and by tests, which script the answers and read back what was shown.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "ui/surfaces.h"

namespace corvane::ui {

class MemoryTableList : public TableList {
 public:
  int Count() const override { return static_cast<int>(entries_.size()); }
  std::string Text(int index) const override { return entries_.at(index).name; }
  bool Selected(int index) const override { return entries_.at(index).selected; }
  void SetSelected(int index, bool selected) override { entries_.at(index).selected = selected; }
  int SelectedCount() const override;
  int CurrentIndex() const override { return current_; }
  void SetCurrentIndex(int index) override;
  void RemoveAt(int index) override;
  void AddInSchema(const std::string& name, const std::string& schema) override;
  std::string Schema(int index) const override { return entries_.at(index).schema; }
  void AddAll(std::vector<ListEntry> entries) override;
  std::string Folder(int index) const override { return entries_.at(index).folder; }
  void Clear() override;

  std::vector<std::string> Names() const;
  // Selects the entries with these exact names and makes the last one current.
  void SelectNames(const std::vector<std::string>& names);

 private:
  struct Entry {
    std::string name;
    bool selected = false;
    std::string schema;
    std::string folder;
  };
  std::vector<Entry> entries_;
  int current_ = -1;
};

class MemoryProgressBar : public ProgressBar {
 public:
  void SetValue(double percent) override {
    values.push_back(percent);
    value = percent;
  }
  void SetText(const std::string& t) override { text = t; }
  double value = 0;
  std::string text = kProgressRestText;
  std::vector<double> values;  // every value set, in order
};

class MemoryPointer : public Pointer {
 public:
  PointerShape Get() const override { return shape; }
  void Set(PointerShape s) override {
    shape = s;
    history.push_back(s);
  }
  PointerShape shape = PointerShape::kDefault;
  std::vector<PointerShape> history;
};

// Records every dialog; answers come from the queues (Yes / empty text when
// a queue runs dry).
class ScriptedDialogs : public Dialogs {
 public:
  struct Shown {
    std::string kind;  // "message", "question", "prompt", "folder"
    std::string text;
    std::string title;  // "" for the application title
    MessageIcon icon = MessageIcon::kNone;
  };
  void Message(const std::string& text, std::optional<std::string> title,
               MessageIcon icon) override;
  Answer Question(const std::string& text, std::optional<std::string> title) override;
  std::string Prompt(const std::string& text, std::optional<std::string> title,
                     const std::string& default_answer) override;
  std::string ChooseFolder(const std::string& title, const std::string& start) override;

  std::vector<Shown> shown;
  std::deque<Answer> answers;
  std::deque<std::string> prompt_answers;  // "\x01" means: keep the default
  std::deque<std::string> folder_answers;
  // Texts of the failure dialogs only, in order.
  std::vector<std::string> Failures() const;
};

class CountingPump : public EventPump {
 public:
  void Pump() override { ++count; }
  long count = 0;
};

class FixedSettings : public SettingsSource {
 public:
  explicit FixedSettings(ConnectionSettings s = {}) : settings(std::move(s)) {}
  ConnectionSettings Current() const override { return settings; }
  std::string ExportCodePage() const override { return export_code_page; }
  ConnectionSettings settings;
  std::string export_code_page;
};

}  // namespace corvane::ui
