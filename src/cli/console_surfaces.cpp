#include "cli/console_surfaces.h"

#include <unistd.h>

#include <cstdio>
#include <iostream>

#include "cli/printable.h"
#include "ui/display_text.h"
#include "ui/procedure.h"

namespace corvane::cli {

// The failure text separates its pieces with bare CRs, which a terminal
// would print over each other. Other control characters come from names
// and are shown as escapes, so no name can drive the terminal.
std::string ForTerminal(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
      out += '\n';
    } else {
      out += text[i];
    }
  }
  return SafeForTerminal(out);
}

bool AskYesNo(const std::string& question) {
  std::cerr << SafeForTerminal(question) << " [y/N] " << std::flush;
  std::string line;
  if (!std::getline(std::cin, line)) return false;
  return !line.empty() && (line[0] == 'y' || line[0] == 'Y');
}

Policy PolicyFrom(bool yes_flag, bool no_flag) {
  if (yes_flag) return Policy::kYes;
  if (no_flag) return Policy::kNo;
  return Policy::kAsk;
}

void ConsoleDialogs::Message(const std::string& text, std::optional<std::string> title,
                             ui::MessageIcon icon) {
  const std::string shown = verbose ? text : ui::ShortenForDisplay(text);
  if (icon == ui::MessageIcon::kExclamation) {
    ++failures;
    std::cerr << "\n" << (title ? *title + ": " : "") << ForTerminal(shown) << "\n";
  } else {
    ++messages;
    std::cerr << ForTerminal(shown) << "\n";
  }
}

ui::Answer ConsoleDialogs::Question(const std::string& text, std::optional<std::string>) {
  // Without a person at the terminal the safe answer is No.
  if (::isatty(STDIN_FILENO) && AskYesNo(text)) return ui::Answer::kYes;
  std::cerr << SafeForTerminal(text) << " No\n";
  return ui::Answer::kNo;
}

std::string ConsoleDialogs::Prompt(const std::string&, std::optional<std::string>,
                                   const std::string&) {
  return prompt_answer;
}

std::string ConsoleDialogs::ChooseFolder(const std::string&, const std::string&) { return ""; }

ConsoleProgress::ConsoleProgress() : tty_(::isatty(STDERR_FILENO)) {}

void ConsoleProgress::SetValue(double percent) {
  if (!tty_) return;
  int p = static_cast<int>(percent + 0.5);
  if (p == shown_) return;
  shown_ = p;
  int bars = p / 4;
  std::fprintf(stderr, "\r[%-25.*s] %3d%%", bars, "#########################", p);
  std::fflush(stderr);
}

void ConsoleProgress::SetText(const std::string& text) {
  if (text != ui::kProgressRestText) {  // a notice, such as waiting for our turn
    if (tty_ && shown_ >= 0) std::fputs("\n", stderr);
    std::fprintf(stderr, "%s\n", text.c_str());
    shown_ = -1;
    return;
  }
  if (!tty_ || shown_ < 0) return;
  std::fprintf(stderr, "\r%40s\r", "");
  std::fflush(stderr);
  shown_ = -1;
}

}  // namespace corvane::cli
