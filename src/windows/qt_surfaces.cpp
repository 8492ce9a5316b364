#include "windows/qt_surfaces.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QFontMetrics>
#include <QGridLayout>
#include <QGuiApplication>
#include <QInputDialog>
#include <QItemSelectionModel>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QProgressBar>
#include <QScreen>
#include <QSpacerItem>
#include <QTextEdit>
#include <algorithm>
#include <cmath>

#include "ui/display_text.h"

namespace corvane::windows {
namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

QString& StoredTitle() {
  static QString title;
  return title;
}

QString TitleOr(const std::optional<std::string>& title) {
  return title ? Q(*title) : StoredTitle();
}

// Room beside a title for the window system's icon and buttons.
constexpr int kTitleBarExtraPx = 140;
// Lines up to this long are not broken.
constexpr int kWholeLineChars = 100;

QRect AvailableScreen(const QWidget* owner) {
  const QScreen* screen = owner ? owner->screen() : nullptr;
  if (screen == nullptr) screen = QGuiApplication::primaryScreen();
  return screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
}

// A message box sizes itself by its text alone: the title bar would cut its
// title ("Cor\u2026ne"), and a line ending in a web address would be broken
// at a "/". Reserve width for the title and for every line short enough to
// stay whole, within what the screen gives.
void ReserveWidth(QMessageBox& box, const QString& text) {
  const QRect screen = AvailableScreen(box.parentWidget());
  QFont title_font = box.font();
  title_font.setBold(true);
  int wanted = QFontMetrics(title_font).horizontalAdvance(box.windowTitle()) + kTitleBarExtraPx;
  auto* label = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
  auto* icon = box.findChild<QLabel*>(QStringLiteral("qt_msgboxex_icon_label"));
  const QFontMetrics metrics(label ? label->font() : box.font());
  // The text stands beside the icon's column.
  const int beside = (icon ? icon->sizeHint().width() : 0) + metrics.averageCharWidth() * 4;
  for (const QString& line : text.split(QLatin1Char('\n'))) {
    if (line.size() > kWholeLineChars) continue;
    wanted = std::max(wanted, metrics.horizontalAdvance(line) + beside);
  }
  // Past the widest a box lets itself be, it breaks lines anywhere instead.
  const int widest = screen.width() <= 1024 ? screen.width() : std::min(screen.width() - 480, 1000);
  wanted = std::min(wanted, widest - 100);
  auto* grid = qobject_cast<QGridLayout*>(box.layout());
  if (grid == nullptr) return;
  grid->addItem(new QSpacerItem(wanted, 0, QSizePolicy::Minimum, QSizePolicy::Minimum),
                grid->rowCount(), 0, 1, grid->columnCount());
}

// A box's label breaks lines only where a word may end; a run without one
// (a quoted memo, a long name) was cut at the edge, hiding part of what the
// box says is shown. Zero-width spaces let such runs wrap; shorter runs,
// such as most paths, stay untouched so they copy out as they are.
QString BreakableLongRuns(const QString& text) {
  constexpr int kLongRun = 60;
  constexpr int kPiece = 40;
  QString out;
  out.reserve(text.size() + text.size() / kPiece);
  int run_start = 0;
  for (int i = 0; i <= text.size(); ++i) {
    if (i < text.size() && !text.at(i).isSpace()) continue;
    const QStringView run = QStringView(text).mid(run_start, i - run_start);
    if (run.size() <= kLongRun) {
      out += run;
    } else {
      for (qsizetype at = 0; at < run.size(); at += kPiece) {
        if (at > 0) out += QChar(0x200B);
        out += run.mid(at, kPiece);
      }
    }
    if (i < text.size()) out += text.at(i);
    run_start = i + 1;
  }
  return out;
}

// Title and text of a box. A text too long to read whole (a statement
// quoting a large memo) is shortened, and the whole of it is one click
// away under "Show Details...", where it can be selected and copied.
void Fill(QMessageBox& box, const QString& title, const std::string& text) {
  box.setWindowTitle(title);
  box.setTextFormat(Qt::PlainText);
  const std::string shown = ui::ShortenForDisplay(text);
  box.setText(BreakableLongRuns(DisplayText(shown)));
  box.setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  if (shown != text) {
    box.setDetailedText(DisplayText(text));
    // Looking for word ends in a 300 KB line without any would freeze the
    // box for seconds; break such lines anywhere.
    if (auto* details = box.findChild<QTextEdit*>())
      details->setWordWrapMode(QTextOption::WrapAnywhere);
  }
  ReserveWidth(box, box.text());
}

}  // namespace

void SetApplicationTitle(const QString& title) { StoredTitle() = title; }
QString ApplicationTitle() { return StoredTitle(); }

int QtTableList::Count() const { return list_->count(); }

// An index past the end reads as an empty, unselected entry rather than
// taking the program down.
std::string QtTableList::Text(int index) const {
  const QListWidgetItem* item = list_->item(index);
  return item ? item->text().toStdString() : std::string();
}

bool QtTableList::Selected(int index) const {
  const QListWidgetItem* item = list_->item(index);
  return item && item->isSelected();
}

void QtTableList::SetSelected(int index, bool selected) {
  if (QListWidgetItem* item = list_->item(index)) item->setSelected(selected);
}

int QtTableList::SelectedCount() const {
  return static_cast<int>(list_->selectionModel()->selectedRows().size());
}

int QtTableList::CurrentIndex() const {
  QModelIndex current = list_->selectionModel()->currentIndex();
  return current.isValid() ? current.row() : -1;
}

void QtTableList::SetCurrentIndex(int index) {
  QModelIndex target;
  if (index >= 0 && index < Count()) target = list_->model()->index(index, 0);
  list_->selectionModel()->setCurrentIndex(target, QItemSelectionModel::NoUpdate);
}

// One selection change for the whole range: entry by entry, the widget
// merges ranges each time and a long list freezes the window.
void QtTableList::SetAllSelected(bool selected) {
  const int count = Count();
  if (count == 0) return;
  QAbstractItemModel* model = list_->model();
  const QItemSelection all(model->index(0, 0), model->index(count - 1, 0));
  list_->selectionModel()->select(
      all, selected ? QItemSelectionModel::Select : QItemSelectionModel::Deselect);
  SetCurrentIndex(count - 1);
}

void QtTableList::RemoveAt(int index) {
  if (index < 0 || index >= Count()) return;
  // The widget would move the current entry to a neighbour; the handlers
  // expect "no current entry" once it is gone.
  const bool was_current = CurrentIndex() == index;
  delete list_->takeItem(index);
  if (was_current) SetCurrentIndex(-1);
}

// The schema rides in the item's data; the tooltip tells two entries of one
// name apart.
void QtTableList::AddInSchema(const std::string& name, const std::string& schema) {
  auto* item = new QListWidgetItem(Q(name));
  if (!schema.empty()) {
    item->setData(Qt::UserRole, Q(schema));
    item->setToolTip(Q(schema + "." + name));
  }
  list_->insertItem(ui::SortedInsertIndex(*this, name), item);
}

std::string QtTableList::Schema(int index) const {
  const QListWidgetItem* item = list_->item(index);
  return item ? item->data(Qt::UserRole).toString().toStdString() : std::string();
}

// The folder rides on the item, out of sight: the list shows names alone.
constexpr int kFolderRole = Qt::UserRole + 1;

void QtTableList::AddAll(std::vector<ui::ListEntry> entries) {
  ui::SortEntries(entries);
  const bool was_empty = Count() == 0;
  // Hidden while it fills, so the view lays out once, not once per name.
  list_->setUpdatesEnabled(false);
  for (ui::ListEntry& e : entries) {
    auto* item = new QListWidgetItem(Q(e.name));
    if (!e.folder.empty()) item->setData(kFolderRole, Q(e.folder));
    if (was_empty)
      list_->addItem(item);
    else
      list_->insertItem(ui::SortedInsertIndex(*this, e.name), item);
  }
  list_->setUpdatesEnabled(true);
}

std::string QtTableList::Folder(int index) const {
  const QListWidgetItem* item = list_->item(index);
  return item ? item->data(kFolderRole).toString().toStdString() : std::string();
}

QtTableList::QtTableList(QListWidget* list) : list_(list) { list_->setCurrentIndex(QModelIndex()); }

// A model reset forgets that no current entry was chosen; choose it again.
void QtTableList::Clear() {
  list_->clear();
  list_->setCurrentIndex(QModelIndex());
}

void QtProgressBar::SetValue(double percent) {
  double clamped = std::isnan(percent) ? 0 : std::fmin(100.0, std::fmax(0.0, percent));
  bar_->setValue(static_cast<int>(std::lround(clamped)));
}

void QtProgressBar::SetText(const std::string& text) {
  text_ = text;
  Show();
}

void QtProgressBar::SetHint(const std::string& hint) {
  hint_ = hint;
  Show();
}

void QtProgressBar::Show() { bar_->setFormat(Q(hint_.empty() ? text_ : text_ + " - " + hint_)); }

QString DisplayText(const std::string& text) {
  QString s = Q(text);
  s.replace(QLatin1String("\r\n"), QLatin1String("\n"));
  s.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return s;
}

void QtDialogs::Message(const std::string& text, std::optional<std::string> title,
                        ui::MessageIcon icon) {
  QMessageBox box(owner_);
  box.setIcon(icon == ui::MessageIcon::kExclamation ? QMessageBox::Warning : QMessageBox::NoIcon);
  box.setStandardButtons(QMessageBox::Ok);
  Fill(box, TitleOr(title), text);
  box.exec();
}

namespace {

ui::Answer Ask(QWidget* owner, const QString& title, const std::string& text,
               QMessageBox::StandardButton preset) {
  QMessageBox box(owner);
  box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
  Fill(box, title, text);
  box.setDefaultButton(preset);
  box.setEscapeButton(QMessageBox::No);
  return box.exec() == QMessageBox::Yes ? ui::Answer::kYes : ui::Answer::kNo;
}

}  // namespace

ui::Answer QtDialogs::Question(const std::string& text, std::optional<std::string> title) {
  return Ask(owner_, TitleOr(title), text, QMessageBox::Yes);
}

ui::Answer QtDialogs::QuestionDefaultNo(const std::string& text, std::optional<std::string> title) {
  return Ask(owner_, TitleOr(title), text, QMessageBox::No);
}

std::string QtDialogs::Prompt(const std::string& text, std::optional<std::string> title,
                              const std::string& default_answer) {
  QInputDialog dialog(owner_);
  dialog.setWindowTitle(TitleOr(title));
  dialog.setLabelText(DisplayText(ui::ShortenForDisplay(text)));
  dialog.setTextValue(Q(default_answer));
  if (dialog.exec() != QDialog::Accepted) return {};
  return dialog.textValue().toStdString();
}

std::string QtDialogs::ChooseFolder(const std::string& title, const std::string& start) {
  return QFileDialog::getExistingDirectory(owner_, Q(title), Q(start), QFileDialog::ShowDirsOnly)
      .toStdString();
}

void QtPointer::Set(ui::PointerShape shape) {
  shape_ = shape;
  switch (shape) {
    case ui::PointerShape::kDefault:
      Restore();
      break;
    case ui::PointerShape::kHourglass:
      Override(QCursor(Qt::WaitCursor));
      break;
    case ui::PointerShape::kCustom:
      Override(custom_ ? *custom_ : QCursor(Qt::ArrowCursor));
      break;
  }
}

void QtPointer::Override(const QCursor& cursor) {
  if (saved_.empty()) {
    QList<QWidget*> widgets = window_->findChildren<QWidget*>();
    widgets.prepend(window_);
    for (QWidget* w : widgets) {
      if (w->window() != window_) continue;  // a dialog owned by the window
      saved_.push_back({w, w->testAttribute(Qt::WA_SetCursor), w->cursor()});
    }
  }
  for (Saved& s : saved_) {
    if (s.widget) s.widget->setCursor(cursor);
  }
}

void QtPointer::Restore() {
  for (Saved& s : saved_) {
    if (!s.widget) continue;
    if (s.had_cursor)
      s.widget->setCursor(s.cursor);
    else
      s.widget->unsetCursor();
  }
  saved_.clear();
}

void QtEventPump::Pump() { QCoreApplication::processEvents(); }

}  // namespace corvane::windows
