// Qt adapters of the ui interfaces: what the core handlers touch, over the
// real widgets.
#pragma once

#include <QCursor>
#include <QPointer>
#include <optional>
#include <string>
#include <vector>

#include "ui/surfaces.h"

class QListWidget;
class QProgressBar;
class QWidget;

namespace corvane::windows {

// A QListWidget as a sorted table list. Entries go to their sorted place
// (the widget's own sorting is off: it compares differently); making an
// entry current never changes the selection.
class QtTableList : public ui::TableList {
 public:
  // Marks "no current entry" as chosen, so that focus arriving by Tab or at
  // start does not make row 0 current: an empty selection is told by the
  // absence of a current entry.
  explicit QtTableList(QListWidget* list);
  int Count() const override;
  std::string Text(int index) const override;
  bool Selected(int index) const override;
  void SetSelected(int index, bool selected) override;
  int SelectedCount() const override;
  int CurrentIndex() const override;
  void SetCurrentIndex(int index) override;
  void SetAllSelected(bool selected) override;
  void RemoveAt(int index) override;
  void AddInSchema(const std::string& name, const std::string& schema) override;
  std::string Schema(int index) const override;
  void AddAll(std::vector<ui::ListEntry> entries) override;
  std::string Folder(int index) const override;
  void Clear() override;

 private:
  QListWidget* list_;
};

class QtProgressBar : public ui::ProgressBar {
 public:
  explicit QtProgressBar(QProgressBar* bar) : bar_(bar) {}
  void SetValue(double percent) override;
  void SetText(const std::string& text) override;
  // Shown after whatever text the handler sets, until taken away ("").
  void SetHint(const std::string& hint);

 private:
  void Show();

  QProgressBar* bar_;
  std::string text_ = ui::kProgressRestText;
  std::string hint_;
};

// Modal boxes owned by one window. No title means the application title.
class QtDialogs : public ui::Dialogs {
 public:
  explicit QtDialogs(QWidget* owner) : owner_(owner) {}
  void Message(const std::string& text, std::optional<std::string> title,
               ui::MessageIcon icon) override;
  ui::Answer Question(const std::string& text, std::optional<std::string> title) override;
  ui::Answer QuestionDefaultNo(const std::string& text, std::optional<std::string> title) override;
  std::string Prompt(const std::string& text, std::optional<std::string> title,
                     const std::string& default_answer) override;
  std::string ChooseFolder(const std::string& title, const std::string& start) override;

 private:
  QWidget* owner_;
};

// The text of a message as a box shows it: the program's texts break lines
// with CR LF or a lone CR.
QString DisplayText(const std::string& text);

// The application title that message boxes without a title of their own
// carry. Kept here rather than as Qt's display name, which Qt would append
// to every window title ("Application Error — Corvane").
void SetApplicationTitle(const QString& title);
QString ApplicationTitle();

// One pointer setting for a whole window: while it is not the default it
// stands over the window and every control in it (text fields and lists
// included); back to the default, each control shows its own pointer again.
class QtPointer : public ui::Pointer {
 public:
  explicit QtPointer(QWidget* window) : window_(window) {}
  ui::PointerShape Get() const override { return shape_; }
  void Set(ui::PointerShape shape) override;
  // The custom pointer (the hand); without one the custom setting shows the arrow.
  void SetCustomCursor(std::optional<QCursor> cursor) { custom_ = std::move(cursor); }
  bool HasCustomCursor() const { return custom_.has_value(); }

 private:
  struct Saved {
    QPointer<QWidget> widget;
    bool had_cursor;
    QCursor cursor;
  };
  void Override(const QCursor& cursor);
  void Restore();

  QWidget* window_;
  ui::PointerShape shape_ = ui::PointerShape::kDefault;
  std::optional<QCursor> custom_;
  std::vector<Saved> saved_;
};

class QtEventPump : public ui::EventPump {
 public:
  void Pump() override;
};

}  // namespace corvane::windows
