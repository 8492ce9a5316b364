// Form1, the login window: the Paradox folder and the PostgreSQL login.
//
//   Frame1       "Paradox Database"       Frame2       "PostgreSQL Login"
//   Label2       "Paradox Folder:"        Label1       "Server:"
//   Text1        Paradox folder           Text2        server
//   PushButton5  "..." choose folder      Label5/Text3 "Port:" / port
//   PushButton4  sample folder            Label4/Text4 "Username:" / user
//   PushButton3  test the folder          Label6/Text5 "Password:" / password (*)
//   PushButton2  "Next >"                 Label3/Text6 "Database:" / database
//                                         PushButton1  test the login
//                                         PushButton6  "Help"
//
// The six fields are the program's only copy of the login while it runs;
// each change is written to the settings store at once.
#pragma once

#include <QWidget>
#include <memory>

#include "frame/window_handlers.h"
#include "ui/pump.h"
#include "ui/surfaces.h"
#include "ui/windows.h"
#include "windows/qt_surfaces.h"
#include "windows/services.h"

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace corvane::windows {

class Form2;

class Form1 : public QWidget, public ui::SettingsSource, public frame::LoginFrame {
 public:
  explicit Form1(WindowServices services);
  ~Form1() override;

  void SetTablesWindow(Form2* form2) { form2_ = form2; }
  // The load step; true when the quick path showed the tables window.
  bool Form_Load();

  ui::ConnectionSettings Current() const override;
  std::string ExportCodePage() const override;
  QtPointer& pointer() { return pointer_; }
  ui::Dialogs& dialogs() { return *dialogs_; }
  QLineEdit* Field(int number) const { return fields_[number - 1]; }

  void PushButton1_Click();
  void PushButton2_Click();
  void PushButton3_Click();
  void PushButton4_Click();
  void PushButton5_Click();
  void PushButton6_Click();

  // LoginFrame
  Status ApplySkin() override;
  Status SetCaption(const std::string& caption) override;
  Status SetIcon() override;
  Status SetApplicationTitle(const std::string& title) override;
  Status LoadHandCursor(const std::string& path) override;
  void SetField(int number, const std::string& text) override;
  void LoadTablesWindow() override;
  Status ShowTablesWindow() override;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildControls();
  void BuildLoginFrame();
  void SetTabOrder();
  void Wire();
  ui::LoginWindow Context();
  template <typename Handler>
  void RunWork(Handler handler);
  frame::ReadSetting Reader();
  void ShowOtherWork();

  WindowServices services_;
  std::unique_ptr<QtDialogs> own_dialogs_;
  ui::Dialogs* dialogs_;
  QtPointer pointer_;
  QtEventPump pump_;
  ui::ThrottledPump throttled_pump_;
  frame::FieldStore field_store_;
  Form2* form2_ = nullptr;
  bool centred_ = false;
  int gate_watch_ = 0;
  QString caption_;  // the caption while no other window's work shows in it

  QGroupBox* Frame1;
  QGroupBox* Frame2;
  QLabel* Label1;
  QLabel* Label2;
  QLabel* Label3;
  QLabel* Label4;
  QLabel* Label5;
  QLabel* Label6;
  QLineEdit* Text1;
  QLineEdit* Text2;
  QLineEdit* Text3;
  QLineEdit* Text4;
  QLineEdit* Text5;
  QLineEdit* Text6;
  QPushButton* PushButton1;
  QPushButton* PushButton2;
  QPushButton* PushButton3;
  QPushButton* PushButton4;
  QPushButton* PushButton5;
  QPushButton* PushButton6;
  QLineEdit* fields_[frame::kFieldCount];
};

}  // namespace corvane::windows
