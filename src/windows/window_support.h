// Small pieces both windows use: twips, fonts, colours, the skin, the hand
// cursor, the icon, the hover filter and the guard against a second work
// handler starting while one runs.
#pragma once

#include <QCursor>
#include <QIcon>
#include <QObject>
#include <QRect>
#include <QString>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/status.h"
#include "base/stop_request.h"

class QWidget;

namespace corvane::ui {
class Dialogs;
}

namespace corvane::windows {

class QtPointer;

// 15 twips make a pixel at 96 dpi.
int PxFromTwips(int twips);
// Places `w` at a rectangle given in twips (relative to its parent).
void PlaceTwips(QWidget* w, int left, int top, int width, int height);

// Where a control goes as its window grows beyond its designed size: how
// much of the extra width and height moves it and how much widens or
// heightens it. Half shares split the width between the two sides.
enum class Share { kNone, kHalf, kAll };
struct Anchor {
  Share move_x = Share::kNone, move_y = Share::kNone;
  Share grow_x = Share::kNone, grow_y = Share::kNone;
};

// The controls of a window that can grow, each with its designed place.
class GrowingLayout {
 public:
  // Takes `w`'s present geometry as its designed place.
  void Add(QWidget* w, Anchor anchor);
  // Places every control for `extra` pixels beyond the designed size
  // (negative values count as none).
  void Apply(QSize extra) const;

 private:
  struct Item {
    QWidget* widget;
    QRect designed;
    Anchor anchor;
  };
  std::vector<Item> items_;
};

// Moves a window, not yet shown, to the middle of the screen it will
// appear on.
void CentreOnScreen(QWidget* window);

// Arial 9 pt bold for frames, labels, fields and lists; 11.25 pt for buttons.
void UseFieldFont(QWidget* w);
void UseButtonFont(QWidget* w);

// The desktop's button-face colour, and white.
void PaintBackground(QWidget* w, bool button_face);
// Gives the window, its frames and its labels the button-face colour or white.
void ColourWindow(QWidget* window, bool button_face);

// The skin file's text applied as the program's style sheet.
Status LoadSkin(const std::string& path);

// A Windows .cur file as a cursor: the picture through Qt's icon reader,
// the hot spot from the file's first directory entry.
Result<QCursor> LoadCursorFile(const std::string& path);

// The program's icon, built into the executable.
QIcon ApplicationIcon();

// Watches every surface of a window and sets the window's pointer by the
// hover rule for the innermost control under the mouse.
class HoverFilter : public QObject {
 public:
  HoverFilter(QWidget* window, QtPointer& pointer);
  // Starts watching the window and everything in it (call after building it).
  void Watch();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QWidget* window_;
  QtPointer& pointer_;
};

// Return presses the push button that has the focus, as Space does (and
// as Return does on the platform the program came from), in `window`.
void PressFocusedButtonOnReturn(QWidget* window);
// A list shows that it has the focus even with no current entry.
void ShowListFocus(QWidget* list);

// One work handler at a time across both windows: while one runs (and pumps
// events) a click on another work button does not start it. A copy says
// what it is and how far it got, so the other window can show it, Escape
// can ask to stop it and a button pressed meanwhile can say why it waits.
class WorkGate {
 public:
  bool busy() const { return busy_; }
  // The running copy as the windows name it; empty when none runs.
  const std::string& copy() const { return copy_; }
  // The window whose button started the work.
  const QWidget* owner() const { return owner_; }
  int percent() const { return percent_; }
  void SetPercent(int percent);
  // Set when the user asked the copy to stop (Escape, then Yes).
  bool stopped_by_user() const { return stopped_by_user_; }
  // Asks the running copy to stop at its next row; false when none runs.
  bool StopCopy();
  // A window was closed: the running work stops and nothing more is said.
  void Closed();
  bool closed() const { return closed_; }

  // `changed` is told when work starts, moves on and ends; the returned
  // number takes it back (a window that goes first).
  int Watch(std::function<void()> changed);
  void Unwatch(int id);

  class Scope {
   public:
    explicit Scope(WorkGate& gate, const QWidget* owner = nullptr, std::string copy = {});
    ~Scope();
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;
    // False when another handler was already running: do nothing.
    bool entered() const { return entered_; }

   private:
    WorkGate& gate_;
    bool entered_;
  };

 private:
  void Tell();

  bool busy_ = false;
  std::string copy_;
  const QWidget* owner_ = nullptr;
  int percent_ = 0;
  bool stopped_by_user_ = false;
  bool closed_ = false;
  std::vector<std::pair<int, std::function<void()>>> watchers_;
  int next_watcher_ = 0;
};

// Escape during a copy: asks whether to stop it, No unless the user says
// Yes, and on Yes asks the copy to stop at its next row. Nothing when no
// copy runs or the question is already open.
void AskToStopCopy(WorkGate& gate, ui::Dialogs& dialogs);

}  // namespace corvane::windows
