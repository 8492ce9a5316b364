#include "windows/form2.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QGroupBox>
#include <QKeyEvent>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QWindow>
#include <cstdio>
#include <optional>
#include <utility>

#include "frame/stopping.h"
#include "maintenance/maintenance.h"
#include "transfer/to_paradox.h"
#include "transfer/to_postgres.h"
#include "windows/form1.h"
#include "windows/window_support.h"

namespace corvane::windows {
namespace {

template <typename T>
T* Make(QWidget* parent, const QString& name, int left, int top, int width, int height) {
  T* w = new T(parent);
  w->setObjectName(name);
  PlaceTwips(w, left, top, width, height);
  return w;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const char* text, int left, int top,
                        int width) {
  auto* b = Make<QPushButton>(parent, QString::fromLatin1(name), left, top, width, 405);
  b->setText(QString::fromLatin1(text));
  b->setAutoDefault(false);
  UseButtonFont(b);
  return b;
}

constexpr const char* kKeepTypesKey = "KeepTypes";

constexpr int kDesignedWidthTwips = 8040;
// The client size the user gave the window last, "WIDTHxHEIGHT" in pixels.
constexpr const char* kSizeKey = "TablesWindowSize";

std::optional<QSize> ParseSize(const std::string& text) {
  int w = 0, h = 0;
  char x = 0, rest = 0;
  if (std::sscanf(text.c_str(), "%d%c%d%c", &w, &x, &h, &rest) != 3 || x != 'x') return {};
  if (w <= 0 || h <= 0) return {};
  return QSize(w, h);
}

}  // namespace

Form2::Form2(WindowServices services, Form1& login)
    : services_(std::move(services)),
      login_(login),
      own_dialogs_(services_.dialogs ? nullptr : std::make_unique<QtDialogs>(this)),
      dialogs_(services_.dialogs ? services_.dialogs : own_dialogs_.get()),
      held_dialogs_(*dialogs_, [this] { return services_.gate.busy() && StopRequested(); }),
      pointer_(this),
      throttled_pump_(pump_),
      outer_height_px_(PxFromTwips(frame::kTablesWindowHeightTwips)) {
  setObjectName(QStringLiteral("Form2"));
  UseFieldFont(this);
  BuildControls();
  setMinimumSize(DesignedSize());
  resize(DesignedSize());
  RestoreSize();
  list1_ = std::make_unique<QtTableList>(List1);
  list2_ = std::make_unique<QtTableList>(List2);
  progress_ = std::make_unique<QtProgressBar>(ProgressBar1);
  SetTabOrder();
  PressFocusedButtonOnReturn(this);
  ShowListFocus(List1);
  ShowListFocus(List2);
  Wire();
  (new HoverFilter(this, pointer_))->Watch();
}

Form2::~Form2() = default;

void Form2::BuildControls() {
  // Select All, Deselect All, Send, Delete, Rename of each side.
  static constexpr int kLeft[5] = {10, 11, 3, 1, 6};
  static constexpr int kRight[5] = {8, 9, 4, 5, 7};
  Frame1 = BuildSide("Frame1", "PostgreSQL Tables", 120, "List1", kLeft, "Send Table/s To Paradox");
  Frame2 =
      BuildSide("Frame2", "Paradox Tables", 4080, "List2", kRight, "Send Table/s To PostgreSQL");
  List1 = Frame1->findChild<QListWidget*>(QStringLiteral("List1"));
  List2 = Frame2->findChild<QListWidget*>(QStringLiteral("List2"));
  ProgressBar1 = Make<QProgressBar>(this, QStringLiteral("ProgressBar1"), 120, 4460, 7800, 405);
  ProgressBar1->setRange(0, 100);
  ProgressBar1->setValue(0);
  ProgressBar1->setTextVisible(true);
  ProgressBar1->setAlignment(Qt::AlignCenter);
  ProgressBar1->setFormat(QString::fromLatin1(ui::kProgressRestText));
  // On the Paradox frame's bottom edge, like a caption, in the gap above
  // the progress bar: no other control moves, and the frame cannot clip it.
  Check1 = Make<QCheckBox>(this, QStringLiteral("Check1"), 4320, 4155, 3330, 300);
  Check1->setText(QStringLiteral("Keep field types and keys"));
  QFont small = Check1->font();
  small.setBold(false);
  small.setPointSizeF(7.5);
  Check1->setFont(small);
  Check1->setAutoFillBackground(true);  // the edge stops at its sides
  Check1->resize(Check1->sizeHint().width() + 4, Check1->height());
  Check1->raise();
  auto stored = services_.store.Read(app::kApplication, app::kSection, kKeepTypesKey, "0");
  Check1->setChecked(stored.ok() && stored.value() == "1");
  layout_.Add(Check1, {Share::kHalf, Share::kAll});  // moves with the Paradox frame's edge
  PushButton[2] = MakeButton(this, "PushButton2", "< Back", 120, 4980, 3840);
  PushButton[12] = MakeButton(this, "PushButton12", "Help", 4080, 4980, 3840);
  // Below the lists everything moves down as the lists grow.
  layout_.Add(ProgressBar1, {Share::kNone, Share::kAll, Share::kAll});
  layout_.Add(PushButton[2], {Share::kNone, Share::kAll});
  layout_.Add(PushButton[12], {Share::kHalf, Share::kAll});
}

QGroupBox* Form2::BuildSide(const char* frame, const char* title, int left, const char* list,
                            const int buttons[5], const char* send_caption) {
  // The right side moves by the half of the extra width the left one takes.
  const Share side = left > 120 ? Share::kHalf : Share::kNone;
  auto* box = Make<QGroupBox>(this, QString::fromLatin1(frame), left, 120, 3840, 4215);
  layout_.Add(box, {side, Share::kNone, Share::kHalf, Share::kAll});
  box->setTitle(QString::fromLatin1(title));
  auto* names = Make<QListWidget>(box, QString::fromLatin1(list), 240, 360, 3330, 1635);
  names->setSelectionMode(QAbstractItemView::ExtendedSelection);
  names->setSortingEnabled(false);  // entries take their place through the adapter
  layout_.Add(names, {Share::kNone, Share::kNone, Share::kHalf, Share::kAll});
  const char* captions[5] = {"Select All", "Deselect All", send_caption, "Delete Table/s",
                             "Rename Table"};
  const int lefts[5] = {240, 1960, 240, 240, 240};
  const int tops[5] = {2100, 2100, 2600, 3100, 3600};
  const int widths[5] = {1600, 1600, 3330, 3330, 3330};
  for (int i = 0; i < 5; ++i) {
    const std::string name = "PushButton" + std::to_string(buttons[i]);
    PushButton[buttons[i]] =
        MakeButton(box, name.c_str(), captions[i], lefts[i], tops[i], widths[i]);
    layout_.Add(PushButton[buttons[i]], {Share::kNone, Share::kAll});
  }
  return box;
}

void Form2::SetTabOrder() {
  QWidget* order[] = {List1,         List2,         PushButton[10], PushButton[11],
                      PushButton[3], PushButton[1], PushButton[6],  ProgressBar1,
                      PushButton[2], PushButton[8], PushButton[9],  PushButton[4],
                      PushButton[5], PushButton[7], Check1,         PushButton[12]};
  for (size_t i = 0; i + 1 < std::size(order); ++i) setTabOrder(order[i], order[i + 1]);
}

void Form2::Wire() {
  auto on = [this](int number, auto slot) {
    connect(PushButton[number], &QPushButton::clicked, this, slot);
  };
  on(1, &Form2::PushButton1_Click);
  on(2, &Form2::PushButton2_Click);
  on(3, &Form2::PushButton3_Click);
  on(4, &Form2::PushButton4_Click);
  on(5, &Form2::PushButton5_Click);
  on(6, &Form2::PushButton6_Click);
  on(7, &Form2::PushButton7_Click);
  on(12, &Form2::PushButton12_Click);
  connect(Check1, &QCheckBox::clicked, this, &Form2::Check1_Click);
  // The login window shows how far a copy got while this one is hidden.
  connect(ProgressBar1, &QProgressBar::valueChanged, this,
          [this](int value) { services_.gate.SetPercent(value); });
  // Selecting is no work: it stays possible while a copy runs.
  connect(PushButton[10], &QPushButton::clicked, this, [this] { ui::SelectAll(*list1_); });
  connect(PushButton[11], &QPushButton::clicked, this, [this] { ui::DeselectAll(*list1_); });
  connect(PushButton[8], &QPushButton::clicked, this, [this] { ui::SelectAll(*list2_); });
  connect(PushButton[9], &QPushButton::clicked, this, [this] { ui::DeselectAll(*list2_); });
}

ui::TablesWindow Form2::Context() {
  return ui::TablesWindow{*list1_,  *list2_,         *progress_, held_dialogs_,
                          pointer_, throttled_pump_, login_,     services_.program_folder};
}

void Form2::Form_Load() {
  loaded_ = true;
  ui::TablesWindow window = Context();
  frame::LoadTablesWindow(*this, window);
}

template <typename Handler>
void Form2::RunWork(Handler handler) {
  WorkGate::Scope work(services_.gate, this);
  if (!work.entered()) return SayWhyItWaits();
  ui::TablesWindow window = Context();
  handler(window);
  held_dialogs_.TakeHeld();  // only a closed window stops these: it says nothing more
}

// A copy the user stopped ends with one message: what was copied, what was
// left as it was, and whatever the stop kept back.
template <typename Handler>
void Form2::RunCopy(const char* copy, ui::TableList& source, Handler handler) {
  WorkGate::Scope work(services_.gate, this, copy);
  if (!work.entered()) return SayWhyItWaits();
  std::vector<std::string> selected;
  for (int i = 0; i < source.Count(); ++i)
    if (source.Selected(i)) selected.push_back(source.Text(i));
  progress_->SetHint(frame::kEscapeStops);
  ui::TablesWindow window = Context();
  const transfer::TransferOutcome outcome = handler(window);
  progress_->SetHint("");
  std::vector<std::string> held = held_dialogs_.TakeHeld();
  if (!services_.gate.stopped_by_user() || services_.gate.closed()) return;
  std::vector<std::pair<std::string, int64_t>> copied;
  for (const transfer::TableReport& t : outcome.tables)
    if (t.outcome == transfer::TableOutcome::kCopied) copied.emplace_back(t.table, t.rows_stored);
  dialogs_->Message(frame::StoppedCopyText(selected, copied, held));
}

// A work button pressed while a copy runs says why nothing happens.
void Form2::SayWhyItWaits() {
  if (services_.gate.copy().empty()) return;
  dialogs_->Message(frame::WaitingText(services_.gate.copy(), services_.gate.percent()));
}

void Form2::PushButton1_Click() { RunWork(maintenance::DeletePostgresTables); }
void Form2::PushButton3_Click() {
  transfer::ToParadoxOptions options;
  options.keep_types = keep_types();
  RunCopy(frame::kCopyingToParadox, *list1_,
          [&](ui::TablesWindow& w) { return transfer::SendTablesToParadoxWith(w, options); });
}
void Form2::PushButton4_Click() {
  transfer::ToPostgresOptions options;
  options.keep_types = keep_types();
  RunCopy(frame::kCopyingToPostgres, *list2_,
          [&](ui::TablesWindow& w) { return transfer::SendTablesToPostgresWith(w, options); });
}

bool Form2::keep_types() const { return Check1->isChecked(); }

// Stored the moment it changes, like every setting.
void Form2::Check1_Click() {
  Status written = services_.store.Write(app::kApplication, app::kSection, kKeepTypesKey,
                                         Check1->isChecked() ? "1" : "0");
  if (!written.ok()) {
    dialogs_->Message("The setting could not be saved: " + written.message(), std::nullopt,
                      ui::MessageIcon::kExclamation);
  }
}
void Form2::PushButton5_Click() { RunWork(maintenance::DeleteParadoxTables); }
void Form2::PushButton6_Click() { RunWork(maintenance::RenamePostgresTable); }
void Form2::PushButton7_Click() { RunWork(maintenance::RenameParadoxTable); }

void Form2::PushButton2_Click() {
  login_.show();
  hide();
}

void Form2::PushButton12_Click() { frame::ShowTablesHelp(*dialogs_); }

Status Form2::ApplyWindowColours() {
  ColourWindow(this, true);
  return Status::Ok();
}

Status Form2::SetIcon() {
  QIcon icon = ApplicationIcon();
  if (icon.isNull()) return Status::NotFound("The application icon is missing from the program");
  setWindowIcon(icon);
  return Status::Ok();
}

Status Form2::LoadHandCursor(const std::string& path) {
  Result<QCursor> cursor = LoadCursorFile(path);
  if (!cursor.ok()) return cursor.status();
  pointer_.SetCustomCursor(cursor.value());
  return Status::Ok();
}

Status Form2::SetCaption(const std::string& caption) {
  setWindowTitle(QString::fromStdString(caption));
  return Status::Ok();
}

Status Form2::SetHeight(int twips) {
  SetDesign(PxFromTwips(twips), frame_height_px_);
  return Status::Ok();
}

QSize Form2::DesignedSize() const {
  return QSize(PxFromTwips(kDesignedWidthTwips), outer_height_px_ - frame_height_px_);
}

// A window at its designed height stays there as the design changes; one
// the user enlarged keeps its size.
void Form2::SetDesign(int outer_height, int frame_height) {
  const bool at_design = height() == DesignedSize().height();
  outer_height_px_ = outer_height;
  frame_height_px_ = frame_height;
  setMinimumSize(DesignedSize());
  if (at_design) resize(width(), DesignedSize().height());
}

// The load step's height is the outer one, caption and borders included,
// which only the window system knows, and only once the window is shown:
// until then the whole height goes to the client, and it is fitted when
// the frame is known.
void Form2::FitDesignedHeight() {
  if (!isVisible()) return;
  const int frame = FrameMargins().height();
  if (frame != frame_height_px_) {
    SetDesign(outer_height_px_, frame);
  } else if (frame > 0 && height() == outer_height_px_ && refits_ < kMostRefits &&
             windowState() == Qt::WindowNoState) {
    // The window manager put back the height the window had before it
    // was framed: ask again, a few times at most, so the two never fight.
    ++refits_;
    resize(width(), DesignedSize().height());
  }
  FitToScreen();
}

// A stored size was fitted to the screen before the frame was known; with
// the frame the window may still stand out of it.
void Form2::FitToScreen() {
  if (screen() == nullptr || windowState() != Qt::WindowNoState) return;
  const QRect area = screen()->availableGeometry();
  const QSize margins = FrameMargins();
  const QSize most = (area.size() - margins).expandedTo(minimumSize());
  if (width() <= most.width() && height() <= most.height()) return;
  resize(size().boundedTo(most));
  const QSize outer = size() + margins;
  move(std::max(area.left(), std::min(x(), area.right() + 1 - outer.width())),
       std::max(area.top(), std::min(y(), area.bottom() + 1 - outer.height())));
}

// Asked of the window system each time: the widget's own frameGeometry()
// keeps what it knew at the last move, which may be from before the
// window manager framed the window.
QSize Form2::FrameMargins() const {
  if (const QWindow* w = windowHandle()) {
    const QMargins m = w->frameMargins();
    return QSize(std::max(0, m.left() + m.right()), std::max(0, m.top() + m.bottom()));
  }
  return (frameGeometry().size() - size()).expandedTo(QSize(0, 0));
}

void Form2::RestoreSize() {
  Result<std::string> stored = services_.store.Read(app::kApplication, app::kSection, kSizeKey, "");
  if (!stored.ok()) return;
  std::optional<QSize> size = ParseSize(stored.value());
  if (!size) return;
  // Never below the design, never beyond the screen it opens on.
  QSize limit = screen() ? screen()->availableGeometry().size() : *size;
  resize(size->expandedTo(DesignedSize()).boundedTo(limit.expandedTo(DesignedSize())));
}

void Form2::SaveSize() {
  const QSize size = isMaximized() ? normalGeometry().size() : this->size();
  const std::string text = std::to_string(size.width()) + "x" + std::to_string(size.height());
  Result<std::string> stored = services_.store.Read(app::kApplication, app::kSection, kSizeKey, "");
  if (stored.ok() && stored.value() == text) return;
  // A size that cannot be kept costs nothing but the size: say nothing.
  (void)services_.store.Write(app::kApplication, app::kSection, kSizeKey, text);
}

bool Form2::event(QEvent* event) {
  const bool handled = QWidget::event(event);
  switch (event->type()) {
    case QEvent::Show:
      if (!std::exchange(centred_, true)) CentreOnScreen(this);
      // A window manager frames the window some time after it is shown,
      // and says nothing to the window when it has.
      refits_ = 0;
      for (int ms : {50, 250, 1000, 2000})
        QTimer::singleShot(ms, this, [this] { FitDesignedHeight(); });
      [[fallthrough]];
    case QEvent::Move:
    case QEvent::Resize:
    case QEvent::WindowStateChange:
      FitDesignedHeight();
      break;
    default:
      break;
  }
  return handled;
}

void Form2::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  const QSize designed = DesignedSize();
  layout_.Apply(QSize(width() - designed.width(), height() - designed.height()));
}

void Form2::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  if (!event->spontaneous()) SaveSize();
}

void Form2::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape && services_.gate.busy()) {
    AskToStopCopy(services_.gate, *dialogs_);
    return;
  }
  QWidget::keyPressEvent(event);
}

void Form2::closeEvent(QCloseEvent* event) {
  // Closed during work: the handler puts back what it changed and returns
  // at its next row, and the program ends after it.
  services_.gate.Closed();
  SaveSize();
  event->accept();
  QApplication::quit();
}

}  // namespace corvane::windows
