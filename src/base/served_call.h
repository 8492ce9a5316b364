// A blocking call (a sync to disk, a large unlink, a long file walk) that
// must not freeze the window waiting for it.
#pragma once

#include <chrono>
#include <functional>
#include <future>
#include <utility>

namespace corvane {

// Runs `work` and returns its result. With `serve` set, `work` runs on a
// helper thread while this thread calls `serve` every few milliseconds until
// it is done; `work` must then touch nothing that `serve` may touch.
template <typename Work>
auto CallServed(Work&& work, const std::function<void()>& serve) -> decltype(work()) {
  if (!serve) return work();
  auto done = std::async(std::launch::async, std::forward<Work>(work));
  while (done.wait_for(std::chrono::milliseconds(5)) != std::future_status::ready) serve();
  return done.get();
}

}  // namespace corvane
