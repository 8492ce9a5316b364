// The failure convention every work handler follows.
//
// A handler is a list of numbered steps (100, 102, 104, ... in source order).
// When a step fails, one modal "Application Error" box shows the error's
// description, the procedure tag and the step number; after OK the handler
// resumes at the next step. A failing if-test counts as passed, so the
// handler goes on into the test's true branch. Transfer handlers add the
// statement they built last after "sql: ".
#pragma once

#include <functional>
#include <new>
#include <optional>
#include <string>

#include "base/status.h"
#include "ui/surfaces.h"

namespace corvane::ui {

inline constexpr const char* kTagPrefix = "in Corvane2021/08/31.";
inline constexpr const char* kWalkTagPrefix = "in Quenby2021/08/31.";
inline constexpr const char* kSupportAddress = "support@vantorel.com";
inline constexpr const char* kFailureTitle = "Application Error";

// The dialog text, byte for byte. `statement` adds the "sql: " tail when set.
std::string FailureText(const std::string& description, const std::string& prefix,
                        const std::string& tag, int line, const std::string* statement);

class Procedure {
 public:
  // `tag` is module and procedure, e.g. "Form2.PushButton4_Click".
  Procedure(Dialogs& dialogs, std::string tag, std::string prefix = kTagPrefix);
  Procedure(const Procedure&) = delete;
  Procedure& operator=(const Procedure&) = delete;

  // From now on every dialog ends with "sql: " and the text `*statement`
  // holds when the failure is shown. The pointee must outlive the procedure.
  void ShowStatement(const std::string* statement) { statement_ = statement; }
  // Called before each dialog, so that a statement built only when it is
  // quoted (a large row's, say) is complete by then.
  void BeforeShowing(std::function<void()> settle) { settle_ = std::move(settle); }
  // Told of each failure before its dialog, so a handler can report it.
  void OnFailure(std::function<void(int line, const Status&)> note) { note_ = std::move(note); }

  // Runs one step; a failure shows the dialog and is then forgotten.
  void Step(int line, const std::function<Status()>& step);
  // An if-test. A failure shows the dialog and answers true.
  bool Test(int line, const std::function<Result<bool>()>& test);
  // A step that yields a value; nullopt after a failure (dialog shown).
  template <typename T>
  std::optional<T> Get(int line, const std::function<Result<T>()>& step) {
    Result<T> r = OutOfMemory();
    try {
      r = step();
    } catch (const std::bad_alloc&) {
    }
    if (!r.ok()) {
      Fail(line, r.status());
      return std::nullopt;
    }
    return std::move(r).value();
  }

  // What a step that ran out of memory fails with: the step is given up,
  // the handler goes on like after any other failure.
  static Status OutOfMemory();

  // Shows the dialog for a failure found by the handler itself.
  void Fail(int line, const Status& status);
  int failures() const { return failures_; }

 private:
  Dialogs& dialogs_;
  std::string tag_;
  std::string prefix_;
  const std::string* statement_ = nullptr;
  std::function<void()> settle_;
  std::function<void(int, const Status&)> note_;
  int failures_ = 0;
};

}  // namespace corvane::ui
