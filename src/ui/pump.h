// Serving the window while a handler works.
//
// A handler calls its window's pump wherever it may: per row, per column,
// per folder. The window passes those calls through one ThrottledPump, which
// lets an event-loop pass happen only when the interval has run out, so a
// million rows do not cost a million passes while the window is still
// served every few tens of milliseconds. Lower layers that keep the caller
// waiting on their own (a server round trip, an export, a staging drop) get
// the pump as a plain callback (ServeWith) and call it as often as they can.
#pragma once

#include <chrono>
#include <functional>

#include "ui/surfaces.h"

namespace corvane::ui {

class ThrottledPump : public EventPump {
 public:
  // Short enough that the work between two calls (a row, a round trip) still
  // keeps the window's longest wait well under 50 ms.
  static constexpr std::chrono::milliseconds kInterval{10};

  explicit ThrottledPump(EventPump& inner, std::chrono::milliseconds interval = kInterval)
      : inner_(inner), interval_(interval) {}
  // Passes the call on when `interval` has run since the last pass ended.
  void Pump() override;

 private:
  EventPump& inner_;
  std::chrono::steady_clock::duration interval_;
  std::chrono::steady_clock::time_point last_{};
};

// A callback that serves `pump`, for the layers below the handlers.
// `pump` must outlive it.
inline std::function<void()> ServeWith(EventPump& pump) {
  return [&pump] { pump.Pump(); };
}

}  // namespace corvane::ui
