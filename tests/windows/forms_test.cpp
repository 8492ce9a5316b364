// The two windows as built: names, captions, places, fonts, tab order,
// password echo, focus, the settings written as the fields change, colours
// and skin, and the hover cursor.
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <functional>

#include "windows/flow.h"
#include "windows/gui_fixture.h"
#include "support/temp_folder.h"

namespace corvane::windows {
namespace {

using testing::GuiTest;
using testing::HoverOver;
using testing::TempFolder;

template <typename T = QWidget>
T* Find(QWidget* window, const char* name) {
  T* w = window->findChild<T*>(QString::fromLatin1(name));
  EXPECT_NE(w, nullptr) << name;
  return w;
}

QRect Twips(int left, int top, int width, int height) {
  return QRect(PxFromTwips(left), PxFromTwips(top), PxFromTwips(width), PxFromTwips(height));
}

struct Placed {
  const char* name;
  const char* parent;
  const char* caption;
  int left, top, width, height;
};

QString CaptionOf(QWidget* w) {
  if (auto* b = qobject_cast<QPushButton*>(w)) return b->text();
  if (auto* l = qobject_cast<QLabel*>(w)) return l->text();
  if (auto* g = qobject_cast<QGroupBox*>(w)) return g->title();
  if (auto* p = qobject_cast<QProgressBar*>(w)) return p->text();
  return QString();
}

void ExpectLayout(QWidget* window, const std::vector<Placed>& controls) {
  for (const Placed& c : controls) {
    QWidget* w = Find(window, c.name);
    if (w == nullptr) continue;
    EXPECT_EQ(w->parentWidget()->objectName().toStdString(), c.parent) << c.name;
    EXPECT_EQ(w->geometry(), Twips(c.left, c.top, c.width, c.height)) << c.name;
    EXPECT_EQ(CaptionOf(w).toStdString(), c.caption) << c.name;
  }
}

// The names of the widgets Tab visits, starting at `first`; `then` runs
// before the window is hidden again.
std::vector<std::string> TabWalk(QWidget* window, QWidget* first, int steps,
                                 const std::function<void()>& then = {}) {
  window->show();
  window->activateWindow();
  EXPECT_TRUE(QTest::qWaitForWindowActive(window));
  first->setFocus(Qt::TabFocusReason);
  std::vector<std::string> names;
  for (int i = 0; i < steps; ++i) {
    names.push_back(QApplication::focusWidget()->objectName().toStdString());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  }
  if (then) then();
  window->hide();
  return names;
}

TEST_F(GuiTest, LoginWindowControlsSitWhereTheTwipsSay) {
  Windows w(Services());
  Form1& f = w.form1();
  EXPECT_EQ(f.objectName(), "Form1");
  EXPECT_EQ(f.size(), QSize(PxFromTwips(8040), PxFromTwips(5130)));
  ExpectLayout(&f, {{"Frame1", "Form1", "Paradox Database", 120, 120, 7800, 1455},
                    {"Label2", "Frame1", "Paradox Folder:", 240, 405, 1455, 255},
                    {"Text1", "Frame1", "", 1680, 360, 5175, 345},
                    {"PushButton5", "Frame1", "...", 6940, 360, 600, 345},
                    {"PushButton4", "Frame1", "Load Sample/Example Database", 240, 840, 3600, 405},
                    {"PushButton3", "Frame1", "Test Connection", 3960, 840, 3600, 405},
                    {"Frame2", "Form1", "PostgreSQL Login", 120, 1630, 7800, 2830},
                    {"Label1", "Frame2", "Server:", 240, 405, 975, 255},
                    {"Text2", "Frame2", "", 1320, 360, 4575, 330},
                    {"Label5", "Frame2", "Port:", 6000, 405, 495, 255},
                    {"Text3", "Frame2", "", 6480, 360, 1095, 330},
                    {"Label4", "Frame2", "Username:", 240, 885, 1095, 255},
                    {"Text4", "Frame2", "", 1320, 840, 6255, 330},
                    {"Label6", "Frame2", "Password:", 240, 1365, 1095, 255},
                    {"Text5", "Frame2", "", 1320, 1320, 6255, 330},
                    {"Label3", "Frame2", "Database:", 240, 1845, 1095, 255},
                    {"Text6", "Frame2", "", 1320, 1800, 6255, 330},
                    {"PushButton1", "Frame2", "Test Connection", 240, 2280, 3600, 405},
                    {"PushButton6", "Frame2", "Help", 3960, 2280, 3600, 405},
                    {"PushButton2", "Form1", "Next >", 120, 4600, 7800, 405}});
  QFont field = Find(&f, "Text4")->font(), button = Find(&f, "PushButton2")->font();
  EXPECT_EQ(field.family(), "Arial");
  EXPECT_TRUE(field.bold());
  EXPECT_DOUBLE_EQ(field.pointSizeF(), 9);
  EXPECT_TRUE(button.bold());
  EXPECT_DOUBLE_EQ(button.pointSizeF(), 11.25);
  EXPECT_DOUBLE_EQ(Find(&f, "Label6")->font().pointSizeF(), 9);
}

TEST_F(GuiTest, TablesWindowControlsSitWhereTheTwipsSay) {
  Windows w(Services());
  Form2& f = w.form2();
  EXPECT_EQ(f.objectName(), "Form2");
  EXPECT_EQ(f.width(), PxFromTwips(8040));
  ExpectLayout(&f, {{"Frame1", "Form2", "PostgreSQL Tables", 120, 120, 3840, 4215},
                    {"List1", "Frame1", "", 240, 360, 3330, 1635},
                    {"PushButton10", "Frame1", "Select All", 240, 2100, 1600, 405},
                    {"PushButton11", "Frame1", "Deselect All", 1960, 2100, 1600, 405},
                    {"PushButton3", "Frame1", "Send Table/s To Paradox", 240, 2600, 3330, 405},
                    {"PushButton1", "Frame1", "Delete Table/s", 240, 3100, 3330, 405},
                    {"PushButton6", "Frame1", "Rename Table", 240, 3600, 3330, 405},
                    {"Frame2", "Form2", "Paradox Tables", 4080, 120, 3840, 4215},
                    {"List2", "Frame2", "", 240, 360, 3330, 1635},
                    {"PushButton8", "Frame2", "Select All", 240, 2100, 1600, 405},
                    {"PushButton9", "Frame2", "Deselect All", 1960, 2100, 1600, 405},
                    {"PushButton4", "Frame2", "Send Table/s To PostgreSQL", 240, 2600, 3330, 405},
                    {"PushButton5", "Frame2", "Delete Table/s", 240, 3100, 3330, 405},
                    {"PushButton7", "Frame2", "Rename Table", 240, 3600, 3330, 405},
                    {"ProgressBar1", "Form2", "Progress Bar", 120, 4460, 7800, 405},
                    {"PushButton2", "Form2", "< Back", 120, 4980, 3840, 405},
                    {"PushButton12", "Form2", "Help", 4080, 4980, 3840, 405}});
  auto* bar = Find<QProgressBar>(&f, "ProgressBar1");
  EXPECT_EQ(bar->value(), 0);
  EXPECT_TRUE(bar->isTextVisible());
  for (const char* list : {"List1", "List2"}) {
    auto* l = Find<QListWidget>(&f, list);
    EXPECT_EQ(l->selectionMode(), QAbstractItemView::ExtendedSelection);
    EXPECT_EQ(l->font().family(), "Arial");
  }
  // The load step's height rule: "< Back" top + height + 580 twips, frame
  // included, as the window system frames it.
  (void)f.SetHeight(frame::kTablesWindowHeightTwips);
  f.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&f));
  EXPECT_GT(f.frameGeometry().height(), f.height());
  EXPECT_EQ(f.frameGeometry().height(), PxFromTwips(5965));
  EXPECT_EQ(f.size(), f.DesignedSize());
  f.hide();
}

TEST_F(GuiTest, WindowsOpenCentredAndTheTablesWindowGrowsAndKeepsItsSize) {
  QSize enlarged;
  {
    Windows w(Services());
    for (QWidget* window : {static_cast<QWidget*>(&w.form1()), static_cast<QWidget*>(&w.form2())}) {
      window->show();
      ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
      const QPoint off =
          window->frameGeometry().center() - window->screen()->availableGeometry().center();
      EXPECT_LE(off.manhattanLength(), 4) << window->objectName().toStdString();
    }
    Form2& f = w.form2();
    const QSize designed = f.DesignedSize();
    auto at = [&](const char* name) { return Find(&f, name)->geometry(); };
    const QRect list1 = at("List1"), list2 = at("List2"), send = at("PushButton3"),
                back = at("PushButton2"), help = at("PushButton12"), delete2 = at("PushButton5");
    f.resize(designed + QSize(201, 300));
    EXPECT_EQ(at("List1").size(), list1.size() + QSize(100, 300));
    EXPECT_EQ(at("List2").size(), list2.size() + QSize(100, 300));
    EXPECT_EQ(Find(&f, "Frame2")->x() + Find(&f, "List2")->x(),
              Find(&f, "Frame2")->x() + list2.x());  // the list stays in its frame
    EXPECT_EQ(Find(&f, "Frame2")->geometry().left(), PxFromTwips(4080) + 100);
    // Buttons keep their size and their distance below their list.
    for (auto [name, before] : {std::pair{"PushButton3", send},
                                {"PushButton5", delete2},
                                {"PushButton2", back},
                                {"PushButton12", help}}) {
      EXPECT_EQ(at(name).size(), before.size()) << name;
      EXPECT_EQ(at(name).top(), before.top() + 300) << name;
    }
    EXPECT_LE(Find(&f, "Frame2")->geometry().right(), f.width());
    EXPECT_LE(Find(&f, "PushButton12")->geometry().bottom(), f.height());
    f.resize(designed - QSize(50, 50));  // not below the design
    EXPECT_EQ(f.size(), designed);
    EXPECT_EQ(at("List1"), list1);
    enlarged = designed + QSize(120, 80);
    f.resize(enlarged);
    f.hide();
    w.form1().hide();
  }
  Windows again(Services());
  EXPECT_EQ(again.form2().size(), enlarged);
  (void)again.form2().SetHeight(frame::kTablesWindowHeightTwips);  // the next load step
  EXPECT_EQ(again.form2().size(), enlarged);
  Store("TablesWindowSize", "99999x99999");
  Windows huge(Services());
  EXPECT_LE(huge.form2().height(), huge.form2().screen()->availableGeometry().height());
  Store("TablesWindowSize", "garbage");
  Windows bad(Services());
  EXPECT_EQ(bad.form2().width(), PxFromTwips(8040));
}

// Tab visits every control in the designed order (the box under the
// Paradox buttons among them), Return presses the focused button as Space
// does, and a list shows the focus even with no current entry.
TEST_F(GuiTest, TabVisitsTheControlsInTheDesignedOrder) {
  Windows w(Services());
  struct Walk {
    QWidget* window;
    std::vector<std::string> order;  // from the first control back to it
    const char* help;                // the button Return is tried on
  };
  const Walk walks[] = {
      {&w.form1(),
       {"Text1", "Text2", "Text3", "Text4", "Text5", "Text6", "PushButton5", "PushButton3",
        "PushButton1", "PushButton6", "PushButton2", "PushButton4", "Text1"},
       "PushButton6"},
      {&w.form2(),
       {"List1", "List2", "PushButton10", "PushButton11", "PushButton3", "PushButton1",
        "PushButton6", "PushButton2", "PushButton8", "PushButton9", "PushButton4", "PushButton5",
        "PushButton7", "Check1", "PushButton12", "List1"},
       "PushButton12"},
  };
  for (const Walk& k : walks) {
    SCOPED_TRACE(k.window->objectName().toStdString());
    dialogs.shown.clear();
    auto then = [&] {
      if (auto* list = k.window->findChild<QListWidget*>("List1")) {
        list->setFocus(Qt::TabFocusReason);
        ASSERT_TRUE(list->hasFocus());
        EXPECT_EQ(list->currentRow(), -1);
        const QImage focused = list->grab().toImage();
        Find(k.window, k.help)->setFocus(Qt::TabFocusReason);
        EXPECT_NE(list->grab().toImage(), focused) << "the focused list looks the same";
      }
      Find(k.window, k.help)->setFocus(Qt::TabFocusReason);
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    };
    EXPECT_EQ(TabWalk(k.window, Find(k.window, k.order[0].c_str()), k.order.size(), then), k.order);
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(
        dialogs.shown[0].text.substr(0, 20),
        (k.help == std::string("PushButton6") ? frame::LoginHelpText() : frame::TablesHelpText())
            .substr(0, 20));
  }
}

TEST_F(GuiTest, PasswordShowsStarsAndFocusSelectsTheWholeText) {
  Windows w(Services());
  auto* password = Find<QLineEdit>(&w.form1(), "Text5");
  password->setText("s3;cret");
  EXPECT_EQ(password->displayText(), "*******");
  EXPECT_EQ(Stored("Password"), "s3;cret");  // stored as typed

  auto* server = Find<QLineEdit>(&w.form1(), "Text2");
  server->setText("db.example.org");
  server->deselect();
  w.form1().show();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&w.form1()));
  server->setFocus(Qt::OtherFocusReason);
  EXPECT_EQ(server->selectedText(), "db.example.org");
  QTest::keyClicks(server, "pg1");  // typing replaces the selection
  EXPECT_EQ(server->text(), "pg1");
  EXPECT_EQ(Stored("Server"), "pg1");
  w.form1().hide();
}

TEST_F(GuiTest, FirstStartStoresTheDefaultsAndARestartShowsWhatWasTyped) {
  {
    Windows w(Services());
    w.form1().Form_Load();
    EXPECT_EQ(Stored("Server"), "localhost");
    EXPECT_EQ(Stored("Port"), "5432");
    EXPECT_EQ(Stored("User"), "<absent>");  // empty reads write nothing
    auto* user = Find<QLineEdit>(&w.form1(), "Text4");
    std::vector<std::string> seen;
    for (char c : std::string("ann")) {
      QTest::keyClick(user, c);
      seen.push_back(Stored("User"));
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"a", "an", "ann"}));
    Find<QLineEdit>(&w.form1(), "Text2")->clear();
    EXPECT_EQ(Stored("Server"), "");
  }
  Windows again(Services());
  again.form1().Form_Load();
  EXPECT_EQ(Find<QLineEdit>(&again.form1(), "Text2")->text(), "");  // not "localhost"
  EXPECT_EQ(Find<QLineEdit>(&again.form1(), "Text3")->text(), "5432");
  EXPECT_EQ(Find<QLineEdit>(&again.form1(), "Text4")->text(), "ann");
}

TEST_F(GuiTest, AStoreThatCannotBeWrittenIsReportedOnceAndTheFieldKeepsItsText) {
  TempFolder program;
  program.Put("blocked");  // the settings folder would have to be inside a file
  store = app::MakeIniSettingsStore(program.str() + "/blocked");
  Windows w(Services(program.str()));
  auto* user = Find<QLineEdit>(&w.form1(), "Text4");
  QTest::keyClicks(user, "bob");
  EXPECT_EQ(user->text(), "bob");
  ASSERT_EQ(dialogs.shown.size(), 1u);
  EXPECT_EQ(dialogs.shown[0].icon, ui::MessageIcon::kExclamation);
}

TEST_F(GuiTest, WithoutTheSkinFileTheLoginWindowIsWhiteWithItTakesTheButtonFace) {
  TempFolder bare;
  Windows plain(Services(bare.str()));
  plain.form1().Form_Load();
  for (const char* name : {"Frame1", "Frame2", "Label2", "Label6"})
    EXPECT_EQ(Find(&plain.form1(), name)->palette().color(QPalette::Window), QColor(Qt::white))
        << name;
  EXPECT_EQ(plain.form1().palette().color(QPalette::Window), QColor(Qt::white));
  EXPECT_TRUE(qApp->styleSheet().isEmpty());
  EXPECT_FALSE(plain.form1().pointer().HasCustomCursor());  // no HAND-M.CUR: nothing said
  EXPECT_EQ(plain.form1().windowTitle(), "Corvane");
  EXPECT_FALSE(plain.form1().windowIcon().isNull());
  EXPECT_EQ(ApplicationTitle(), "Corvane");
  // Qt appends its display name to every title bar: it must stay unset.
  EXPECT_NE(QApplication::applicationDisplayName(), "Corvane");

  bare.Put("HAND-M.CUR", "not a cursor");  // a damaged file is reported, then ignored
  Windows damaged(Services(bare.str()));
  damaged.form1().Form_Load();
  ASSERT_EQ(dialogs.Failures().size(), 1u);
  EXPECT_NE(dialogs.Failures()[0].find("Form1.Form_Load at line 110"), std::string::npos);
  EXPECT_FALSE(damaged.form1().pointer().HasCustomCursor());

  const QColor face = QApplication::palette().color(QPalette::Button);
  Windows skinned(Services());
  skinned.form1().Form_Load();
  EXPECT_TRUE(qApp->styleSheet().contains("QPushButton"));
  EXPECT_TRUE(skinned.form1().pointer().HasCustomCursor());
  EXPECT_EQ(skinned.form1().palette().color(QPalette::Window), face);
  // The tables window always takes the button face.
  skinned.form2().Form_Load();
  EXPECT_EQ(skinned.form2().palette().color(QPalette::Window), face);
  EXPECT_EQ(skinned.form2().windowTitle(), "Corvane");
}

TEST_F(GuiTest, HandOverButtonsDefaultOverSurfacesAndTheHourglassStays) {
  Windows w(Services());
  Form1& f = w.form1();
  f.Form_Load();
  f.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&f));
  QWidget* text1 = Find(&f, "Text1");
  HoverOver(Find(&f, "PushButton3"));
  EXPECT_EQ(f.pointer().Get(), ui::PointerShape::kCustom);
  EXPECT_EQ(text1->cursor().shape(), Qt::BitmapCursor);  // the hand stands over the window
  EXPECT_EQ(text1->cursor().hotSpot(), QPoint(7, 0));    // the finger tip, from the file
  HoverOver(Find(&f, "Label2"));                         // labels change nothing
  EXPECT_EQ(f.pointer().Get(), ui::PointerShape::kCustom);
  HoverOver(text1);
  EXPECT_EQ(f.pointer().Get(), ui::PointerShape::kDefault);
  EXPECT_EQ(text1->cursor().shape(), Qt::IBeamCursor);  // the field's own pointer again

  f.pointer().Set(ui::PointerShape::kHourglass);
  HoverOver(Find(&f, "PushButton1"));
  HoverOver(text1);
  EXPECT_EQ(f.pointer().Get(), ui::PointerShape::kHourglass);
  EXPECT_EQ(Find(&f, "PushButton1")->cursor().shape(), Qt::WaitCursor);
  f.pointer().Set(ui::PointerShape::kDefault);
  f.hide();

  Form2& t = w.form2();
  t.Form_Load();
  t.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&t));
  HoverOver(Find(&t, "PushButton7"));
  HoverOver(Find<QListWidget>(&t, "List1")->viewport());  // List1 has no pointer handling
  EXPECT_EQ(t.pointer().Get(), ui::PointerShape::kCustom);
  HoverOver(Find<QListWidget>(&t, "List2")->viewport());
  EXPECT_EQ(t.pointer().Get(), ui::PointerShape::kDefault);
  t.hide();
}

}  // namespace
}  // namespace corvane::windows
