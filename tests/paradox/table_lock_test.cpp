// Whether a table is taken for in use: lock files beside it, and locks that
// another process holds on its files.
#include "paradox/table_lock.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "support/temp_folder.h"

namespace corvane::paradox {
namespace {

namespace fs = std::filesystem;

enum class Hold { kNone, kRecordLock, kReadLock, kOfdLock, kFlock };

// A child process that holds a lock on `path` until it is ended.
class LockHolder {
 public:
  LockHolder(const fs::path& path, Hold hold) {
    if (hold == Hold::kNone) return;
    int ready[2];
    if (pipe(ready) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      int fd = ::open(path.c_str(), O_RDWR);
      struct flock l = {};
      l.l_type = hold == Hold::kReadLock ? F_RDLCK : F_WRLCK;
      l.l_whence = SEEK_SET;
      l.l_start = 0x100;  // a byte range, as database engines lock
      l.l_len = 1;
      bool ok = hold == Hold::kFlock     ? ::flock(fd, LOCK_EX) == 0
                : hold == Hold::kOfdLock ? ::fcntl(fd, F_OFD_SETLK, &l) == 0
                                         : ::fcntl(fd, F_SETLK, &l) == 0;
      char c = ok ? 'y' : 'n';
      (void)!write(ready[1], &c, 1);
      pause();
      _exit(0);
    }
    char c = 0;
    (void)!read(ready[0], &c, 1);
    close(ready[0]);
    close(ready[1]);
    held_ = c == 'y';
  }
  ~LockHolder() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  bool held_ = false;

 private:
  pid_t pid_ = -1;
};

class TableLockTest : public ::testing::Test {
 protected:
  void Touch(const std::string& name) { std::ofstream(dir_ / name) << std::string(1024, 'x'); }
  corvane::testing::TempFolder temp_{"corvane_lock"};
  fs::path dir_ = temp_.path();
};

TEST_F(TableLockTest, LockFilesAndOtherProcessesLocksMarkATableInUse) {
  struct Case {
    std::vector<std::string> extra_files;
    std::string locked_file;
    Hold hold;
    bool in_use;
  } cases[] = {
      {{}, "", Hold::kNone, false},
      {{"ORDERS.LCK"}, "", Hold::kNone, false},    // left by a session that stopped
      {{"PDOXUSRS.LCK"}, "", Hold::kNone, false},  // the folder is used, not this table
      {{"ORDERS.LCK", "PDOXUSRS.LCK"}, "", Hold::kNone, true},
      {{"orders.lck", "Paradox.lck"}, "", Hold::kNone, true},
      {{"OTHER.LCK", "PARADOX.LCK"}, "", Hold::kNone, false},
      {{}, "ORDERS.DB", Hold::kRecordLock, true},
      {{}, "ORDERS.DB", Hold::kReadLock, true},
      {{}, "ORDERS.MB", Hold::kOfdLock, true},
      {{}, "ORDERS.DB", Hold::kFlock, true},
      {{"ORDERS.LCK"}, "ORDERS.LCK", Hold::kRecordLock, true},
      {{"OTHER.DB"}, "OTHER.DB", Hold::kRecordLock, false},
  };
  for (const Case& c : cases) {
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    Touch("ORDERS.DB");
    Touch("ORDERS.MB");
    for (const std::string& f : c.extra_files) Touch(f);
    LockHolder holder(dir_ / c.locked_file, c.hold);
    ASSERT_EQ(holder.held_, c.hold != Hold::kNone) << c.locked_file;
    Status st = CheckTableNotInUse(dir_, "ORDERS");
    EXPECT_EQ(!st.ok(), c.in_use) << c.locked_file << " " << st.message();
    if (!st.ok()) {
      EXPECT_NE(st.message().find("ORDERS"), std::string::npos) << st.message();
      EXPECT_NE(st.message().find("in use"), std::string::npos) << st.message();
    }
  }
  EXPECT_FALSE(FileIsLocked(dir_ / "absent"));
  EXPECT_TRUE(CheckTableNotInUse(dir_, "ABSENT").ok());
}

}  // namespace
}  // namespace corvane::paradox
