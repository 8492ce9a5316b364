#include "base/stop_request.h"

#include <atomic>

namespace corvane {
namespace {

// Lock-free, so reading and writing it is safe inside a signal handler.
std::atomic<int> g_stop{-1};
static_assert(std::atomic<int>::is_always_lock_free);

}  // namespace

void RequestStop(int signal) noexcept { g_stop.store(signal, std::memory_order_relaxed); }
bool StopRequested() noexcept { return g_stop.load(std::memory_order_relaxed) >= 0; }
int StopSignal() noexcept {
  const int s = g_stop.load(std::memory_order_relaxed);
  return s > 0 ? s : 0;
}
void ClearStopRequest() noexcept { g_stop.store(-1, std::memory_order_relaxed); }

}  // namespace corvane
