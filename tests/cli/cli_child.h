// corvane-cli run as a child process: detached from any terminal (so it
// can never prompt), or on a pseudo-terminal that the test types into.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace corvane::testing {

inline std::string CliPath() {
  const char* dir = std::getenv("CORVANE_PROGRAM_DIR");
  return std::string(dir ? dir : "bin") + "/corvane-cli";
}

struct ChildRun {
  int status = -1;     // exit status; -1 when it did not exit
  std::string output;  // stdout and stderr together
};

namespace detail {

// In the child: the environment changes ("NAME=value", or "NAME" to unset),
// then corvane-cli with `args`.
[[noreturn]] inline void ExecCli(const std::vector<std::string>& args,
                                 const std::vector<std::string>& env) {
  for (const std::string& e : env) {
    const size_t eq = e.find('=');
    if (eq == std::string::npos)
      ::unsetenv(e.c_str());
    else
      ::setenv(e.substr(0, eq).c_str(), e.substr(eq + 1).c_str(), 1);
  }
  const std::string path = CliPath();
  std::vector<char*> argv = {const_cast<char*>(path.c_str())};
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  ::execv(path.c_str(), argv.data());
  ::_exit(127);
}

inline int Reap(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace detail

// Runs without a controlling terminal, so no prompt can be shown.
inline ChildRun RunCliDetached(const std::vector<std::string>& args,
                               const std::vector<std::string>& env = {}) {
  int out[2];
  if (::pipe(out) != 0) return {};
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::setsid();
    ::dup2(out[1], 1);
    ::dup2(out[1], 2);
    ::close(out[0]);
    ::close(out[1]);
    ::close(0);
    ::open("/dev/null", O_RDONLY);
    detail::ExecCli(args, env);
  }
  ::close(out[1]);
  ChildRun run;
  char buf[4096];
  for (ssize_t n; (n = ::read(out[0], buf, sizeof buf)) != 0;) {
    if (n > 0)
      run.output.append(buf, static_cast<size_t>(n));
    else if (errno != EINTR)
      break;
  }
  ::close(out[0]);
  run.status = detail::Reap(pid);
  return run;
}

// Runs on a pseudo-terminal. `answer` sees the output so far each time more
// arrives and returns what to type ("" for nothing yet); it is asked until
// the child ends. Gives up after a minute without output.
inline ChildRun RunCliOnTerminal(const std::vector<std::string>& args,
                                 const std::vector<std::string>& env,
                                 const std::function<std::string(const std::string&)>& answer) {
  int master = -1;
  const pid_t pid = ::forkpty(&master, nullptr, nullptr, nullptr);
  if (pid < 0) return {};
  if (pid == 0) detail::ExecCli(args, env);
  ChildRun run;
  char buf[4096];
  for (;;) {
    pollfd p{master, POLLIN, 0};
    if (::poll(&p, 1, 60000) == 0) {
      ::kill(pid, SIGKILL);  // stuck: fail the test rather than hang it
      break;
    }
    const ssize_t n = ::read(master, buf, sizeof buf);
    if (n <= 0) break;  // EIO once the child has closed the terminal
    run.output.append(buf, static_cast<size_t>(n));
    const std::string typed = answer(run.output);
    if (!typed.empty()) (void)!::write(master, typed.data(), typed.size());
  }
  ::close(master);
  run.status = detail::Reap(pid);
  return run;
}

}  // namespace corvane::testing
