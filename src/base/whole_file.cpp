#include "base/whole_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>

namespace corvane {
namespace {

// A new file beside `path` under a name no other writer has; -1 when none
// could be made. The umask applies to `mode` as to any new file.
int CreateBeside(const std::string& path, mode_t mode, std::string& name) {
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, ".%08x", random());
    name = path + suffix;
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

}  // namespace

Status WriteWholeFile(const std::string& path, const std::string& text, mode_t mode,
                      const std::string& what) {
  auto failed = [&](const std::string& verb, int err) {
    return Status::IoError("Cannot " + verb + " " + what + " " + path + ": " + std::strerror(err));
  };
  const bool exact = mode != static_cast<mode_t>(-1);
  std::string temp;
  const int fd = CreateBeside(path, exact ? mode : 0666, temp);
  if (fd < 0) return failed("write", errno);
  auto give_up = [&](const std::string& verb, int err) {
    ::close(fd);
    ::unlink(temp.c_str());
    return failed(verb, err);
  };
  if (exact && ::fchmod(fd, mode) != 0) return give_up("write", errno);
  for (size_t done = 0; done < text.size();) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return give_up("write", errno);
    done += static_cast<size_t>(n);
  }
  if (::fsync(fd) != 0) return give_up("flush", errno);
  if (::close(fd) != 0) {
    const int err = errno;
    ::unlink(temp.c_str());
    return failed("flush", err);
  }
  if (::rename(temp.c_str(), path.c_str()) != 0) {
    const int err = errno;
    ::unlink(temp.c_str());
    return failed("replace", err);
  }
  return Status::Ok();
}

}  // namespace corvane
