#include "ui/procedure.h"

#include <gtest/gtest.h>

#include "ui/memory_surfaces.h"

namespace corvane::ui {
namespace {

const char kTail[] = "\r\rPlease email screenshot of this message to support@vantorel.com";

TEST(FailureText, IsBuiltPieceByPiece) {
  EXPECT_EQ(
      FailureText("Disk full", kTagPrefix, "Form1.PushButton1_Click", 104, nullptr),
      std::string("Disk full\r\nin Corvane2021/08/31.Form1.PushButton1_Click at line 104") + kTail);
  std::string sql = "INSERT INTO \"T\" VALUES('x')";
  EXPECT_EQ(FailureText("bad", kWalkTagPrefix, "AddFolder.GetSubDirectories2016", 100, &sql),
            std::string("bad\r\nin Quenby2021/08/31.AddFolder.GetSubDirectories2016 at line 100") +
                kTail + "\r\rsql: INSERT INTO \"T\" VALUES('x')");
}

TEST(Procedure, ResumesAtTheNextStepAfterEachFailure) {
  ScriptedDialogs dialogs;
  Procedure p(dialogs, "Form2.PushButton5_Click");
  std::vector<int> ran;
  p.Step(100, [&] {
    ran.push_back(100);
    return Status::IoError("first");
  });
  p.Step(102, [&] {
    ran.push_back(102);
    return Status::Ok();
  });
  p.Step(104, [&] {
    ran.push_back(104);
    return Status::NotFound("second");
  });
  EXPECT_EQ(ran, (std::vector<int>{100, 102, 104}));
  ASSERT_EQ(dialogs.shown.size(), 2u);
  EXPECT_EQ(dialogs.shown[0].title, "Application Error");
  EXPECT_EQ(dialogs.shown[0].icon, MessageIcon::kExclamation);
  EXPECT_EQ(dialogs.shown[0].text.substr(0, 7), "first\r\n");
  EXPECT_NE(dialogs.shown[1].text.find("PushButton5_Click at line 104\r\r"), std::string::npos);
  EXPECT_EQ(p.failures(), 2);
}

TEST(Procedure, FailingTestTakesTheTrueBranch) {
  ScriptedDialogs dialogs;
  Procedure p(dialogs, "Form1.PushButton3_Click");
  EXPECT_TRUE(p.Test(102, [] { return Result<bool>(Status::IoError("unreadable")); }));
  EXPECT_FALSE(p.Test(104, [] { return Result<bool>(false); }));
  EXPECT_EQ(dialogs.Failures().size(), 1u);
}

TEST(Procedure, StatementTailShowsTheTextAtFailureTime) {
  ScriptedDialogs dialogs;
  Procedure p(dialogs, "Form2.PushButton4_Click");
  std::string statement;
  p.ShowStatement(&statement);
  p.Step(110, [] { return Status::Database("before any statement"); });
  statement = "CREATE TABLE \"T\"(\"A\" TEXT);";
  p.Step(120, [] { return Status::Database("relation \"T\" already exists"); });
  auto f = dialogs.Failures();
  ASSERT_EQ(f.size(), 2u);
  EXPECT_TRUE(f[0].ends_with("\r\rsql: "));
  EXPECT_TRUE(f[1].ends_with("\r\rsql: CREATE TABLE \"T\"(\"A\" TEXT);"));
}

TEST(Procedure, GetYieldsValueOrNothing) {
  ScriptedDialogs dialogs;
  Procedure p(dialogs, "Main.X");
  EXPECT_EQ(p.Get<int>(100, [] { return Result<int>(7); }), 7);
  EXPECT_EQ(p.Get<int>(102, [] { return Result<int>(Status::Internal("x")); }), std::nullopt);
  EXPECT_EQ(p.failures(), 1);
}

}  // namespace
}  // namespace corvane::ui
