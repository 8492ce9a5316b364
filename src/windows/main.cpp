// corvane: the login window first, the tables window when both sides answer.
#include <QApplication>
#include <QMessageBox>

#include <new>

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

}  // namespace

int main(int argc, char** argv) {
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
