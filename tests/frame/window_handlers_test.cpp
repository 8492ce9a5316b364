// The frame handlers of the two windows on in-memory surfaces: load steps,
// the ways into the tables window, the login window's buttons, the field
// store and the hover rule.
#include "frame/window_handlers.h"

#include <gtest/gtest.h>

#include <map>

#include "frame/hover.h"
#include "paradox/pxlib_maker.h"
#include "support/pg_env.h"
#include "ui/memory_surfaces.h"
#include "windows/test_support.h"

namespace corvane {
namespace {

using frame::LoginFrame;
using frame::TablesFrame;
using testing::TempFolder;
using ui::PointerShape;

std::string MakeTable(const TempFolder& dir, const std::string& relative) {
  std::string path = dir.Put(relative);
  std::string err =
      paradox::testing::PxlibTable().Field("Name", 0x01, 20).Row({std::string("one")}).Write(path);
  EXPECT_EQ(err, "") << path;
  return path;
}

class FakeLoginFrame : public LoginFrame {
 public:
  Status ApplySkin() override { return Record("skin", skin); }
  Status SetCaption(const std::string& c) override { return Record("caption " + c); }
  Status SetIcon() override { return Record("icon"); }
  Status SetApplicationTitle(const std::string& t) override { return Record("title " + t); }
  Status LoadHandCursor(const std::string& p) override { return Record("cursor " + p, cursor); }
  void SetField(int n, const std::string& text) override {
    (void)Record("field" + std::to_string(n) + " " + text);
  }
  void LoadTablesWindow() override { (void)Record("load tables"); }
  Status ShowTablesWindow() override { return Record("show tables"); }

  Status skin, cursor;
  std::vector<std::string> calls;

 private:
  Status Record(const std::string& what, const Status& result = Status::Ok()) {
    calls.push_back(what);
    return result;
  }
};

struct LoginFixture {
  ui::MemoryPointer pointer;
  ui::ScriptedDialogs dialogs;
  ui::CountingPump pump;
  ui::FixedSettings settings;
  ui::LoginWindow window{dialogs, pointer, pump, settings, ""};
  FakeLoginFrame frame;
  std::map<std::string, std::string> store;
  frame::ReadSetting read = [this](const std::string& key,
                                     const std::string& fallback) -> Result<std::string> {
    auto it = store.find(key);
    return it == store.end() ? fallback : it->second;
  };
};

TEST(LoginLoad, RunsItsStepsInOrderAndFillsTheFieldsWithDefaults) {
  TempFolder program;
  program.Put("HAND-M.CUR", "x");
  LoginFixture f;
  f.window.program_folder = program.str();
  f.store["User"] = "ann";
  EXPECT_FALSE(frame::LoadLoginWindow(f.frame, f.window, f.read));
  std::vector<std::string> want = {"skin",
                                   "caption Corvane",
                                   "icon",
                                   "title Corvane",
                                   "cursor " + program.str() + "/HAND-M.CUR",
                                   "field1 ",
                                   "field2 localhost",
                                   "field3 5432",
                                   "field4 ann",
                                   "field5 ",
                                   "field6 "};
  EXPECT_EQ(f.frame.calls, want);
  EXPECT_TRUE(f.dialogs.Failures().empty());
}

TEST(LoginLoad, AFailingStepIsReportedAndTheLoadGoesOn) {
  LoginFixture f;
  f.frame.skin = Status::IoError("Cannot read the skin file x/o.cjs");
  f.read = [](const std::string& key, const std::string& fallback) -> Result<std::string> {
    if (key == "Port") return Status::IoError("store unreadable");
    return fallback;
  };
  frame::LoadLoginWindow(f.frame, f.window, f.read);
  ASSERT_EQ(f.dialogs.Failures().size(), 2u);
  EXPECT_EQ(f.dialogs.Failures()[0],
            ui::FailureText("Cannot read the skin file x/o.cjs", ui::kTagPrefix, "Form1.Form_Load",
                            100, nullptr));
  EXPECT_NE(f.dialogs.Failures()[1].find("Form1.Form_Load at line 118"), std::string::npos);
  // No hand cursor file: no cursor step; the failed read leaves Text3 alone.
  EXPECT_EQ(std::count(f.frame.calls.begin(), f.frame.calls.end(), "field3 5432"), 0);
  EXPECT_EQ(f.frame.calls.back(), "field6 ");
  EXPECT_EQ(f.frame.calls[1], "caption Corvane");
}

TEST(LoginLoad, QuickPathNeedsATableInTheFolderItselfAndTriesNoServerOtherwise) {
  TempFolder folder;
  MakeTable(folder, "sub/ORDERS.db");
  testing::Listener server;
  LoginFixture f;
  f.store = {{"ParadoxFolder", folder.str()}, {"Server", "127.0.0.1"}, {"Port", server.port()}};
  f.settings.settings = {folder.str(), "127.0.0.1", server.port(), "u", "p", "d"};
  EXPECT_FALSE(frame::LoadLoginWindow(f.frame, f.window, f.read));
  EXPECT_FALSE(server.Contacted());
  EXPECT_TRUE(f.dialogs.shown.empty());
  EXPECT_EQ(std::count(f.frame.calls.begin(), f.frame.calls.end(), "show tables"), 0);
}

TEST(LoginLoad, QuickPathShowsTheTablesWindowWhenBothSidesAnswer) {
  CORVANE_REQUIRE_POSTGRES(pg);
  TempFolder folder;
  MakeTable(folder, "CUSTOMER.DB");
  LoginFixture f;
  f.settings.settings = pg;
  f.settings.settings.paradox_folder = folder.str();
  EXPECT_TRUE(frame::LoadLoginWindow(f.frame, f.window, f.read));
  EXPECT_EQ(f.frame.calls.back(), "show tables");
  EXPECT_TRUE(f.dialogs.shown.empty());
}

TEST(NextPage, HourglassThenTestsThenLoadShowAndDefaultPointer) {
  CORVANE_REQUIRE_POSTGRES(pg);
  TempFolder folder;
  MakeTable(folder, "items.db");
  LoginFixture f;
  f.settings.settings = pg;
  f.settings.settings.paradox_folder = folder.str();
  EXPECT_TRUE(frame::NextPage(f.frame, f.window));
  EXPECT_EQ(f.frame.calls, (std::vector<std::string>{"load tables", "show tables"}));
  EXPECT_EQ(f.pointer.history,
            (std::vector<PointerShape>{PointerShape::kHourglass, PointerShape::kDefault}));
}

TEST(NextPage, AnUnreachableServerKeepsTheLoginWindowSilently) {
  TempFolder folder;
  MakeTable(folder, "items.db");
  LoginFixture f;
  f.settings.settings = {folder.str(), "127.0.0.1", testing::ClosedPort(), "u", "p", "d"};
  EXPECT_FALSE(frame::NextPage(f.frame, f.window));
  EXPECT_TRUE(f.frame.calls.empty());
  EXPECT_TRUE(f.dialogs.shown.empty());
  EXPECT_EQ(f.pointer.shape, PointerShape::kDefault);
}

TEST(LoginButtons, PostgresTestSaysWhetherTheLoginOpens) {
  LoginFixture f;
  f.settings.settings = {"", "127.0.0.1", testing::ClosedPort(), "u", "p", "d"};
  frame::TestLogin(f.window);
  ASSERT_EQ(f.dialogs.shown.size(), 1u);
  EXPECT_EQ(f.dialogs.shown[0].text, "Could not connect. Please check with your administrator.");
  EXPECT_EQ(f.dialogs.shown[0].title, "");  // the application title
  EXPECT_EQ(f.pointer.history,
            (std::vector<PointerShape>{PointerShape::kHourglass, PointerShape::kDefault}));

  CORVANE_REQUIRE_POSTGRES(pg);
  f.settings.settings = pg;
  frame::TestLogin(f.window);
  ASSERT_EQ(f.dialogs.shown.size(), 2u);
  EXPECT_EQ(f.dialogs.shown[1].text, "Connection successful.");
}

TEST(LoginButtons, FolderTestLooksForTablesInTheFolderOnly) {
  TempFolder folder;
  LoginFixture f;
  frame::TestFolder(f.window);  // empty folder field
  MakeTable(folder, "deep/er/ORDERS.DB");
  f.settings.settings.paradox_folder = folder.str();
  frame::TestFolder(f.window);
  MakeTable(folder, "Orders.Db");
  frame::TestFolder(f.window);
  ASSERT_EQ(f.dialogs.shown.size(), 3u);
  EXPECT_EQ(f.dialogs.shown[0].text, "Could not connect.");
  EXPECT_EQ(f.dialogs.shown[1].text, "Could not connect.");
  EXPECT_EQ(f.dialogs.shown[2].text, "Connection successful.");
  EXPECT_EQ(f.pointer.shape, PointerShape::kDefault);
}

TEST(LoginButtons, SampleFolderAndHelpTexts) {
  EXPECT_EQ(frame::SampleFolder("/opt/corvane"), "/opt/corvane/Samples");
  EXPECT_EQ(frame::SampleFolder("/"), "/Samples");
  EXPECT_EQ(frame::LoginHelpText(),
            "If you can not connect, please try downloading pgAdmin III. If you can not connect "
            "with that software, you know the login information you are providing here is "
            "incorrect.\r\n\r\nhttps://www.postgresql.org/ftp/pgadmin/pgadmin3/");
  ui::ScriptedDialogs dialogs;
  frame::ShowTablesHelp(dialogs);
  ASSERT_EQ(dialogs.shown.size(), 1u);
  EXPECT_EQ(dialogs.shown[0].text,
            "Questions? Please contact Team Vantorel at https://www.vantorel.com/contact");
  EXPECT_EQ(dialogs.shown[0].icon, ui::MessageIcon::kNone);
}

TEST(LoginButtons, FolderChooserStartsAtLastFolderDotAndCancelKeepsTheField) {
  LoginFixture f;
  f.store["LastFolderDot"] = "/srv/paradox";
  f.dialogs.folder_answers = {"", "/data/tables"};
  EXPECT_EQ(frame::ChooseParadoxFolder(f.dialogs, f.read), std::nullopt);
  EXPECT_EQ(frame::ChooseParadoxFolder(f.dialogs, f.read), "/data/tables");
  ASSERT_EQ(f.dialogs.shown.size(), 2u);
  EXPECT_EQ(f.dialogs.shown[0].kind, "folder");
  EXPECT_EQ(f.dialogs.shown[0].title, "Please select folder:");
  EXPECT_EQ(f.dialogs.shown[0].text, "/srv/paradox");  // the start folder
  EXPECT_EQ(f.store.count("ParadoxFolder"), 0u);       // the chooser writes nothing

  f.read = [](const std::string&, const std::string&) -> Result<std::string> {
    return Status::IoError("store unreadable");
  };
  frame::ChooseParadoxFolder(f.dialogs, f.read).reset();
  ASSERT_EQ(f.dialogs.Failures().size(), 1u);
  EXPECT_NE(f.dialogs.Failures()[0].find("Form1.PushButton5_Click at line 100"), std::string::npos);
  EXPECT_EQ(f.dialogs.shown.back().text, "");  // opened at its default place
}

class FakeTablesFrame : public TablesFrame {
 public:
  Status ApplyWindowColours() override { return Record("colours", colours); }
  Status SetIcon() override { return Record("icon"); }
  Status LoadHandCursor(const std::string&) override { return Record("cursor"); }
  Status SetCaption(const std::string& c) override { return Record("caption " + c); }
  Status SetHeight(int twips) override { return Record("height " + std::to_string(twips)); }
  Status colours;
  std::vector<std::string> calls;

 private:
  Status Record(const std::string& what, const Status& result = Status::Ok()) {
    calls.push_back(what);
    return result;
  }
};

TEST(TablesLoad, AFailingCatalogIsReportedAndTheOtherListStillFills) {
  TempFolder folder;
  MakeTable(folder, "orders.db");
  MakeTable(folder, "sub/Customer.db");
  ui::MemoryTableList postgres, paradox;
  postgres.Add("stale");
  paradox.Add("STALE");
  ui::MemoryProgressBar progress;
  ui::MemoryPointer pointer;
  ui::ScriptedDialogs dialogs;
  ui::CountingPump pump;
  ui::FixedSettings settings({folder.str(), "127.0.0.1", testing::ClosedPort(), "u", "p", "d"});
  ui::TablesWindow window{postgres, paradox, progress, dialogs, pointer, pump, settings, ""};
  FakeTablesFrame frame;
  frame.colours = Status::Internal("no colours");
  frame::LoadTablesWindow(frame, window);

  ASSERT_EQ(dialogs.Failures().size(), 2u);
  EXPECT_NE(dialogs.Failures()[0].find("Form2.Form_Load at line 100"), std::string::npos);
  EXPECT_NE(dialogs.Failures()[1].find("Form2.Form_Load at line 116"), std::string::npos);
  EXPECT_EQ(postgres.Count(), 0);
  EXPECT_EQ(paradox.Names(), (std::vector<std::string>{"CUSTOMER", "ORDERS"}));
  EXPECT_EQ(frame.calls,
            (std::vector<std::string>{"colours", "icon", "caption Corvane", "height 5965"}));
}

TEST(FieldStore, WritesEveryChangeAndReportsAFailingStoreOnce) {
  std::vector<std::pair<std::string, std::string>> writes;
  bool fail = false;
  ui::ScriptedDialogs dialogs;
  frame::FieldStore store(
      [&](const std::string& key, const std::string& value) {
        writes.emplace_back(key, value);
        return fail ? Status::IoError("Cannot write settings file s.ini: Read-only file system")
                    : Status::Ok();
      },
      dialogs);
  store.Changed(4, "a");
  store.Changed(5, "p;w=d");
  fail = true;
  store.Changed(4, "ab");
  store.Changed(4, "abc");
  fail = false;
  store.Changed(2, "");
  fail = true;
  store.Changed(2, "x");
  EXPECT_EQ(writes, (std::vector<std::pair<std::string, std::string>>{{"User", "a"},
                                                                      {"Password", "p;w=d"},
                                                                      {"User", "ab"},
                                                                      {"User", "abc"},
                                                                      {"Server", ""},
                                                                      {"Server", "x"}}));
  ASSERT_EQ(dialogs.shown.size(), 2u);  // once per run of failures
  EXPECT_NE(dialogs.shown[0].text.find("Read-only file system"), std::string::npos);
  EXPECT_EQ(dialogs.shown[0].icon, ui::MessageIcon::kExclamation);
}

TEST(HoverRule, ButtonsShowTheHandListedSurfacesTheDefaultOthersNothing) {
  using frame::HoverSurface;
  EXPECT_EQ(frame::HoverSurfaceOf("Form1", "PushButton6"), HoverSurface::kPushButton);
  EXPECT_EQ(frame::HoverSurfaceOf("Form2", "PushButton12"), HoverSurface::kPushButton);
  for (const char* plain : {"Form1", "Text1", "Text6", "Frame1", "Frame2"})
    EXPECT_EQ(frame::HoverSurfaceOf("Form1", plain), HoverSurface::kPlain) << plain;
  for (const char* plain : {"Form2", "List2", "Frame1", "Frame2"})
    EXPECT_EQ(frame::HoverSurfaceOf("Form2", plain), HoverSurface::kPlain) << plain;
  for (const char* none : {"List1", "ProgressBar1", "Text1"})
    EXPECT_EQ(frame::HoverSurfaceOf("Form2", none), HoverSurface::kNone) << none;
  EXPECT_EQ(frame::HoverSurfaceOf("Form1", "Label2"), HoverSurface::kNone);

  EXPECT_EQ(frame::HoverPointer(PointerShape::kDefault, HoverSurface::kPushButton),
            PointerShape::kCustom);
  EXPECT_EQ(frame::HoverPointer(PointerShape::kCustom, HoverSurface::kPlain),
            PointerShape::kDefault);
  EXPECT_EQ(frame::HoverPointer(PointerShape::kCustom, HoverSurface::kNone), PointerShape::kCustom);
  for (HoverSurface s : {HoverSurface::kPushButton, HoverSurface::kPlain, HoverSurface::kNone})
    EXPECT_EQ(frame::HoverPointer(PointerShape::kHourglass, s), PointerShape::kHourglass);
}

}  // namespace
}  // namespace corvane
