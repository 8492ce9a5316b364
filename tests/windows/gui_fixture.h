// What every GUI test needs: one offscreen QApplication for the process,
// a settings store in a temporary folder, scripted dialogs and the program
// folder the build filled (cursor, skin).
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QMouseEvent>
#include <QWidget>
#include <cstdlib>
#include <memory>

#include "app/program_folder.h"
#include "app/settings_store.h"
#include "ui/memory_surfaces.h"
#include "windows/services.h"
#include "windows/test_support.h"

namespace corvane::testing {

inline QApplication& App() {
  static int argc = 1;
  static char name[] = "corvane-test";
  static char* argv[] = {name, nullptr};
  // Lives to the end of the process: widgets of finished tests are gone by then.
  static QApplication* app = [] {
    // Offscreen on a screen of 1280x1024, the smallest a user is likely to have.
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if (platform.isEmpty() || platform == "offscreen")
      qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" CORVANE_TEST_SCREEN_CONFIG);
    auto* a = new QApplication(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    return a;
  }();
  return *app;
}

class GuiTest : public ::testing::Test {
 protected:
  GuiTest() { App(); }
  ~GuiTest() override { qApp->setStyleSheet(QString()); }

  windows::WindowServices Services(const std::string& program_folder) {
    return {*store, program_folder, gate, &dialogs};
  }
  windows::WindowServices Services() { return Services(app::ProgramFolder()); }
  std::string Stored(const std::string& key) {
    return store->Read(app::kApplication, app::kSection, key, "<absent>").value();
  }
  void Store(const std::string& key, const std::string& value) {
    ASSERT_TRUE(store->Write(app::kApplication, app::kSection, key, value).ok());
  }

  TempFolder config;
  std::unique_ptr<app::SettingsStore> store = app::MakeIniSettingsStore(config.str());
  windows::WorkGate gate;
  ui::ScriptedDialogs dialogs;
};

// The mouse moving over `w` at `at` (its centre by default), as the window
// system reports it.
inline void HoverOver(QWidget* w, QPoint at = {-1, -1}) {
  if (at.x() < 0) at = w->rect().center();
  QMouseEvent move(QEvent::MouseMove, at, w->mapToGlobal(at), Qt::NoButton, Qt::NoButton,
                   Qt::NoModifier);
  QApplication::sendEvent(w, &move);
}

}  // namespace corvane::testing
