// The way through the two windows: quick path, "Next >", "< Back", the
// lists the load step fills, the buttons that work on them, closing.
#include "windows/flow.h"

#include <QCheckBox>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "connection/connection.h"
#include "paradox/pxlib_maker.h"
#include "support/pg_env.h"
#include "windows/gui_fixture.h"
#include "support/temp_folder.h"

namespace corvane::windows {
namespace {

using testing::GuiTest;
using testing::TempFolder;

void MakeTable(const TempFolder& dir, const std::string& relative) {
  std::string err =
      paradox::testing::PxlibTable().Field("Code", 0x04, 4).Row({7L}).Write(dir.Put(relative));
  ASSERT_EQ(err, "");
}

std::vector<std::string> Names(QWidget* window, const char* list) {
  auto* l = window->findChild<QListWidget*>(QString::fromLatin1(list));
  std::vector<std::string> out;
  for (int i = 0; i < l->count(); ++i) out.push_back(l->item(i)->text().toStdString());
  return out;
}

void Click(QWidget* window, const char* button) {
  QTest::mouseClick(window->findChild<QPushButton*>(QString::fromLatin1(button)), Qt::LeftButton);
}

class FlowTest : public GuiTest {
 protected:
  void StoreLogin(const ConnectionSettings& s) {
    Store("ParadoxFolder", s.paradox_folder);
    Store("Server", s.server);
    Store("Port", s.port);
    Store("User", s.user);
    Store("Password", s.password);
    Store("Database", s.database);
  }
  void StoreLoginOn(ConnectionSettings login, const TempFolder& folder) {
    login.paradox_folder = folder.str();
    StoreLogin(login);
  }
};

TEST_F(FlowTest, QuickPathOpensTheTablesWindowWhenBothSidesAnswer) {
  CORVANE_REQUIRE_POSTGRES(pg);
  TempFolder folder;
  MakeTable(folder, "orders.db");
  MakeTable(folder, "Customer.DB");
  MakeTable(folder, "old/items.db");
  ConnectionSettings login = pg;
  login.paradox_folder = folder.str();
  StoreLogin(login);
  Windows w(Services());
  w.Start();
  EXPECT_TRUE(w.form2().isVisible());
  EXPECT_FALSE(w.form1().isVisible());
  EXPECT_EQ(Names(&w.form2(), "List2"), (std::vector<std::string>{"CUSTOMER", "ITEMS", "ORDERS"}));
  EXPECT_TRUE(dialogs.shown.empty());
  w.form2().hide();
}

TEST_F(FlowTest, WithoutATableInTheFolderItselfTheLoginWindowStaysAndNoServerIsTried) {
  TempFolder folder;
  MakeTable(folder, "sub/orders.db");
  testing::Listener server;
  StoreLogin({folder.str(), "127.0.0.1", server.port(), "u", "p", "d"});
  Windows w(Services());
  w.Start();
  EXPECT_TRUE(w.form1().isVisible());
  EXPECT_FALSE(w.form2().isVisible());
  Click(&w.form1(), "PushButton2");  // "Next >"
  EXPECT_TRUE(w.form1().isVisible());
  EXPECT_FALSE(w.form2().isVisible());
  EXPECT_FALSE(server.Contacted());
  EXPECT_TRUE(dialogs.shown.empty());
  EXPECT_EQ(w.form1().pointer().Get(), ui::PointerShape::kDefault);
  w.form1().hide();
}

TEST_F(FlowTest, NextBackAndAnotherFolderShowTheNewFoldersTables) {
  CORVANE_REQUIRE_POSTGRES(pg);
  TempFolder first, second;
  MakeTable(first, "alpha.db");
  MakeTable(second, "beta.db");
  MakeTable(second, "Gamma.db");
  Windows w(Services());
  w.Start();
  auto* folder = w.form1().findChild<QLineEdit*>("Text1");
  w.form1().findChild<QLineEdit*>("Text2")->setText(QString::fromStdString(pg.server));
  w.form1().findChild<QLineEdit*>("Text3")->setText(QString::fromStdString(pg.port));
  w.form1().findChild<QLineEdit*>("Text4")->setText(QString::fromStdString(pg.user));
  w.form1().findChild<QLineEdit*>("Text5")->setText(QString::fromStdString(pg.password));
  w.form1().findChild<QLineEdit*>("Text6")->setText(QString::fromStdString(pg.database));
  folder->setText(QString::fromStdString(first.str()));
  Click(&w.form1(), "PushButton2");
  ASSERT_TRUE(w.form2().isVisible());
  EXPECT_FALSE(w.form1().isVisible());
  EXPECT_EQ(Names(&w.form2(), "List2"), std::vector<std::string>{"ALPHA"});

  Click(&w.form2(), "PushButton2");  // "< Back"
  EXPECT_TRUE(w.form1().isVisible());
  EXPECT_FALSE(w.form2().isVisible());
  EXPECT_EQ(Names(&w.form2(), "List2"), std::vector<std::string>{"ALPHA"});  // kept while hidden
  folder->setText(QString::fromStdString(second.str()));
  Click(&w.form1(), "PushButton2");
  EXPECT_TRUE(w.form2().isVisible());
  EXPECT_EQ(Names(&w.form2(), "List2"), (std::vector<std::string>{"BETA", "GAMMA"}));
  EXPECT_TRUE(dialogs.shown.empty());
  w.form2().hide();
}

TEST_F(FlowTest, AFailingCatalogShowsTheFailureDialogAndTheOtherListStillFills) {
  TempFolder folder;
  MakeTable(folder, "orders.db");
  Windows w(Services());
  w.form1().findChild<QLineEdit*>("Text1")->setText(QString::fromStdString(folder.str()));
  w.form1().findChild<QLineEdit*>("Text2")->setText("127.0.0.1");
  w.form1().findChild<QLineEdit*>("Text3")->setText(QString::fromStdString(testing::ClosedPort()));
  w.form2().Form_Load();
  ASSERT_EQ(dialogs.Failures().size(), 1u);
  EXPECT_NE(dialogs.Failures()[0].find("in Corvane2021/08/31.Form2.Form_Load at line 116"),
            std::string::npos);
  EXPECT_TRUE(Names(&w.form2(), "List1").empty());
  EXPECT_EQ(Names(&w.form2(), "List2"), std::vector<std::string>{"ORDERS"});
}

TEST_F(FlowTest, SelectAndDeselectAllWorkOnTheirOwnListOnly) {
  Windows w(Services());
  Form2& f = w.form2();
  for (const char* n : {"b", "A", "c"}) {
    f.postgres_list().Add(n);
    f.paradox_list().Add(n);
  }
  Click(&f, "PushButton10");
  EXPECT_EQ(f.postgres_list().SelectedCount(), 3);
  EXPECT_EQ(f.paradox_list().SelectedCount(), 0);
  Click(&f, "PushButton8");
  Click(&f, "PushButton11");
  EXPECT_EQ(f.postgres_list().SelectedCount(), 0);
  EXPECT_EQ(f.paradox_list().SelectedCount(), 3);
  Click(&f, "PushButton9");
  EXPECT_EQ(f.paradox_list().SelectedCount(), 0);
  // As a list box marked entry by entry: the last entry is current, so the
  // actions see a selection (and, after Deselect All, an empty one).
  EXPECT_EQ(f.paradox_list().CurrentIndex(), 2);

  // A long list changes in one update each way, not one per entry.
  auto* widget = f.findChild<QListWidget*>("List1");
  f.postgres_list().Clear();
  for (int i = 0; i < 10000; ++i) widget->addItem(QString::number(i));
  int updates = 0;
  QObject::connect(widget->selectionModel(), &QItemSelectionModel::selectionChanged,
                   [&updates] { ++updates; });
  Click(&f, "PushButton10");
  EXPECT_EQ(f.postgres_list().SelectedCount(), 10000);
  EXPECT_EQ(f.postgres_list().CurrentIndex(), 9999);
  Click(&f, "PushButton11");
  EXPECT_EQ(f.postgres_list().SelectedCount(), 0);
  EXPECT_EQ(updates, 2);
}

TEST_F(FlowTest, SampleButtonAndFolderChooserSetTheFolderField) {
  TempFolder program;
  Windows w(Services(program.str()));
  auto* folder = w.form1().findChild<QLineEdit*>("Text1");
  Click(&w.form1(), "PushButton4");
  EXPECT_EQ(folder->text().toStdString(), program.str() + "/Samples");
  EXPECT_EQ(Stored("ParadoxFolder"), program.str() + "/Samples");

  Store("LastFolderDot", "/srv");
  dialogs.folder_answers = {"", "/data/px"};
  Click(&w.form1(), "PushButton5");  // cancelled
  EXPECT_EQ(folder->text().toStdString(), program.str() + "/Samples");
  Click(&w.form1(), "PushButton5");
  EXPECT_EQ(folder->text(), "/data/px");
  EXPECT_EQ(Stored("ParadoxFolder"), "/data/px");
  EXPECT_EQ(Stored("LastFolderDot"), "/srv");
  EXPECT_EQ(dialogs.shown.back().text, "/srv");
}

// Answers every dialog by clicking another work button, the way a click
// arrives while a handler pumps events.
class ReenteringDialogs : public ui::ScriptedDialogs {
 public:
  void Message(const std::string& text, std::optional<std::string> title,
               ui::MessageIcon icon) override {
    ScriptedDialogs::Message(text, title, icon);
    if (reenter) std::exchange(reenter, nullptr)();
  }
  std::function<void()> reenter;
};

TEST_F(FlowTest, AWorkButtonDoesNothingWhileAnotherHandlerRuns) {
  ReenteringDialogs busy;
  WindowServices services{*store, app::ProgramFolder(), gate, &busy};
  Windows w(services);
  busy.reenter = [&] {
    Click(&w.form1(), "PushButton1");  // the login test must not start now
    Click(&w.form1(), "PushButton6");  // help is no work: it still answers
  };
  Click(&w.form1(), "PushButton3");
  ASSERT_EQ(busy.shown.size(), 2u);
  EXPECT_EQ(busy.shown[0].text, "Could not connect.");
  EXPECT_EQ(busy.shown[1].text, frame::LoginHelpText());
  Click(&w.form1(), "PushButton6");
  EXPECT_EQ(busy.shown.size(), 3u);
  EXPECT_FALSE(gate.busy());
}

// Closed while a handler runs: the handler is asked to stop (and put back
// what it changed); the request ends with the handler.
TEST_F(FlowTest, ClosingAWindowDuringWorkAsksTheHandlerToStop) {
  ReenteringDialogs busy;
  WindowServices services{*store, app::ProgramFolder(), gate, &busy};
  Windows w(services);
  bool asked = false;
  busy.reenter = [&] {
    w.form1().close();
    asked = StopRequested();
  };
  Click(&w.form1(), "PushButton3");
  EXPECT_TRUE(asked);
  EXPECT_FALSE(StopRequested());
  w.form1().close();  // no work running: nothing to stop
  EXPECT_FALSE(StopRequested());
}

TEST_F(FlowTest, ClosingTheTablesWindowWhileTheLoginWindowIsHiddenEndsTheProgram) {
  Windows w(Services());
  w.form2().show();
  QTimer::singleShot(0, &w.form2(), [&] { w.form2().close(); });
  QTimer guard;
  guard.setSingleShot(true);
  QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(3); });
  guard.start(5000);
  EXPECT_EQ(QApplication::exec(), 0);
  EXPECT_FALSE(w.form2().isVisible());
}

}  // namespace
}  // namespace corvane::windows

namespace corvane::windows {
namespace {

void ClickEntry(QListWidget* list, const std::string& name) {
  auto found = list->findItems(QString::fromStdString(name), Qt::MatchExactly);
  ASSERT_EQ(found.size(), 1) << name;
  QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier,
                    list->visualItemRect(found[0]).center());
}

TEST_F(FlowTest, TheSideButtonsReachTheirHandlers) {
  CORVANE_REQUIRE_POSTGRES(pg);
  TempFolder folder;
  const std::string name = "WIRE" + std::to_string(::getpid() % 10000);
  MakeTable(folder, name + ".db");
  StoreLoginOn(pg, folder);
  Windows w(Services());
  w.Start();
  Form2& f = w.form2();
  ASSERT_TRUE(f.isVisible());
  for (const char* idle :
       {"PushButton3", "PushButton1", "PushButton6", "PushButton5", "PushButton7"})
    Click(&f, idle);  // nothing current: each says so and changes nothing
  EXPECT_EQ(dialogs.shown.size(), 5u);
  EXPECT_TRUE(dialogs.Failures().empty());

  ClickEntry(f.findChild<QListWidget*>("List2"), name);
  f.findChild<QCheckBox*>("Check1")->click();  // keep field types and keys
  Click(&f, "PushButton4");  // "Send Table/s To PostgreSQL"
  EXPECT_TRUE(ui::ListContains(f.postgres_list(), name));
  // The box reached the transfer: a Long field became integer, not numeric.
  Connection c;
  ASSERT_TRUE(c.Open(PostgresConnectionString(pg)).ok());
  auto r = c.Execute("SELECT data_type FROM information_schema.columns WHERE table_name = '" +
                     name + "' AND column_name = 'Code'");
  ASSERT_TRUE(r.ok()) << r.status().message();
  ASSERT_FALSE((*r)->Eof());
  EXPECT_EQ((*r)->FieldValue(0).text(), "integer");
  c.Close();
  ClickEntry(f.findChild<QListWidget*>("List1"), name);
  Click(&f, "PushButton1");  // "Delete Table/s" on the PostgreSQL side
  EXPECT_FALSE(ui::ListContains(f.postgres_list(), name));
  f.Form_Load();
  EXPECT_FALSE(ui::ListContains(f.postgres_list(), name));  // dropped on the server too
  EXPECT_TRUE(ui::ListContains(f.paradox_list(), name));
  EXPECT_TRUE(dialogs.Failures().empty());
  f.hide();
}

TEST_F(FlowTest, SelectAllThenSendCopiesEveryTable) {
  CORVANE_REQUIRE_POSTGRES(pg);
  TempFolder folder;
  const std::string stem = "ALL" + std::to_string(::getpid() % 10000) + "_";
  const std::vector<std::string> names = {stem + "A", stem + "B", stem + "C"};
  for (const auto& n : names) MakeTable(folder, n + ".db");
  StoreLoginOn(pg, folder);
  Windows w(Services());
  w.Start();
  Form2& f = w.form2();
  ASSERT_TRUE(f.isVisible());
  Click(&f, "PushButton8");  // "Select All" on the Paradox side
  Click(&f, "PushButton4");  // "Send Table/s To PostgreSQL"
  ASSERT_TRUE(dialogs.shown.empty()) << dialogs.shown.front().text;
  Connection c;
  ASSERT_TRUE(c.Open(PostgresConnectionString(pg)).ok());
  for (const auto& n : names) {
    EXPECT_TRUE(ui::ListContains(f.postgres_list(), n)) << n;
    {
      auto r = c.Execute("SELECT \"Code\" FROM \"" + n + "\"");
      ASSERT_TRUE(r.ok()) << n << ": " << r.status().message();
      ASSERT_FALSE((*r)->Eof());
      EXPECT_EQ((*r)->FieldValue(0).text(), "7");
    }
    auto dropped = c.Execute("DROP TABLE \"" + n + "\"");
    EXPECT_TRUE(dropped.ok()) << dropped.status().message();
  }
  c.Close();
  f.hide();
}

}  // namespace
}  // namespace corvane::windows
