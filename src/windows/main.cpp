// corvane: the login window first, the tables window when both sides answer.
#include <QApplication>

#include "app/program_folder.h"
#include "app/settings_store.h"
#include "windows/flow.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  // Closing either window ends the program by itself; a message box closed
  // while both windows are hidden must not.
  QApplication::setQuitOnLastWindowClosed(false);
  auto store = corvane::app::MakeIniSettingsStore(corvane::app::DefaultConfigRoot());
  corvane::windows::WorkGate gate;
  corvane::windows::Windows windows({*store, corvane::app::ProgramFolder(), gate, nullptr});
  windows.Start();
  return QApplication::exec();
}
