#include "windows/qt_surfaces.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QGuiApplication>
#include <QInputDialog>
#include <QItemSelectionModel>
#include <QListWidget>
#include <QMessageBox>
#include <QProgressBar>
#include <cmath>

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

void QtTableList::RemoveAt(int index) {
  if (index < 0 || index >= Count()) return;
  // The widget would move the current entry to a neighbour; the handlers
  // expect "no current entry" once it is gone.
  const bool was_current = CurrentIndex() == index;
  delete list_->takeItem(index);
  if (was_current) SetCurrentIndex(-1);
}

void QtTableList::Add(const std::string& name) {
  list_->insertItem(ui::SortedInsertIndex(*this, name), Q(name));
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

void QtProgressBar::SetText(const std::string& text) { bar_->setFormat(Q(text)); }

QString DisplayText(const std::string& text) {
  QString s = Q(text);
  s.replace(QLatin1String("\r\n"), QLatin1String("\n"));
  s.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return s;
}

void QtDialogs::Message(const std::string& text, std::optional<std::string> title,
                        ui::MessageIcon icon) {
  QMessageBox box(owner_);
  box.setWindowTitle(TitleOr(title));
  box.setTextFormat(Qt::PlainText);
  box.setText(DisplayText(text));
  box.setIcon(icon == ui::MessageIcon::kExclamation ? QMessageBox::Warning : QMessageBox::NoIcon);
  box.setStandardButtons(QMessageBox::Ok);
  box.exec();
}

ui::Answer QtDialogs::Question(const std::string& text, std::optional<std::string> title) {
  QMessageBox box(owner_);
  box.setWindowTitle(TitleOr(title));
  box.setTextFormat(Qt::PlainText);
  box.setText(DisplayText(text));
  box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
  box.setDefaultButton(QMessageBox::Yes);
  box.setEscapeButton(QMessageBox::No);
  return box.exec() == QMessageBox::Yes ? ui::Answer::kYes : ui::Answer::kNo;
}

std::string QtDialogs::Prompt(const std::string& text, std::optional<std::string> title,
                              const std::string& default_answer) {
  QInputDialog dialog(owner_);
  dialog.setWindowTitle(TitleOr(title));
  dialog.setLabelText(DisplayText(text));
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
