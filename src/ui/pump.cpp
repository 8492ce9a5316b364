#include "ui/pump.h"

namespace corvane::ui {

void ThrottledPump::Pump() {
  // The clock is read on every call: a call may follow a whole server round
  // trip, and reading it costs far less than a row.
  const auto now = std::chrono::steady_clock::now();
  if (now - last_ < interval_) return;
  inner_.Pump();
  // Counted from the end of the pass, so a slow repaint does not make the
  // next pass follow at once and starve the work.
  last_ = std::chrono::steady_clock::now();
}

}  // namespace corvane::ui
