// The Qt adapters of the ui interfaces over real widgets, and the real
// modal boxes answered by a timer standing in for the user.
#include <QFileDialog>
#include <QInputDialog>
#include <QLabel>
#include <QScreen>
#include <QListWidget>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <functional>

#include <QListWidget>

#include "frame/window_handlers.h"
#include "connection/connection.h"
#include "paradox/pxlib_maker.h"
#include "support/pg_env.h"
#include "windows/flow.h"
#include "ui/procedure.h"
#include "windows/gui_fixture.h"
#include "windows/qt_surfaces.h"
#include "support/temp_folder.h"

namespace corvane::windows {
namespace {

using testing::GuiTest;
using testing::TempFolder;

std::vector<std::string> Names(const ui::TableList& list) {
  std::vector<std::string> out;
  for (int i = 0; i < list.Count(); ++i) out.push_back(list.Text(i));
  return out;
}

TEST_F(GuiTest, TableListKeepsNamesSortedIgnoringCaseAndCurrentApartFromSelection) {
  QListWidget widget;
  widget.setSelectionMode(QAbstractItemView::ExtendedSelection);
  QtTableList list(&widget);
  EXPECT_EQ(list.CurrentIndex(), -1);
  for (const char* n : {"orders", "Customer", "ITEMS", "Orders", "aaa"}) list.Add(n);
  EXPECT_EQ(Names(list),
            (std::vector<std::string>{"aaa", "Customer", "ITEMS", "orders", "Orders"}));
  list.SetCurrentIndex(2);
  EXPECT_EQ(list.CurrentIndex(), 2);
  EXPECT_EQ(list.SelectedCount(), 0);  // current, not selected
  list.SetSelected(4, true);
  EXPECT_EQ(list.CurrentIndex(), 2);
  list.RemoveAt(2);
  EXPECT_EQ(list.CurrentIndex(), -1);
  EXPECT_TRUE(list.Selected(3));  // "Orders" moved up and kept its mark

  EXPECT_TRUE(ui::ListContains(list, "ORDERS"));
  ui::RemoveFromList(list, "orders");
  EXPECT_EQ(Names(list), (std::vector<std::string>{"aaa", "Customer", "Orders"}));
  list.Add("Orders");
  ui::RemoveFromList(list, "Orders");  // every exact match goes
  EXPECT_EQ(Names(list), (std::vector<std::string>{"aaa", "Customer"}));
  // One name in two schemas: shown bare, each entry keeping its own.
  list.AddInSchema("dup", "sales");
  list.AddInSchema("dup", "archive");
  EXPECT_EQ(Names(list), (std::vector<std::string>{"aaa", "Customer", "dup", "dup"}));
  EXPECT_EQ(list.Schema(2) + "," + list.Schema(3), "sales,archive");
  ui::RemoveFromListInSchema(list, "dup", "sales");
  EXPECT_EQ(list.Schema(2), "archive");
  EXPECT_EQ(list.Schema(0), "");
  list.Clear();
  list.Add("b");
  list.Add("a");
  QFocusEvent tab_in(QEvent::FocusIn, Qt::TabFocusReason);
  QApplication::sendEvent(&widget, &tab_in);  // focus by Tab makes nothing current
  EXPECT_EQ(list.CurrentIndex(), -1);
  list.Clear();
  EXPECT_FALSE(ui::ListContains(list, ""));
  ui::SelectAll(list);
  EXPECT_EQ(list.Count(), 0);
}

// A batch lands where Add would put each name, into an empty list and a
// filled one, and every entry keeps its folder out of sight.
TEST_F(GuiTest, TableListTakesABatchAsAddWouldWithItsFolders) {
  const std::vector<ui::ListEntry> batch = {{"orders", "x"}, {"Customer", ""}, {"ORDERS", "x/y"}};
  for (const std::vector<std::string>& before : {std::vector<std::string>{}, {"Orders", "zz"}}) {
    QListWidget widget, one_widget;
    QtTableList list(&widget), one_by_one(&one_widget);
    for (const std::string& n : before) {
      list.Add(n);
      one_by_one.Add(n);
    }
    list.AddAll(batch);
    for (const ui::ListEntry& e : batch) one_by_one.Add(e.name);
    EXPECT_EQ(Names(list), Names(one_by_one));
    std::vector<std::string> shown_folders;
    for (int i = 0; i < list.Count(); ++i) shown_folders.push_back(list.Text(i) + "@" + list.Folder(i));
    EXPECT_NE(std::find(shown_folders.begin(), shown_folders.end(), "ORDERS@x/y"), shown_folders.end());
    EXPECT_NE(std::find(shown_folders.begin(), shown_folders.end(), "Customer@"), shown_folders.end());
    EXPECT_EQ(list.CurrentIndex(), -1);
  }
}

TEST_F(GuiTest, ListsTakeClickCtrlClickAndShiftClick) {
  QListWidget widget;
  widget.setSelectionMode(QAbstractItemView::ExtendedSelection);
  QtTableList list(&widget);
  for (const char* n : {"a", "b", "c", "d", "e"}) list.Add(n);
  widget.resize(200, 200);
  widget.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&widget));
  auto click = [&](int row, Qt::KeyboardModifiers mods) {
    QTest::mouseClick(widget.viewport(), Qt::LeftButton, mods,
                      widget.visualItemRect(widget.item(row)).center());
  };
  click(1, Qt::NoModifier);
  click(3, Qt::ControlModifier);
  EXPECT_EQ(list.SelectedCount(), 2);
  click(1, Qt::ControlModifier);  // Ctrl+click takes one away again
  EXPECT_EQ(list.SelectedCount(), 1);
  click(0, Qt::NoModifier);
  click(2, Qt::ShiftModifier);
  EXPECT_EQ(list.SelectedCount(), 3);
  EXPECT_TRUE(list.Selected(0) && list.Selected(1) && list.Selected(2) && !list.Selected(3));
  EXPECT_EQ(list.CurrentIndex(), 2);
}

TEST_F(GuiTest, ProgressBarShowsItsValueAndText) {
  QProgressBar bar;
  bar.setRange(0, 100);
  QtProgressBar progress(&bar);
  progress.SetValue(42.6);
  progress.SetText("Copying ORDERS");
  EXPECT_EQ(bar.value(), 43);
  EXPECT_EQ(bar.text(), "Copying ORDERS");
  progress.SetValue(250);
  EXPECT_EQ(bar.value(), 100);
  progress.SetValue(0);
  progress.SetText(ui::kProgressRestText);
  EXPECT_EQ(bar.text(), "Progress Bar");
}

// Runs `answer` on the modal box once it is up.
void WhenModal(std::function<void(QWidget*)> answer) {
  QTimer::singleShot(0, [answer] {
    QWidget* modal = QApplication::activeModalWidget();
    ASSERT_NE(modal, nullptr);
    answer(modal);
  });
}

TEST_F(GuiTest, MessageBoxesUseTheApplicationTitleTheIconAndOneLinePerBreak) {
  SetApplicationTitle("Corvane");
  QWidget owner;
  QtDialogs boxes(&owner);
  QString title, text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  auto read_and_ok = [&](QWidget* w) {
    auto* box = qobject_cast<QMessageBox*>(w);
    ASSERT_NE(box, nullptr);
    title = box->windowTitle();
    text = box->text();
    icon = box->icon();
    box->button(QMessageBox::Ok)->click();
  };
  WhenModal(read_and_ok);
  boxes.Message("Table not found\r\nin Corvane2021/08/31.Form2.X at line 100\r\rPlease",
                std::string("Application Error"), ui::MessageIcon::kExclamation);
  EXPECT_EQ(title, "Application Error");
  EXPECT_EQ(icon, QMessageBox::Warning);
  EXPECT_EQ(text, "Table not found\nin Corvane2021/08/31.Form2.X at line 100\n\nPlease");
  WhenModal(read_and_ok);
  boxes.Message("Connection successful.", std::nullopt, ui::MessageIcon::kNone);
  EXPECT_EQ(title, "Corvane");
  EXPECT_EQ(icon, QMessageBox::NoIcon);
}

// The box and its buttons within the screen, as the user would see them.
void ExpectOnScreen(QMessageBox* box) {
  const QRect screen = box->screen()->availableGeometry();
  EXPECT_LE(box->frameGeometry().width(), screen.width());
  EXPECT_LE(box->frameGeometry().height(), screen.height());
  EXPECT_TRUE(screen.contains(box->frameGeometry())) << box->frameGeometry().height();
  for (QAbstractButton* button : box->buttons()) {
    EXPECT_TRUE(button->isVisible());
    EXPECT_TRUE(box->rect().contains(QRect(button->mapTo(box, QPoint()), button->size())));
  }
}

TEST_F(GuiTest, AFailingRowWithA300KbMemoGivesABoxThatFitsTheScreen) {
  QWidget owner;
  owner.resize(400, 300);
  owner.show();
  QtDialogs boxes(&owner);
  const std::string memo(300 * 1024, 'm');
  const std::string statement = "INSERT INTO \"NOTES\" VALUES (1, '" + memo + "')";
  ui::Procedure procedure(boxes, "Form2.PushButton4_Click");
  procedure.ShowStatement(&statement);
  QString details, text;
  WhenModal([&](QWidget* w) {
    auto* box = qobject_cast<QMessageBox*>(w);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->screen()->geometry(), QRect(0, 0, 1280, 1024));
    ExpectOnScreen(box);
    // The unbroken run of the memo wraps instead of running off the edge.
    auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
    ASSERT_NE(label, nullptr);
    const QRect needed = label->fontMetrics().boundingRect(
        QRect(0, 0, label->width(), 1 << 20), Qt::TextWordWrap, label->text());
    EXPECT_LE(needed.width(), label->width());
    EXPECT_LE(needed.height(), label->height());
    text = box->text().remove(QChar(0x200B));
    details = box->detailedText();
    // "Show Details..." opens the whole text; the box still fits.
    for (QAbstractButton* b : box->buttons()) {
      if (box->buttonRole(b) == QMessageBox::ActionRole) b->click();
    }
    QApplication::processEvents();
    ExpectOnScreen(box);
    box->button(QMessageBox::Ok)->click();
  });
  procedure.Fail(118, Status::InvalidArgument("value too long"));
  EXPECT_LT(text.size(), 1000);
  EXPECT_TRUE(text.startsWith("value too long\nin Corvane2021/08/31.Form2.PushButton4_Click"));
  EXPECT_TRUE(text.contains("characters left out")) << text.toStdString();
  EXPECT_TRUE(text.endsWith("m')"));
  EXPECT_TRUE(details.endsWith(QString::fromStdString(statement)));
}

// The whole way: the tables window's own boxes, a row the export refuses
// beside a 300 KB memo.
TEST_F(GuiTest, ARowRefusedBesideA300KbMemoGivesAWindowBoxThatFitsTheScreen) {
  CORVANE_REQUIRE_POSTGRES(pg);
  const std::string table = "MEM" + std::to_string(::getpid() % 10000);
  Connection server;
  ASSERT_TRUE(server.Open(PostgresConnectionString(pg)).ok());
  const std::string memo(300 * 1024, 'm');
  for (const std::string& sql :
       {"DROP TABLE IF EXISTS \"" + table + "\"",
        "CREATE TABLE \"" + table + "\" (id int, due date, body text)",
        "INSERT INTO \"" + table + "\" VALUES (1, 'infinity', '" + memo + "')"}) {
    ASSERT_TRUE(server.Execute(sql).ok()) << sql.substr(0, 80);
  }
  TempFolder folder;
  ASSERT_EQ(paradox::testing::PxlibTable().Field("Code", 0x04, 4).Row({7L}).Write(
                folder.Put("orders.db")),
            "");
  for (auto [key, value] : {std::pair{"ParadoxFolder", folder.str()}, {"Server", pg.server},
                            {"Port", pg.port}, {"User", pg.user}, {"Password", pg.password},
                            {"Database", pg.database}})
    Store(key, value);
  Windows w({*store, app::ProgramFolder(), gate, nullptr});  // the window's own boxes
  w.Start();
  ASSERT_TRUE(w.form2().isVisible());
  auto* list = w.form2().findChild<QListWidget*>("List1");
  auto found = list->findItems(QString::fromStdString(table), Qt::MatchExactly);
  ASSERT_EQ(found.size(), 1);
  found[0]->setSelected(true);
  list->setCurrentItem(found[0], QItemSelectionModel::NoUpdate);
  std::vector<std::string> titles;
  QString details;
  QTimer answer;  // stands in for the user at every box
  QObject::connect(&answer, &QTimer::timeout, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr || !box->isVisible()) return;
    titles.push_back(box->windowTitle().toStdString());
    ExpectOnScreen(box);
    EXPECT_LT(box->text().size(), 1500);
    details = box->detailedText();
    box->button(QMessageBox::Ok)->click();
  });
  answer.start(20);
  QTest::mouseClick(w.form2().findChild<QPushButton*>("PushButton3"), Qt::LeftButton);
  answer.stop();
  EXPECT_EQ(titles, std::vector<std::string>{"Application Error"});
  EXPECT_TRUE(details.endsWith(QString::fromStdString(memo + "')"))) << details.size();
  EXPECT_TRUE(server.Execute("DROP TABLE \"" + table + "\"").ok());
  w.form2().hide();
}

TEST_F(GuiTest, BoxesAreWideEnoughForTheirTitleAndKeepShortLinesWhole) {
  QWidget owner;
  QtDialogs boxes(&owner);
  struct Case {
    std::string text, title, whole_line;
  } cases[] = {
      {"Connection successful.", "Corvane", ""},
      {"x", "Application Error", ""},
      {frame::LoginHelpText(), "Corvane", frame::kPgAdminDownload},
      {frame::TablesHelpText(), "Corvane", frame::TablesHelpText()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    WhenModal([&](QWidget* w) {
      auto* box = qobject_cast<QMessageBox*>(w);
      ASSERT_NE(box, nullptr);
      QFont bold = box->font();
      bold.setBold(true);
      EXPECT_GT(box->width(), QFontMetrics(bold).horizontalAdvance(box->windowTitle()) + 100);
      auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
      ASSERT_NE(label, nullptr);
      if (!c.whole_line.empty()) {
        EXPECT_GE(label->width(),
                  label->fontMetrics().horizontalAdvance(QString::fromStdString(c.whole_line)));
      }
      ExpectOnScreen(box);
      box->button(QMessageBox::Ok)->click();
    });
    boxes.Message(c.text, c.title, ui::MessageIcon::kNone);
  }
}

TEST_F(GuiTest, QuestionsAnswerSixForYesAndSevenForNoAndPromptsGiveTheText) {
  QWidget owner;
  QtDialogs boxes(&owner);
  auto press = [](QMessageBox::StandardButton which) {
    return [which](QWidget* w) { qobject_cast<QMessageBox*>(w)->button(which)->click(); };
  };
  WhenModal(press(QMessageBox::Yes));
  EXPECT_EQ(boxes.Question("Overwrite?", std::string("Overwrite?")), ui::Answer::kYes);
  WhenModal(press(QMessageBox::No));
  EXPECT_EQ(static_cast<int>(boxes.Question("Continue?", std::nullopt)), 7);

  WhenModal([](QWidget* w) {
    auto* input = qobject_cast<QInputDialog*>(w);
    ASSERT_NE(input, nullptr);
    EXPECT_EQ(input->textValue(), "ORDERS");
    input->setTextValue("ORDERS2");
    input->accept();
  });
  EXPECT_EQ(boxes.Prompt("New name:", std::nullopt, "ORDERS"), "ORDERS2");
  WhenModal([](QWidget* w) { qobject_cast<QDialog*>(w)->reject(); });
  EXPECT_EQ(boxes.Prompt("New name:", std::nullopt, "ORDERS"), "");
}

TEST_F(GuiTest, FolderChooserOpensAtTheStartFolderWithItsTitleAndCancelGivesNothing) {
  TempFolder start;
  QWidget owner;
  QtDialogs boxes(&owner);
  WhenModal([&](QWidget* w) {
    auto* chooser = qobject_cast<QFileDialog*>(w);
    ASSERT_NE(chooser, nullptr);
    EXPECT_EQ(chooser->windowTitle(), "Please select folder:");
    EXPECT_EQ(chooser->fileMode(), QFileDialog::Directory);
    EXPECT_TRUE(chooser->testOption(QFileDialog::ShowDirsOnly));
    EXPECT_EQ(chooser->directory().absolutePath().toStdString(), start.str());
    chooser->reject();
  });
  EXPECT_EQ(boxes.ChooseFolder("Please select folder:", start.str()), "");
}

}  // namespace
}  // namespace corvane::windows
