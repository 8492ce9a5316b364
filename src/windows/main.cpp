// corvane: the login window first, the tables window when both sides answer.
#include <QApplication>
#include <QMessageBox>

#include <iostream>
#include <new>
#include <string>

#include "app/program_folder.h"
#include "app/settings_store.h"
#include "windows/flow.h"
#include "windows/qt_surfaces.h"

namespace {

// Handlers give up a step that runs out of memory themselves; anything
// else that does ends here, with one message instead of an abort.
class GuardedApplication : public QApplication {
 public:
  using QApplication::QApplication;
  bool notify(QObject* receiver, QEvent* event) override {
    try {
      return QApplication::notify(receiver, event);
    } catch (const std::bad_alloc&) {
      QMessageBox::critical(nullptr, corvane::windows::ApplicationTitle(),
                            "Out of memory: the last action needed more memory than the "
                            "system could give, and was given up.");
      return false;
    }
  }
};

// Answered before Qt starts, so they need no display.
bool AnswersAlone(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string word = argv[i];
    if (word == "--version" || word == "-V") {
      std::cout << "corvane " << CORVANE_VERSION << "\n";
      return true;
    }
    if (word == "--help" || word == "-h" || word == "-?") {
      std::cout << "Usage: corvane [--help | --version]\n\n"
                   "Opens the login window: the Paradox folder and the PostgreSQL login,\n"
                   "then the tables window to copy, delete and rename tables on either\n"
                   "side. The login is stored per user and filled in at the next start.\n"
                   "Qt's own options (-platform, -style ...) are taken as well.\n\n"
                   "  -h, -?, --help  show this text\n"
                   "  -V, --version   show the version\n\n"
                   "corvane-cli does the same from a terminal; see corvane-cli --help.\n";
      return true;
    }
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (AnswersAlone(argc, argv)) return 0;
  GuardedApplication app(argc, argv);
  // Closing either window ends the program by itself; a message box closed
  // while both windows are hidden must not.
  QApplication::setQuitOnLastWindowClosed(false);
  auto store = corvane::app::MakeIniSettingsStore(corvane::app::DefaultConfigRoot());
  corvane::windows::WorkGate gate;
  corvane::windows::Windows windows({*store, corvane::app::ProgramFolder(), gate, nullptr});
  windows.Start();
  return QApplication::exec();
}
