#include "ui/held_dialogs.h"

namespace corvane::ui {

void HeldDialogs::Message(const std::string& text, std::optional<std::string> title,
                          MessageIcon icon) {
  if (hold_()) {
    held_.push_back(text);
    return;
  }
  inner_.Message(text, std::move(title), icon);
}

Answer HeldDialogs::Question(const std::string& text, std::optional<std::string> title) {
  return hold_() ? Answer::kNo : inner_.Question(text, std::move(title));
}

Answer HeldDialogs::QuestionDefaultNo(const std::string& text, std::optional<std::string> title) {
  return hold_() ? Answer::kNo : inner_.QuestionDefaultNo(text, std::move(title));
}

std::string HeldDialogs::Prompt(const std::string& text, std::optional<std::string> title,
                                const std::string& default_answer) {
  return hold_() ? std::string() : inner_.Prompt(text, std::move(title), default_answer);
}

std::string HeldDialogs::ChooseFolder(const std::string& title, const std::string& start) {
  return hold_() ? std::string() : inner_.ChooseFolder(title, start);
}

}  // namespace corvane::ui
