// What the benchmarks measure their runs with: wall and CPU time, resident
// memory from /proc/self/status (Linux), and the test server's login from
// the CORVANE_TEST_PG* variables that scripts/test.sh exports.
#pragma once

#include <sys/resource.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "connection/connection_strings.h"

namespace corvane::bench {

using Clock = std::chrono::steady_clock;

inline double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

// CPU seconds this process spent so far: on a busy machine the wall time
// also counts other programs' turns.
inline double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// A "Vm...:" line in KiB: VmHWM is the peak resident memory since the last
// ResetPeak, VmRSS the current one.
inline long StatusKib(const char* key) {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(key, 0) == 0) return std::atol(line.c_str() + std::strlen(key));
  }
  return -1;
}
inline long PeakKib() { return StatusKib("VmHWM:"); }
inline long CurrentKib() { return StatusKib("VmRSS:"); }
inline void ResetPeak() { std::ofstream("/proc/self/clear_refs") << "5"; }

// The test server's login with `folder` as the Paradox folder.
inline ConnectionSettings SettingsFromEnv(const std::string& folder) {
  auto env = [](const char* name) {
    const char* v = std::getenv(name);
    return std::string(v ? v : "");
  };
  return {folder,
          env("CORVANE_TEST_PGHOST"),
          env("CORVANE_TEST_PGPORT"),
          env("CORVANE_TEST_PGUSER"),
          env("CORVANE_TEST_PGPASSWORD"),
          env("CORVANE_TEST_PGDATABASE")};
}

}  // namespace corvane::bench
