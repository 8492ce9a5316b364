// A listener on 127.0.0.1 that speaks just enough of PostgreSQL's startup
// protocol to see what a client sends: it refuses SSL and GSS encryption,
// reads the startup packet, asks for a cleartext password and records what
// comes back, then refuses the login. Silent, it answers nothing at all.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace corvane::testing {

class FakePostgres {
 public:
  struct Login {
    std::map<std::string, std::string> startup;  // user, database, ...
    std::optional<std::string> password;
  };

  explicit FakePostgres(bool silent = false) : silent_(silent) {
    listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&a), len) != 0 ||
        ::listen(listener_, 16) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len) != 0 || ::pipe(stop_) != 0)
      return;
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ~FakePostgres() {
    if (thread_.joinable()) {
      (void)!::write(stop_[1], "x", 1);
      thread_.join();
    }
    for (int fd : {listener_, stop_[0], stop_[1]})
      if (fd >= 0) ::close(fd);
  }
  FakePostgres(const FakePostgres&) = delete;
  FakePostgres& operator=(const FakePostgres&) = delete;

  std::string port() const { return std::to_string(port_); }
  std::vector<Login> Logins() {
    std::lock_guard<std::mutex> lock(mutex_);
    return logins_;
  }

 private:
  // Waits for `fd` or the stop request; false on stop.
  bool Wait(int fd) {
    pollfd p[2] = {{fd, POLLIN, 0}, {stop_[0], POLLIN, 0}};
    return ::poll(p, 2, -1) > 0 && !(p[1].revents & POLLIN);
  }
  bool ReadAll(int fd, void* into, size_t n) {
    auto* at = static_cast<char*>(into);
    while (n > 0) {
      if (!Wait(fd)) return false;
      const ssize_t got = ::read(fd, at, n);
      if (got <= 0) return false;
      at += got;
      n -= static_cast<size_t>(got);
    }
    return true;
  }
  bool ReadInt(int fd, uint32_t& v) {
    if (!ReadAll(fd, &v, 4)) return false;
    v = ntohl(v);
    return true;
  }
  static void Send(int fd, char type, const std::string& body) {
    std::string m(1, type);
    const uint32_t len = htonl(static_cast<uint32_t>(body.size() + 4));
    m.append(reinterpret_cast<const char*>(&len), 4);
    m += body;
    (void)!::write(fd, m.data(), m.size());
  }

  void Serve() {
    while (Wait(listener_)) {
      const int fd = ::accept(listener_, nullptr, nullptr);
      if (fd < 0) continue;
      Talk(fd);
      ::close(fd);
    }
  }

  void Talk(int fd) {
    uint32_t len = 0, code = 0;
    for (;;) {
      if (!ReadInt(fd, len) || !ReadInt(fd, code) || len < 8 || len > 10000) return;
      if (code != 80877103 && code != 80877104) break;  // SSL, GSS: not here
      (void)!::write(fd, "N", 1);
    }
    std::string body(len - 8, '\0');
    if (!ReadAll(fd, body.data(), body.size())) return;
    Login login;
    for (size_t at = 0; at < body.size() && body[at];) {
      const std::string key = body.c_str() + at;
      at += key.size() + 1;
      const std::string value = at < body.size() ? body.c_str() + at : "";
      at += value.size() + 1;
      login.startup[key] = value;
    }
    if (silent_) {
      char c;
      while (Wait(fd) && ::read(fd, &c, 1) > 0) {
      }
      return;
    }
    Send(fd, 'R', std::string("\0\0\0\3", 4));  // cleartext password, please
    char type = 0;
    uint32_t plen = 0;
    if (ReadAll(fd, &type, 1) && type == 'p' && ReadInt(fd, plen) && plen >= 4 && plen < 10000) {
      std::string pw(plen - 4, '\0');
      if (ReadAll(fd, pw.data(), pw.size())) login.password = pw.c_str();
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      logins_.push_back(login);
    }
    Send(fd, 'E', std::string("SFATAL\0C28P01\0Mpassword authentication failed\0\0", 47));
  }

  bool silent_;
  int listener_ = -1;
  int stop_[2] = {-1, -1};
  int port_ = 0;
  std::thread thread_;
  std::mutex mutex_;
  std::vector<Login> logins_;
};

}  // namespace corvane::testing
