// The ui interfaces on a terminal: failure dialogs and messages on stderr,
// questions answered by options (or asked when stdin is a terminal), a
// progress bar on stderr when it is a terminal.
#pragma once

#include <string>

#include "ui/memory_surfaces.h"
#include "ui/surfaces.h"

namespace corvane::cli {

enum class Policy { kAsk, kYes, kNo };

// A question is asked when stdin is a terminal and answered No otherwise.
class ConsoleDialogs : public ui::Dialogs {
 public:
  std::string prompt_answer;  // answer to the rename prompt
  bool verbose = false;       // texts whole, not shortened

  void Message(const std::string& text, std::optional<std::string> title,
               ui::MessageIcon icon) override;
  ui::Answer Question(const std::string& text, std::optional<std::string> title) override;
  std::string Prompt(const std::string& text, std::optional<std::string> title,
                     const std::string& default_answer) override;
  std::string ChooseFolder(const std::string& title, const std::string& start) override;

  int failures = 0;  // failure messages (the exclamation icon) printed
  int messages = 0;  // other messages printed
};

class ConsoleProgress : public ui::ProgressBar {
 public:
  ConsoleProgress();
  void SetValue(double percent) override;
  void SetText(const std::string& text) override;

 private:
  bool tty_;
  int shown_ = -1;
};

class ConsolePointer : public ui::Pointer {
 public:
  ui::PointerShape Get() const override { return shape_; }
  void Set(ui::PointerShape s) override { shape_ = s; }

 private:
  ui::PointerShape shape_ = ui::PointerShape::kDefault;
};

class NullPump : public ui::EventPump {
 public:
  void Pump() override {}
};

// Failure texts separate their pieces with bare CRs, which a terminal would
// print over each other: each becomes a line break; control characters of
// names are shown as escapes.
std::string ForTerminal(const std::string& text);
// Asks on stderr and reads a line from stdin; true for an answer starting "y".
bool AskYesNo(const std::string& question);

// Turns "--overwrite"/"--skip-existing" style flags into a policy.
Policy PolicyFrom(bool yes_flag, bool no_flag);

}  // namespace corvane::cli
