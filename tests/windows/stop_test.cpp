// Stopping a copy from the window: closing it, Escape and Yes, or Escape in
// the login window after "< Back". The copy stops at its next row, the
// table it was replacing stays whole, nothing of it is left behind, and
// only the one message the user asked for is shown.
#include <unistd.h>

#include <QApplication>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "connection/connection.h"
#include "frame/stopping.h"
#include "paradox/pxlib_maker.h"
#include "support/pg_env.h"
#include "windows/flow.h"
#include "windows/gui_fixture.h"

namespace corvane::windows {
namespace {

using paradox::testing::PxlibTable;
using testing::GuiTest;
using testing::TempFolder;

constexpr long kRows = 50000;  // more than one batch of rows sent together
constexpr long kOldRows = 3;

enum class How { kClose, kEscape, kEscapeInLoginWindow };

struct Case {
  const char* name;
  bool to_paradox;
  How how;
};

// Every file of the folder with its bytes.
std::map<std::string, std::string> Files(const std::string& folder) {
  std::map<std::string, std::string> out;
  for (const auto& e : std::filesystem::directory_iterator(folder)) {
    std::ifstream in(e.path(), std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    out[e.path().filename().string()] = bytes.str();
  }
  return out;
}

std::string Scalar(Connection& c, const std::string& sql) {
  auto r = c.Execute(sql);
  if (!r.ok()) return "error: " + r.status().message();
  return (*r)->Eof() ? "" : (*r)->FieldValue(0).text();
}

void Select(QListWidget* list, const std::vector<std::string>& names) {
  for (int i = 0; i < list->count(); ++i) {
    const std::string text = list->item(i)->text().toStdString();
    if (std::find(names.begin(), names.end(), text) == names.end()) continue;
    list->item(i)->setSelected(true);
    list->setCurrentRow(i, QItemSelectionModel::NoUpdate);
  }
}

class StopTest : public GuiTest {
 protected:
  void StoreLogin(ConnectionSettings s, const TempFolder& folder) {
    s.paradox_folder = folder.str();
    for (auto [key, value] : {std::pair{"ParadoxFolder", s.paradox_folder},
                              {"Server", s.server},
                              {"Port", s.port},
                              {"User", s.user},
                              {"Password", s.password},
                              {"Database", s.database}})
      Store(key, value);
  }
};

TEST_F(StopTest, AStoppedCopyLeavesTheOldTableWhole) {
  CORVANE_REQUIRE_POSTGRES(pg);
  const std::string id = std::to_string(::getpid() % 10000);
  const std::string big = "SB" + id, small = "SC" + id;  // the walk takes SC first
  const Case cases[] = {
      {"close, to PostgreSQL", false, How::kClose},
      {"close, to Paradox", true, How::kClose},
      {"Escape, to PostgreSQL", false, How::kEscape},
      {"Escape, to Paradox", true, How::kEscape},
      {"Escape in the login window, to PostgreSQL", false, How::kEscapeInLoginWindow},
  };
  Connection c;
  ASSERT_TRUE(c.Open(PostgresConnectionString(pg)).ok());
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    dialogs.shown.clear();
    TempFolder folder;
    for (const std::string& t : {big, small}) (void)c.Execute("DROP TABLE IF EXISTS \"" + t + "\"");
    const bool escape = k.how != How::kClose;
    // The source: many rows in the big table, one in the small; the old
    // table of the big one's name on the other side.
    PxlibTable old_table;
    old_table.Field("ID", 0x04, 4).Field("NAME", 0x01, 20);
    for (long i = 1; i <= kOldRows; ++i) old_table.Row({i, std::string("old")});
    if (k.to_paradox) {
      ASSERT_EQ(old_table.Write(folder.Put(big + ".db")), "");
      ASSERT_TRUE(c.Execute("CREATE TABLE \"" + big +
                            "\" AS SELECT g AS id, 'row ' || g AS name "
                            "FROM generate_series(1, " +
                            std::to_string(kRows) + ") g")
                      .ok());
      if (escape) {
        ASSERT_TRUE(c.Execute("CREATE TABLE \"" + small + "\" AS SELECT 1 AS id").ok());
      }
    } else {
      PxlibTable source;
      source.Field("ID", 0x04, 4).Field("NAME", 0x01, 20);
      for (long i = 1; i <= kRows; ++i) source.Row({i, "row " + std::to_string(i)});
      ASSERT_EQ(source.Write(folder.Put(big + ".db")), "");
      if (escape) {
        ASSERT_EQ(PxlibTable().Field("ID", 0x04, 4).Row({1L}).Write(folder.Put(small + ".db")), "");
      }
      ASSERT_TRUE(c.Execute("CREATE TABLE \"" + big +
                            "\" AS SELECT g AS id, 'old' AS name "
                            "FROM generate_series(1, " +
                            std::to_string(kOldRows) + ") g")
                      .ok());
    }
    const auto before = Files(folder.str());
    StoreLogin(pg, folder);

    TempFolder program;  // the staging database of its own
    program.Put("dbtemp.mdb");
    Windows w(Services(program.str()));
    w.Start();
    Form2& f = w.form2();
    ASSERT_TRUE(f.isVisible());
    Select(f.findChild<QListWidget*>(k.to_paradox ? "List1" : "List2"), {big, small});
    auto* bar = f.findChild<QProgressBar*>("ProgressBar1");
    int asked_at = -1, highest = 0;  // the progress when stopped, and after
    std::string login_title, bar_text;
    bool login_busy = false;
    // A few rows into the big table the user stops the copy. Done as the
    // bar moves, so where it stops depends on no clock.
    QObject::connect(bar, &QProgressBar::valueChanged, &f, [&](int value) {
      if (asked_at >= 0) highest = std::max(highest, value);
      if (asked_at >= 0 || value < 5 || value >= 100) return;
      asked_at = value;
      bar_text = bar->text().toStdString();
      if (k.how == How::kClose) return (void)f.close();
      if (k.how == How::kEscape) return QTest::keyClick(&f, Qt::Key_Escape);
      f.findChild<QPushButton*>("PushButton2")->click();  // "< Back"
      Form1& login = w.form1();
      login_title = login.windowTitle().toStdString();
      login_busy = login.isVisible() && login.pointer().Get() == ui::PointerShape::kHourglass;
      login.findChild<QPushButton*>("PushButton2")->click();  // "Next >" waits, and says so
      QTest::keyClick(&login, Qt::Key_Escape);
    });
    QTimer::singleShot(0, &f, [&] {
      f.findChild<QPushButton*>(k.to_paradox ? "PushButton3" : "PushButton4")->click();
      if (escape) QCoreApplication::exit(0);  // closing the window ends the program itself
    });
    QTimer guard;
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(3); });
    guard.start(120000);
    EXPECT_EQ(QApplication::exec(), 0);
    guard.stop();

    EXPECT_GE(asked_at, 5);
    EXPECT_LT(highest, 100) << "the copy went on to the last row";
    EXPECT_FALSE(gate.busy());
    EXPECT_TRUE(dialogs.Failures().empty()) << dialogs.Failures().front();
    // The old table whole, no scratch table or file left.
    EXPECT_EQ(Scalar(c, "SELECT count(*) FROM pg_class WHERE relname LIKE 'corvane~%'"), "0");
    if (k.to_paradox) {
      auto after = Files(folder.str());
      if (escape) {
        EXPECT_EQ(after.erase(small + ".DB") + after.erase(small + ".db"), 1u);
      }
      EXPECT_EQ(after, before);
    } else {
      EXPECT_EQ(Scalar(c, "SELECT count(*) || ' ' || min(name) FROM \"" + big + "\""),
                std::to_string(kOldRows) + " old");
    }
    if (escape) {
      EXPECT_NE(bar_text.find(frame::kEscapeStops), std::string::npos) << bar_text;
      std::vector<std::string> messages;
      for (const auto& d : dialogs.shown)
        if (d.kind == "message") messages.push_back(d.text);
      ASSERT_FALSE(messages.empty());
      const std::string& said = messages.back();
      EXPECT_NE(said.find("Copied: " + small + " (1 row)."), std::string::npos) << said;
      EXPECT_NE(said.find("left as they were: " + big + "."), std::string::npos) << said;
      EXPECT_EQ(dialogs.shown.back().text, said);
      int stop_questions = 0;
      for (const auto& d : dialogs.shown) stop_questions += d.text == frame::kStopQuestion;
      EXPECT_EQ(stop_questions, 1);
    } else {
      for (const auto& d : dialogs.shown) EXPECT_EQ(d.kind, "question") << d.text;
    }
    if (k.how == How::kEscapeInLoginWindow) {
      EXPECT_TRUE(login_busy);
      EXPECT_NE(login_title.find(frame::kCopyingToPostgres), std::string::npos) << login_title;
      EXPECT_EQ(w.form1().windowTitle(), "Corvane");  // back to its caption
      ASSERT_GE(dialogs.shown.size(), 3u);
      EXPECT_EQ(dialogs.shown[dialogs.shown.size() - 3].text.rfind(frame::kCopyingToPostgres, 0),
                0u);
      w.form1().hide();
    }
    f.hide();
  }
  for (const std::string& t : {big, small}) (void)c.Execute("DROP TABLE IF EXISTS \"" + t + "\"");
}

// Deleting several tables: closing the window after the first stops before
// the next, and the others stay whole.
TEST_F(StopTest, ClosingDuringADeleteStopsBeforeTheNextTable) {
  TempFolder folder;
  const std::vector<std::string> names = {"DA", "DB", "DC"};
  for (const std::string& n : names)
    ASSERT_EQ(PxlibTable().Field("ID", 0x04, 4).Row({1L}).Write(folder.Put(n + ".db")), "");
  Store("ParadoxFolder", folder.str());
  Windows w(Services());
  w.form1().Form_Load();
  Form2& f = w.form2();
  f.Form_Load();
  f.show();
  auto* list = f.findChild<QListWidget*>("List2");
  Select(list, names);
  dialogs.shown.clear();  // the server list could not be filled
  QObject::connect(list->model(), &QAbstractItemModel::rowsRemoved, &f, [&] { f.close(); });
  f.findChild<QPushButton*>("PushButton5")->click();  // "Delete Table/s"
  // The walk goes from the last entry: DC went, DA and DB stay.
  EXPECT_FALSE(std::filesystem::exists(folder.str() + "/DC.db"));
  EXPECT_TRUE(std::filesystem::exists(folder.str() + "/DB.db"));
  EXPECT_TRUE(std::filesystem::exists(folder.str() + "/DA.db"));
  EXPECT_TRUE(dialogs.shown.empty());
  EXPECT_FALSE(f.isVisible());
}

}  // namespace
}  // namespace corvane::windows
