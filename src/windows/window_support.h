// Small pieces both windows use: twips, fonts, colours, the skin, the hand
// cursor, the icon, the hover filter and the guard against a second work
// handler starting while one runs.
#pragma once

#include <QCursor>
#include <QIcon>
#include <QObject>
#include <QRect>
#include <QString>
#include <memory>
#include <string>
#include <vector>

#include "base/status.h"
#include "base/stop_request.h"

class QWidget;

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

// One work handler at a time across both windows: while one runs (and pumps
// events) a click on another work button does nothing.
class WorkGate {
 public:
  bool busy() const { return busy_; }

  class Scope {
   public:
    explicit Scope(WorkGate& gate) : gate_(gate), entered_(!gate.busy_) { gate_.busy_ = true; }
    ~Scope() {
      if (!entered_) return;
      gate_.busy_ = false;
      ClearStopRequest();  // a stop asked of this handler is spent
    }
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;
    // False when another handler was already running: do nothing.
    bool entered() const { return entered_; }

   private:
    WorkGate& gate_;
    bool entered_;
  };

 private:
  bool busy_ = false;
};

}  // namespace corvane::windows
