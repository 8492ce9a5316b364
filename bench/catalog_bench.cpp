// Times one catalog fill and watches the event pump while it runs: how
// often it is served and the longest stretch without it (what a window
// would feel as a freeze). bench/catalog_bench.sh runs it beside peers.
// Usage: catalog_bench paradox FOLDER
//        catalog_bench postgres HOST PORT USER PASSWORD DATABASE
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "catalog/paradox_catalog.h"
#include "catalog/postgres_catalog.h"
#include "ui/memory_surfaces.h"

namespace {

using Clock = std::chrono::steady_clock;

class WatchedPump : public corvane::ui::EventPump {
 public:
  WatchedPump() : last_(Clock::now()) {}
  void Pump() override {
    const Clock::time_point now = Clock::now();
    longest_ = std::max(longest_, now - last_);
    last_ = now;
    ++calls_;
  }
  long calls() const { return calls_; }
  double longest_ms() const { return std::chrono::duration<double, std::milli>(longest_).count(); }

 private:
  Clock::time_point last_;
  Clock::duration longest_{};
  long calls_ = 0;
};

int Usage() {
  std::fputs(
      "usage: catalog_bench paradox FOLDER\n"
      "       catalog_bench postgres HOST PORT USER PASSWORD DATABASE\n",
      stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  const bool paradox = argc == 3 && std::strcmp(argv[1], "paradox") == 0;
  const bool postgres = argc == 7 && std::strcmp(argv[1], "postgres") == 0;
  if (!paradox && !postgres) return Usage();
  corvane::ui::MemoryTableList list;
  corvane::ui::ScriptedDialogs dialogs;
  WatchedPump pump;
  const Clock::time_point start = Clock::now();
  corvane::Status st =
      paradox ? corvane::catalog::ListParadoxTables(argv[2], list, pump, dialogs)
              : corvane::catalog::ListPostgreSQLTables(
                    corvane::ConnectionSettings{"", argv[2], argv[3], argv[4], argv[5], argv[6]},
                    list, pump);
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  pump.Pump();  // the stretch from the last pump to the end counts too
  if (!st.ok()) {
    std::fprintf(stderr, "catalog_bench: %s\n", st.message().c_str());
    return 1;
  }
  std::printf("%d names in %.3fs; pump served %ld times, longest gap %.1f ms\n", list.Count(),
              seconds, pump.calls(), pump.longest_ms());
  return 0;
}
