// An agreed overwrite never costs the old table: when the export fails it
// is back exactly as it was, when it succeeds only the new table is left.
// The old tables are made by pxlib, with a memo file and index files.
#include <paradox.h>
#include <sqlite3.h>

#include <cctype>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "base/stop_request.h"
#include "pxlib_table.h"
#include "to_paradox_fixture.h"

namespace corvane::testing {
namespace {

namespace fs = std::filesystem;
using Cells = std::vector<std::optional<std::string>>;

class ToParadoxOverwriteTest : public ToParadoxTest {
 protected:
  // <NAME>.DB (+ .MB) by pxlib, a primary and a secondary index beside it,
  // listed in the Paradox list as the window shows it. Each test has a name
  // of its own: tests run side by side on one server.
  void MakeOldTable(const std::string& name) {
    name_ = name;
    upper_ = name;
    for (char& c : upper_) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const std::string memo = std::string(400, 'm') + " years of notes";
    ASSERT_EQ(MakePxTable((folder_ / (upper_ + ".DB")).string(),
                          {{"ID", pxfLong, 4}, {"NOTE", pxfMemoBLOb, 10}},
                          {{PxInt(1), PxText(memo)}, {PxInt(2), PxNull()}}),
              "");
    std::ofstream(folder_ / (upper_ + ".PX"), std::ios::binary) << "primary index";
    std::ofstream(folder_ / (upper_ + ".X02"), std::ios::binary) << "secondary index";
    old_rows_ = {{"1", memo}, {"2", std::nullopt}};
    old_files_ = Contents();
    ASSERT_EQ(old_files_.size(), 4u);  // .DB .MB .PX .X02
    fake_.paradox_list.Add(upper_);
  }
  std::map<std::string, std::string> Contents() const {
    std::map<std::string, std::string> out;
    for (const auto& e : fs::directory_iterator(folder_)) {
      if (!e.is_regular_file()) continue;
      std::stringstream s;
      s << std::ifstream(e.path(), std::ios::binary).rdbuf();
      out[e.path().filename()] = s.str();
    }
    return out;
  }
  void ExpectOldTableBack() {
    EXPECT_EQ(Contents(), old_files_);  // no hidden rest either
    const ReadTable back = ReadOurs((folder_ / (upper_ + ".DB")).string());
    ASSERT_TRUE(back.error.empty()) << back.error;
    EXPECT_EQ(back.rows, old_rows_);
    EXPECT_EQ(fake_.paradox_list.Names(), std::vector<std::string>{upper_});
  }
  std::string name_, upper_;
  std::vector<Cells> old_rows_;
  std::map<std::string, std::string> old_files_;
};

TEST_F(ToParadoxOverwriteTest, AMissingStagingDatabaseLeavesTheOldTableAsItWas) {
  MakeOldTable("tx_kp1");
  MakePgTable("tx_kp1", "id int4", {"9"});
  SelectPostgres({"tx_kp1"});
  fs::remove(program_ / "dbtemp.mdb");
  EXPECT_GT(SendToParadox().failures, 0);
  bool asked = false;
  for (const auto& d : fake_.dialogs.shown)
    asked |= d.text == "Would you like to overwrite " + name_ + "?";
  EXPECT_TRUE(asked);
  ExpectOldTableBack();
}

TEST_F(ToParadoxOverwriteTest, AWriteThatFailsAtTheEndLeavesTheOldTableAsItWas) {
  MakeOldTable("tx_kp2");
  // The new table's file name is taken by a folder: the writer can only
  // fail when it puts its files in place, after its memo file went first.
  fs::create_directory(folder_ / "tx_kp2.db");
  MakePgTable("tx_kp2", "id int4, t text", {"9, repeat('n', 300)"});
  SelectPostgres({"tx_kp2"});
  EXPECT_EQ(SendToParadox().failures, 1) << FirstFailure();
  EXPECT_NE(FirstFailure().find("at line 214"), std::string::npos) << FirstFailure();
  EXPECT_TRUE(fs::is_directory(folder_ / "tx_kp2.db"));
  ExpectOldTableBack();
}

TEST_F(ToParadoxOverwriteTest, ASuccessfulExportLeavesOnlyTheNewTable) {
  MakeOldTable("tx_kp3");
  MakePgTable("tx_kp3", "id int4", {"9", "10"});
  SelectPostgres({"tx_kp3"});
  EXPECT_EQ(SendToParadox().failures, 0) << FirstFailure();
  EXPECT_EQ(TableFilesInFolder(), std::vector<std::string>{"tx_kp3.db"});
  const ReadTable back = ReadOurs((folder_ / "tx_kp3.db").string());
  ASSERT_TRUE(back.error.empty()) << back.error;
  EXPECT_EQ(back.rows, (std::vector<Cells>{{"9"}, {"10"}}));
  EXPECT_EQ(fake_.paradox_list.Names(), std::vector<std::string>{upper_});
}

// Paradox has the old table open: the overwrite is refused, with a message
// that names the table, and nothing of it is touched.
TEST_F(ToParadoxOverwriteTest, ATableOpenInParadoxIsNotOverwritten) {
  MakeOldTable("tx_kp5");
  std::ofstream(folder_ / "TX_KP5.LCK", std::ios::binary) << "table lock";
  std::ofstream(folder_ / "PDOXUSRS.LCK", std::ios::binary) << "folder lock";
  old_files_ = Contents();
  MakePgTable("tx_kp5", "id int4", {"9"});
  SelectPostgres({"tx_kp5"});
  EXPECT_GT(SendToParadox().failures, 0);
  EXPECT_NE(FirstFailure().find("TX_KP5"), std::string::npos) << FirstFailure();
  EXPECT_NE(FirstFailure().find("in use"), std::string::npos) << FirstFailure();
  ExpectOldTableBack();
}

// A window closed or a signal part way: the handler stops at its next row,
// and everything is as before it started, staging database included.
TEST_F(ToParadoxOverwriteTest, AStopPartWayLeavesTheOldTableAndNoStagingTable) {
  MakeOldTable("tx_kp4");
  MakePgTable("tx_kp4", "id int4, t text");
  Pg("INSERT INTO tx_kp4 SELECT g, repeat('n', 300) FROM generate_series(1, 3000) g");
  struct StoppingPump : ui::EventPump {
    long left;
    void Pump() override {
      if (--left == 0) RequestStop();
    }
  };
  for (long at : {1L, 4L, 2500L}) {
    SCOPED_TRACE("stopped at pump " + std::to_string(at));
    fake_.postgres_list.Clear();
    SelectPostgres({"tx_kp4"});
    StoppingPump pump;
    pump.left = at;
    ui::TablesWindow window = fake_.Window(&pump);
    window.program_folder = program_.string();
    const int failures = transfer::SendTablesToParadox(window).failures;
    EXPECT_TRUE(StopRequested());
    ClearStopRequest();
    EXPECT_EQ(failures, 0) << FirstFailure();
    ExpectOldTableBack();
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((program_ / "dbtemp.mdb").c_str(), &db), SQLITE_OK);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, "SELECT count(*) FROM sqlite_schema", -1, &st, nullptr);
    ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
    EXPECT_EQ(sqlite3_column_int(st, 0), 0);
    sqlite3_finalize(st);
    sqlite3_close(db);
  }
}

}  // namespace
}  // namespace corvane::testing
