// Dialogs that go quiet while work is being stopped: a window closed or
// told to stop mid-copy must not raise a box about the stop itself (an
// export given up, say), nor ask about tables it will not reach. What was
// held back is kept, so the one message after the stop can tell it.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "ui/surfaces.h"

namespace corvane::ui {

class HeldDialogs : public Dialogs {
 public:
  // `hold` is asked before every dialog; true holds it back.
  HeldDialogs(Dialogs& inner, std::function<bool()> hold) : inner_(inner), hold_(std::move(hold)) {}

  // Held: kept. Questions are answered No, prompts and folders cancelled,
  // which is what a stopped handler should take.
  void Message(const std::string& text, std::optional<std::string> title,
               MessageIcon icon) override;
  Answer Question(const std::string& text, std::optional<std::string> title) override;
  Answer QuestionDefaultNo(const std::string& text, std::optional<std::string> title) override;
  std::string Prompt(const std::string& text, std::optional<std::string> title,
                     const std::string& default_answer) override;
  std::string ChooseFolder(const std::string& title, const std::string& start) override;

  // The messages held back since the last call, in order.
  std::vector<std::string> TakeHeld() { return std::exchange(held_, {}); }

 private:
  Dialogs& inner_;
  std::function<bool()> hold_;
  std::vector<std::string> held_;
};

}  // namespace corvane::ui
