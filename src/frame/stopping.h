// What the windows say about work the user can stop: the question Escape
// asks, the hint on the progress bar, the line a waiting window shows and
// the one message after a copy was stopped.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace corvane::frame {

inline constexpr const char* kStopQuestion = "Stop copying?";
inline constexpr const char* kEscapeStops = "press Esc to stop";

// The copy a button runs, as the windows name it while it runs.
inline constexpr const char* kCopyingToParadox = "Copying tables to Paradox";
inline constexpr const char* kCopyingToPostgres = "Copying tables to PostgreSQL";

// "Copying tables to Paradox: 42%": the line a window shows while the
// other one works; `percent` below 0 leaves the figure out.
std::string WorkLine(const std::string& work, int percent);

// What a button says when it is pressed while `work` runs elsewhere.
std::string WaitingText(const std::string& work, int percent);

// The one message after a copy the user stopped. `selected` are the
// source tables the copy was given; `copied` those it wrote whole, with
// their rows; `held` the messages kept back during the stop.
std::string StoppedCopyText(const std::vector<std::string>& selected,
                            const std::vector<std::pair<std::string, int64_t>>& copied,
                            const std::vector<std::string>& held);

}  // namespace corvane::frame
