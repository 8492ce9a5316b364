#include "windows/form1.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFocusEvent>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <filesystem>
#include <utility>

#include "frame/stopping.h"
#include "windows/form2.h"
#include "windows/window_support.h"

namespace corvane::windows {
namespace {

constexpr const char* kSkinFile = "/x/o.cjs";

template <typename T>
T* Make(QWidget* parent, const char* name, int left, int top, int width, int height) {
  T* w = new T(parent);
  w->setObjectName(QString::fromLatin1(name));
  PlaceTwips(w, left, top, width, height);
  return w;
}

QLabel* MakeLabel(QWidget* frame, const char* name, const char* text, int left, int top,
                  int width) {
  auto* label = Make<QLabel>(frame, name, left, top, width, 255);
  label->setText(QString::fromLatin1(text));
  UseFieldFont(label);
  return label;
}

QLineEdit* MakeField(QWidget* frame, const char* name, int left, int top, int width, int height) {
  auto* field = Make<QLineEdit>(frame, name, left, top, width, height);
  UseFieldFont(field);
  return field;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const char* text, int left, int top,
                        int width, int height) {
  auto* button = Make<QPushButton>(parent, name, left, top, width, height);
  button->setText(QString::fromLatin1(text));
  button->setAutoDefault(false);
  UseButtonFont(button);
  return button;
}

}  // namespace

Form1::Form1(WindowServices services)
    : services_(std::move(services)),
      own_dialogs_(services_.dialogs ? nullptr : std::make_unique<QtDialogs>(this)),
      dialogs_(services_.dialogs ? services_.dialogs : own_dialogs_.get()),
      pointer_(this),
      throttled_pump_(pump_),
      field_store_(
          [this](const std::string& key, const std::string& value) {
            return services_.store.Write(app::kApplication, app::kSection, key, value);
          },
          *dialogs_) {
  setObjectName(QStringLiteral("Form1"));
  setFixedSize(PxFromTwips(8040), PxFromTwips(5130));
  BuildControls();
  SetTabOrder();
  PressFocusedButtonOnReturn(this);
  ColourWindow(this, false);  // white until the skin says otherwise
  Wire();
  (new HoverFilter(this, pointer_))->Watch();
  gate_watch_ = services_.gate.Watch([this] { ShowOtherWork(); });
}

Form1::~Form1() { services_.gate.Unwatch(gate_watch_); }

// While the tables window copies out of sight, this window shows it: the
// hourglass and how far the copy got in the title bar.
void Form1::ShowOtherWork() {
  const WorkGate& gate = services_.gate;
  const bool other = gate.busy() && gate.owner() != this && !gate.copy().empty();
  if (other) {
    if (caption_.isNull()) caption_ = windowTitle();
    setWindowTitle(caption_ + QStringLiteral(" - ") +
                   QString::fromStdString(frame::WorkLine(gate.copy(), gate.percent()) + ", " +
                                          frame::kEscapeStops));
    if (pointer_.Get() != ui::PointerShape::kHourglass) pointer_.Set(ui::PointerShape::kHourglass);
  } else if (!caption_.isNull()) {
    setWindowTitle(std::exchange(caption_, QString()));
    pointer_.Set(ui::PointerShape::kDefault);
  }
}

void Form1::BuildControls() {
  Frame1 = Make<QGroupBox>(this, "Frame1", 120, 120, 7800, 1455);
  Frame1->setTitle(QStringLiteral("Paradox Database"));
  UseFieldFont(Frame1);
  Label2 = MakeLabel(Frame1, "Label2", "Paradox Folder:", 240, 405, 1455);
  Text1 = MakeField(Frame1, "Text1", 1680, 360, 5175, 345);
  PushButton5 = MakeButton(Frame1, "PushButton5", "...", 6940, 360, 600, 345);
  PushButton4 =
      MakeButton(Frame1, "PushButton4", "Load Sample/Example Database", 240, 840, 3600, 405);
  PushButton3 = MakeButton(Frame1, "PushButton3", "Test Connection", 3960, 840, 3600, 405);
  BuildLoginFrame();
  PushButton2 = MakeButton(this, "PushButton2", "Next >", 120, 4600, 7800, 405);
  QLineEdit* fields[] = {Text1, Text2, Text3, Text4, Text5, Text6};
  std::copy(std::begin(fields), std::end(fields), fields_);
}

void Form1::BuildLoginFrame() {
  Frame2 = Make<QGroupBox>(this, "Frame2", 120, 1630, 7800, 2830);
  Frame2->setTitle(QStringLiteral("PostgreSQL Login"));
  UseFieldFont(Frame2);
  Label1 = MakeLabel(Frame2, "Label1", "Server:", 240, 405, 975);
  Text2 = MakeField(Frame2, "Text2", 1320, 360, 4575, 330);
  Label5 = MakeLabel(Frame2, "Label5", "Port:", 6000, 405, 495);
  Text3 = MakeField(Frame2, "Text3", 6480, 360, 1095, 330);
  Label4 = MakeLabel(Frame2, "Label4", "Username:", 240, 885, 1095);
  Text4 = MakeField(Frame2, "Text4", 1320, 840, 6255, 330);
  Label6 = MakeLabel(Frame2, "Label6", "Password:", 240, 1365, 1095);
  Text5 = MakeField(Frame2, "Text5", 1320, 1320, 6255, 330);
  Text5->setEchoMode(QLineEdit::Password);
  Text5->setStyleSheet(QStringLiteral("lineedit-password-character: 42;"));  // "*"
  Label3 = MakeLabel(Frame2, "Label3", "Database:", 240, 1845, 1095);
  Text6 = MakeField(Frame2, "Text6", 1320, 1800, 6255, 330);
  PushButton1 = MakeButton(Frame2, "PushButton1", "Test Connection", 240, 2280, 3600, 405);
  PushButton6 = MakeButton(Frame2, "PushButton6", "Help", 3960, 2280, 3600, 405);
}

void Form1::SetTabOrder() {
  // Frames and labels take no focus; the rest in the designed order.
  QWidget* order[] = {Text1,       Text2,       Text3,       Text4,       Text5,       Text6,
                      PushButton5, PushButton3, PushButton1, PushButton6, PushButton2, PushButton4};
  for (size_t i = 0; i + 1 < std::size(order); ++i) setTabOrder(order[i], order[i + 1]);
}

void Form1::Wire() {
  for (int i = 0; i < frame::kFieldCount; ++i) {
    connect(fields_[i], &QLineEdit::textChanged, this,
            [this, i](const QString& text) { field_store_.Changed(i + 1, text.toStdString()); });
    fields_[i]->installEventFilter(this);
  }
  connect(PushButton1, &QPushButton::clicked, this, &Form1::PushButton1_Click);
  connect(PushButton2, &QPushButton::clicked, this, &Form1::PushButton2_Click);
  connect(PushButton3, &QPushButton::clicked, this, &Form1::PushButton3_Click);
  connect(PushButton4, &QPushButton::clicked, this, &Form1::PushButton4_Click);
  connect(PushButton5, &QPushButton::clicked, this, &Form1::PushButton5_Click);
  connect(PushButton6, &QPushButton::clicked, this, &Form1::PushButton6_Click);
}

bool Form1::Form_Load() {
  ui::LoginWindow window = Context();
  return frame::LoadLoginWindow(*this, window, Reader());
}

ui::ConnectionSettings Form1::Current() const {
  ui::ConnectionSettings s;
  s.paradox_folder = Text1->text().toStdString();
  s.server = Text2->text().toStdString();
  s.port = Text3->text().toStdString();
  s.user = Text4->text().toStdString();
  s.password = Text5->text().toStdString();
  s.database = Text6->text().toStdString();
  return s;
}

std::string Form1::ExportCodePage() const {
  auto code_page =
      services_.store.Read(app::kApplication, app::kSection, app::kExportCodePageKey, "");
  return code_page.ok() ? code_page.value() : std::string();
}

ui::LoginWindow Form1::Context() {
  return ui::LoginWindow{*dialogs_, pointer_, throttled_pump_, *this, services_.program_folder};
}

frame::ReadSetting Form1::Reader() {
  return [this](const std::string& key, const std::string& fallback) {
    return services_.store.Read(app::kApplication, app::kSection, key, fallback);
  };
}

template <typename Handler>
void Form1::RunWork(Handler handler) {
  WorkGate::Scope work(services_.gate, this);
  if (!work.entered()) {
    // Another of this window's steps runs: as before, nothing. A copy of
    // the tables window's: say why this waits.
    const WorkGate& gate = services_.gate;
    if (!gate.copy().empty()) dialogs_->Message(frame::WaitingText(gate.copy(), gate.percent()));
    return;
  }
  ui::LoginWindow window = Context();
  handler(window);
}

void Form1::PushButton1_Click() { RunWork(frame::TestLogin); }
void Form1::PushButton2_Click() {
  RunWork([this](ui::LoginWindow& window) { frame::NextPage(*this, window); });
}
void Form1::PushButton3_Click() { RunWork(frame::TestFolder); }

void Form1::PushButton4_Click() {
  Text1->setText(
      QString::fromStdString(frame::SampleFolderForUser(*dialogs_, services_.program_folder)));
}

void Form1::PushButton5_Click() {
  RunWork([this](ui::LoginWindow& window) {
    if (auto folder = frame::ChooseParadoxFolder(window.dialogs, Reader()))
      Text1->setText(QString::fromStdString(*folder));
  });
}

void Form1::PushButton6_Click() { frame::ShowLoginHelp(*dialogs_); }

Status Form1::ApplySkin() {
  const std::string skin = services_.program_folder + kSkinFile;
  std::error_code ec;
  if (!std::filesystem::is_regular_file(skin, ec)) return Status::Ok();
  ColourWindow(this, true);
  return LoadSkin(skin);
}

Status Form1::SetCaption(const std::string& caption) {
  setWindowTitle(QString::fromStdString(caption));
  return Status::Ok();
}

Status Form1::SetIcon() {
  QIcon icon = ApplicationIcon();
  if (icon.isNull()) return Status::NotFound("The application icon is missing from the program");
  setWindowIcon(icon);
  QApplication::setWindowIcon(icon);
  return Status::Ok();
}

Status Form1::SetApplicationTitle(const std::string& title) {
  windows::SetApplicationTitle(QString::fromStdString(title));
  return Status::Ok();
}

Status Form1::LoadHandCursor(const std::string& path) {
  Result<QCursor> cursor = LoadCursorFile(path);
  if (!cursor.ok()) return cursor.status();
  pointer_.SetCustomCursor(cursor.value());
  return Status::Ok();
}

void Form1::SetField(int number, const std::string& text) {
  fields_[number - 1]->setText(QString::fromStdString(text));
}

void Form1::LoadTablesWindow() { form2_->Form_Load(); }

Status Form1::ShowTablesWindow() {
  if (!form2_->loaded()) form2_->Form_Load();
  form2_->show();
  hide();
  return Status::Ok();
}

void Form1::closeEvent(QCloseEvent* event) {
  // Closed during work: the handler puts back what it changed and returns
  // at its next row, and the program ends after it.
  services_.gate.Closed();
  // Every setting was stored when it changed: nothing to save, nothing to ask.
  event->accept();
  QApplication::quit();
}

void Form1::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape && services_.gate.busy()) {
    AskToStopCopy(services_.gate, *dialogs_);
    return;
  }
  QWidget::keyPressEvent(event);
}

// Centred the first time only: afterwards it stays where the user put it.
void Form1::showEvent(QShowEvent* event) {
  if (!std::exchange(centred_, true)) CentreOnScreen(this);
  QWidget::showEvent(event);
}

bool Form1::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::FocusIn) {
    auto reason = static_cast<QFocusEvent*>(event)->reason();
    // Coming back from a message box or a menu is no new entry into the field.
    if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
      static_cast<QLineEdit*>(watched)->selectAll();
  }
  return QWidget::eventFilter(watched, event);
}

}  // namespace corvane::windows
