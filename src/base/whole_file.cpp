#include "base/whole_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace corvane {
namespace {

mode_t CurrentUmask() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return mask;
}

}  // namespace

Status WriteWholeFile(const std::string& path, const std::string& text, mode_t mode,
                      const std::string& what) {
  auto failed = [&](const std::string& verb, int err) {
    return Status::IoError("Cannot " + verb + " " + what + " " + path + ": " + std::strerror(err));
  };
  std::string pattern = path + ".XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  const int fd = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) return failed("write", errno);
  const std::string temp(name.data());
  auto give_up = [&](const std::string& verb, int err) {
    ::close(fd);
    ::unlink(temp.c_str());
    return failed(verb, err);
  };
  if (::fchmod(fd, mode == static_cast<mode_t>(-1) ? (0666 & ~CurrentUmask()) : mode) != 0) {
    return give_up("write", errno);
  }
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
