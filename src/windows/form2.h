// Form2, the tables window: PostgreSQL tables on the left, Paradox tables on
// the right, the actions of each side below its list.
//
//   Frame1 "PostgreSQL Tables"              Frame2 "Paradox Tables"
//   List1         PostgreSQL tables         List2         Paradox tables
//   PushButton10  "Select All"              PushButton8   "Select All"
//   PushButton11  "Deselect All"            PushButton9   "Deselect All"
//   PushButton3   "Send Table/s To Paradox" PushButton4   "Send Table/s To PostgreSQL"
//   PushButton1   "Delete Table/s"          PushButton5   "Delete Table/s"
//   PushButton6   "Rename Table"            PushButton7   "Rename Table"
//   ProgressBar1  the progress of a copy, "Progress Bar" at rest
//   PushButton2   "< Back"                  PushButton12  "Help"
//   Check1 (under Frame2's buttons)  "Keep field types and keys", for both
//                 copies; its state is kept in the settings
//
// The window opens at its designed size and can be enlarged: the lists take
// the extra room, the buttons keep their size below them. The size is kept
// in the settings.
#pragma once

#include <QWidget>
#include <memory>

#include "frame/window_handlers.h"
#include "ui/held_dialogs.h"
#include "ui/pump.h"
#include "ui/windows.h"
#include "windows/qt_surfaces.h"
#include "windows/services.h"

class QCheckBox;
class QGroupBox;
class QListWidget;
class QProgressBar;
class QPushButton;

namespace corvane::windows {

class Form1;

class Form2 : public QWidget, public frame::TablesFrame {
 public:
  Form2(WindowServices services, Form1& login);
  ~Form2() override;

  // The load step: refills both lists from the catalogs.
  void Form_Load();
  bool loaded() const { return loaded_; }
  QtPointer& pointer() { return pointer_; }
  ui::TableList& postgres_list() { return *list1_; }
  ui::TableList& paradox_list() { return *list2_; }

  void PushButton1_Click();
  void PushButton2_Click();
  void PushButton3_Click();
  void PushButton4_Click();
  void PushButton5_Click();
  void PushButton6_Click();
  void PushButton7_Click();
  void PushButton12_Click();
  void Check1_Click();
  bool keep_types() const;

  // TablesFrame
  Status ApplyWindowColours() override;
  Status SetIcon() override;
  Status LoadHandCursor(const std::string& path) override;
  Status SetCaption(const std::string& caption) override;
  Status SetHeight(int twips) override;

  // The client size the design gives, with the height of the load step's
  // rule once the window system has told the frame.
  QSize DesignedSize() const;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  bool event(QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  void BuildControls();
  QGroupBox* BuildSide(const char* frame, const char* title, int left, const char* list,
                       const int buttons[5], const char* send_caption);
  void SetTabOrder();
  void Wire();
  ui::TablesWindow Context();
  void SetDesign(int outer_height, int frame_height);
  void FitDesignedHeight();
  void FitToScreen();
  QSize FrameMargins() const;
  void RestoreSize();
  void SaveSize();
  template <typename Handler>
  void RunWork(Handler handler);
  template <typename Handler>
  void RunCopy(const char* copy, ui::TableList& source, Handler handler);
  void SayWhyItWaits();

  WindowServices services_;
  Form1& login_;
  std::unique_ptr<QtDialogs> own_dialogs_;
  ui::Dialogs* dialogs_;
  // What the handlers are given: quiet once they are asked to stop.
  ui::HeldDialogs held_dialogs_;
  QtPointer pointer_;
  QtEventPump pump_;
  ui::ThrottledPump throttled_pump_;
  bool loaded_ = false;
  GrowingLayout layout_;
  int outer_height_px_;      // the load step's height, frame included
  int frame_height_px_ = 0;  // caption and borders, once known
  static constexpr int kMostRefits = 3;
  int refits_ = 0;  // heights asked again since the window was shown
  bool centred_ = false;

  QGroupBox* Frame1;
  QGroupBox* Frame2;
  QListWidget* List1;
  QListWidget* List2;
  QProgressBar* ProgressBar1;
  QPushButton* PushButton[13] = {};  // PushButton[1]..PushButton[12]
  QCheckBox* Check1;
  std::unique_ptr<QtTableList> list1_;
  std::unique_ptr<QtTableList> list2_;
  std::unique_ptr<QtProgressBar> progress_;
};

}  // namespace corvane::windows
