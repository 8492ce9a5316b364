#include "windows/window_support.h"

#include <QApplication>
#include <QEvent>
#include <QFile>
#include <QGroupBox>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QWidget>
#include <algorithm>
#include <cmath>
#include <filesystem>

#include "frame/hover.h"
#include "frame/stopping.h"
#include "windows/qt_surfaces.h"

// The resources live in a static library: register them before first use.
static void InitResources() { Q_INIT_RESOURCE(corvane); }

namespace corvane::windows {
namespace {

uint16_t ReadU16(const QByteArray& bytes, int at) {
  return static_cast<uint16_t>(static_cast<uint8_t>(bytes[at]) |
                               (static_cast<uint8_t>(bytes[at + 1]) << 8));
}

// Qt names the parts it builds itself (a list's viewport, scroll bars).
bool IsControlName(const QString& name) {
  return !name.isEmpty() && !name.startsWith(QLatin1String("qt_")) &&
         !name.startsWith(QLatin1String("_q_"));
}

// The control a widget belongs to: the nearest widget (itself included)
// that carries a control name, up to the window.
QWidget* ControlOf(QWidget* w, QWidget* window) {
  while (w != nullptr && w != window && !IsControlName(w->objectName())) w = w->parentWidget();
  return w;
}

int Part(int extra, Share share) {
  switch (share) {
    case Share::kNone:
      return 0;
    case Share::kHalf:
      return extra / 2;
    case Share::kAll:
      return extra;
  }
  return 0;
}

}  // namespace

void GrowingLayout::Add(QWidget* w, Anchor anchor) { items_.push_back({w, w->geometry(), anchor}); }

void GrowingLayout::Apply(QSize extra) const {
  const int dx = std::max(0, extra.width()), dy = std::max(0, extra.height());
  for (const Item& item : items_) {
    const Anchor& a = item.anchor;
    item.widget->setGeometry(
        item.designed.x() + Part(dx, a.move_x), item.designed.y() + Part(dy, a.move_y),
        item.designed.width() + Part(dx, a.grow_x), item.designed.height() + Part(dy, a.grow_y));
  }
}

void CentreOnScreen(QWidget* window) {
  const QScreen* screen = window->screen();
  if (screen == nullptr) return;
  // The frame is not known before the window system has shown the window:
  // centre what is known.
  QRect frame = window->frameGeometry();
  QRect area = screen->availableGeometry();
  frame.moveCenter(area.center());
  window->move(std::max(area.left(), frame.left()), std::max(area.top(), frame.top()));
}

int PxFromTwips(int twips) { return static_cast<int>(std::lround(twips / 15.0)); }

void PlaceTwips(QWidget* w, int left, int top, int width, int height) {
  w->setGeometry(PxFromTwips(left), PxFromTwips(top), PxFromTwips(width), PxFromTwips(height));
}

void UseFieldFont(QWidget* w) {
  QFont f(QStringLiteral("Arial"));
  f.setPointSizeF(9);
  f.setBold(true);
  w->setFont(f);
}

void UseButtonFont(QWidget* w) {
  QFont f(QStringLiteral("Arial"));
  f.setPointSizeF(11.25);
  f.setBold(true);
  w->setFont(f);
}

void PaintBackground(QWidget* w, bool button_face) {
  QPalette p = w->palette();
  p.setColor(QPalette::Window,
             button_face ? QApplication::palette().color(QPalette::Button) : QColor(Qt::white));
  w->setPalette(p);
  w->setAutoFillBackground(true);
}

void ColourWindow(QWidget* window, bool button_face) {
  PaintBackground(window, button_face);
  for (QWidget* w : window->findChildren<QWidget*>()) {
    if (qobject_cast<QGroupBox*>(w) != nullptr || qobject_cast<QLabel*>(w) != nullptr)
      PaintBackground(w, button_face);
  }
}

Status LoadSkin(const std::string& path) {
  QFile file(QString::fromStdString(path));
  if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
    return Status::IoError("Cannot read the skin file " + path + ": " +
                           file.errorString().toStdString());
  QByteArray text = file.readAll();
  if (file.error() != QFileDevice::NoError)
    return Status::IoError("Cannot read the skin file " + path);
  qApp->setStyleSheet(QString::fromUtf8(text));
  return Status::Ok();
}

Result<QCursor> LoadCursorFile(const std::string& path) {
  QFile file(QString::fromStdString(path));
  if (!file.open(QIODevice::ReadOnly))
    return Status::IoError("Cannot read the cursor file " + path);
  QByteArray bytes = file.readAll();
  // Header (reserved, type, count) and one 16-byte directory entry.
  constexpr int kHeader = 6, kEntry = 16;
  if (bytes.size() < kHeader + kEntry || ReadU16(bytes, 0) != 0 || ReadU16(bytes, 2) != 2 ||
      ReadU16(bytes, 4) < 1)
    return Status::Corruption("Invalid picture: " + path + " is not a cursor file");
  const int hot_x = ReadU16(bytes, kHeader + 4);
  const int hot_y = ReadU16(bytes, kHeader + 6);
  // Qt's icon reader takes the same layout with type 1.
  QByteArray as_icon = bytes;
  as_icon[2] = 1;
  QImage image = QImage::fromData(as_icon, "ICO");
  if (image.isNull()) return Status::Corruption("Invalid picture: " + path);
  return QCursor(QPixmap::fromImage(image), hot_x, hot_y);
}

QIcon ApplicationIcon() {
  InitResources();
  return QIcon(QStringLiteral(":/corvane/corvane.png"));
}

HoverFilter::HoverFilter(QWidget* window, QtPointer& pointer)
    : QObject(window), window_(window), pointer_(pointer) {}

void HoverFilter::Watch() {
  QList<QWidget*> widgets = window_->findChildren<QWidget*>();
  widgets.prepend(window_);
  for (QWidget* w : widgets) {
    w->setMouseTracking(true);
    w->installEventFilter(this);
  }
}

bool HoverFilter::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::MouseMove && event->type() != QEvent::Enter) return false;
  auto* widget = qobject_cast<QWidget*>(watched);
  auto* point = dynamic_cast<QSinglePointEvent*>(event);  // synthetic enters carry no point
  if (widget == nullptr || point == nullptr) return false;
  // Mouse moves travel up to the parents too; only the innermost widget
  // under the mouse counts.
  if (widget->childAt(point->position().toPoint()) != nullptr) return false;
  QWidget* control = ControlOf(widget, window_);
  if (control == nullptr) return false;
  frame::HoverSurface surface = frame::HoverSurfaceOf(window_->objectName().toStdString(),
                                                      control->objectName().toStdString());
  ui::PointerShape next = frame::HoverPointer(pointer_.Get(), surface);
  if (next != pointer_.Get()) pointer_.Set(next);
  return false;
}

void WorkGate::SetPercent(int percent) {
  if (!busy_ || percent == percent_) return;
  percent_ = percent;
  Tell();
}

bool WorkGate::StopCopy() {
  if (!busy_ || copy_.empty()) return false;
  stopped_by_user_ = true;
  RequestStop();
  return true;
}

void WorkGate::Closed() {
  if (!busy_) return;
  closed_ = true;
  RequestStop();
}

int WorkGate::Watch(std::function<void()> changed) {
  watchers_.emplace_back(++next_watcher_, std::move(changed));
  return next_watcher_;
}

void WorkGate::Unwatch(int id) {
  std::erase_if(watchers_, [id](const auto& w) { return w.first == id; });
}

void WorkGate::Tell() {
  // A watcher may show a box that pumps events: call a copy of the list.
  const auto watchers = watchers_;
  for (const auto& w : watchers) w.second();
}

namespace {

class ReturnPresses : public QObject {
 public:
  using QObject::QObject;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::KeyPress) return false;
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key != Qt::Key_Return && key != Qt::Key_Enter) return false;
    auto* button = qobject_cast<QPushButton*>(watched);
    if (button == nullptr || !button->isEnabled()) return false;
    button->click();
    return true;
  }
};

}  // namespace

void PressFocusedButtonOnReturn(QWidget* window) {
  auto* filter = new ReturnPresses(window);
  for (QPushButton* b : window->findChildren<QPushButton*>()) b->installEventFilter(filter);
}

void ShowListFocus(QWidget* list) {
  // Qt marks only the current entry, and a list here often has none.
  list->setStyleSheet(
      QStringLiteral("QListWidget:focus { border: 2px solid palette(highlight); }"));
}

void AskToStopCopy(WorkGate& gate, ui::Dialogs& dialogs) {
  static bool asking = false;
  if (asking || gate.copy().empty() || StopRequested()) return;
  asking = true;
  const bool yes =
      dialogs.QuestionDefaultNo(frame::kStopQuestion, std::nullopt) == ui::Answer::kYes;
  asking = false;
  if (yes) gate.StopCopy();  // the copy may have ended while the box was open
}

WorkGate::Scope::Scope(WorkGate& gate, const QWidget* owner, std::string copy)
    : gate_(gate), entered_(!gate.busy_) {
  if (!entered_) return;
  gate_.busy_ = true;
  gate_.copy_ = std::move(copy);
  gate_.owner_ = owner;
  gate_.percent_ = 0;
  gate_.stopped_by_user_ = false;
  gate_.closed_ = false;
  gate_.Tell();
}

WorkGate::Scope::~Scope() {
  if (!entered_) return;
  gate_.busy_ = false;
  gate_.copy_.clear();
  gate_.owner_ = nullptr;
  gate_.stopped_by_user_ = false;
  ClearStopRequest();  // a stop asked of this handler is spent
  gate_.Tell();
}

}  // namespace corvane::windows
