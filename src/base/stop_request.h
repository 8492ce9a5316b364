// A process-wide request to stop long work at the next safe point: set by a
// signal handler (SIGINT, SIGTERM, SIGHUP) or by a window that is closed
// while it works, polled by the loops that copy rows. Work that sees it
// undoes what it started (an old table comes back, scratch files go) and
// returns instead of going on.
#pragma once

namespace corvane {

// Safe to call from a signal handler. `signal` is 0 when no signal asked.
void RequestStop(int signal = 0) noexcept;
bool StopRequested() noexcept;
// The signal that asked, or 0.
int StopSignal() noexcept;
// Forgets the request (tests; a window that goes on after a refused close).
void ClearStopRequest() noexcept;

}  // namespace corvane
