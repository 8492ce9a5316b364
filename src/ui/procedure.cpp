#include "ui/procedure.h"

namespace corvane::ui {

std::string FailureText(const std::string& description, const std::string& prefix,
                        const std::string& tag, int line, const std::string* statement) {
  std::string text = description;
  text += "\r\n";
  text += prefix;
  text += tag;
  text += " at line ";
  text += std::to_string(line);
  text += "\r\r";
  text += "Please email screenshot of this message to ";
  text += kSupportAddress;
  if (statement != nullptr) {
    text += "\r\rsql: ";
    text += *statement;
  }
  return text;
}

Procedure::Procedure(Dialogs& dialogs, std::string tag, std::string prefix)
    : dialogs_(dialogs), tag_(std::move(tag)), prefix_(std::move(prefix)) {}

void Procedure::Fail(int line, const Status& status) {
  ++failures_;
  if (note_) note_(line, status);
  if (settle_) settle_();
  dialogs_.Message(FailureText(status.message(), prefix_, tag_, line, statement_),
                   std::string(kFailureTitle), MessageIcon::kExclamation);
}

Status Procedure::OutOfMemory() {
  return Status::IoError("Out of memory: the step needed more memory than the system could give.");
}

void Procedure::Step(int line, const std::function<Status()>& step) {
  Status s = OutOfMemory();
  try {
    s = step();
  } catch (const std::bad_alloc&) {
  }
  if (!s.ok()) Fail(line, s);
}

bool Procedure::Test(int line, const std::function<Result<bool>()>& test) {
  Result<bool> r = OutOfMemory();
  try {
    r = test();
  } catch (const std::bad_alloc&) {
  }
  if (!r.ok()) {
    Fail(line, r.status());
    return true;
  }
  return r.value();
}

}  // namespace corvane::ui
