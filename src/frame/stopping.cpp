#include "frame/stopping.h"

namespace corvane::frame {
namespace {

std::string Rows(int64_t n) { return std::to_string(n) + (n == 1 ? " row" : " rows"); }

}  // namespace

std::string WorkLine(const std::string& work, int percent) {
  if (percent < 0) return work + "...";
  return work + ": " + std::to_string(percent) + "%";
}

std::string WaitingText(const std::string& work, int percent) {
  return WorkLine(work, percent) + "\r\n\r\nThis waits until the copy has ended. To stop it, " +
         kEscapeStops + " and answer Yes.";
}

std::string StoppedCopyText(const std::vector<std::string>& selected,
                            const std::vector<std::pair<std::string, int64_t>>& copied,
                            const std::vector<std::string>& held) {
  std::string done, left;
  for (const auto& [name, rows] : copied)
    done += (done.empty() ? "" : ", ") + name + " (" + Rows(rows) + ")";
  for (const std::string& source : selected) {
    bool written = false;
    for (const auto& entry : copied) written = written || entry.first == source;
    if (!written) left += (left.empty() ? "" : ", ") + source;
  }
  std::string text = "Copying was stopped.";
  text += "\r\n\r\nCopied: " + (done.empty() ? std::string("none") : done) + ".";
  if (!left.empty()) text += "\r\n\r\nNot copied, left as they were: " + left + ".";
  for (const std::string& message : held) text += "\r\n\r\n" + message;
  return text;
}

}  // namespace corvane::frame
