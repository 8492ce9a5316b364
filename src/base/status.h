// Errors as values. A Status carries a code, a message a user can act on
// (what was touched and what is wrong) and, for SQL, the SQLSTATE.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <variant>

namespace corvane {

class [[nodiscard]] Status {
 public:
  enum class Code {
    kOk = 0,
    kInvalidArgument,
    kNotFound,          // file, folder or table missing (error 76 of the original)
    kPermissionDenied,  // error 70 of the original
    kIoError,
    kCorruption,
    kNotSupported,
    kDatabase,  // refused by a database server or driver
    kInternal,
  };

  Status() = default;
  static Status Ok() { return Status(); }
  static Status Error(Code code, std::string message, std::string sqlstate = {}) {
    return Status(code, std::move(message), std::move(sqlstate));
  }
  static Status InvalidArgument(std::string m) {
    return Error(Code::kInvalidArgument, std::move(m));
  }
  static Status NotFound(std::string m) { return Error(Code::kNotFound, std::move(m)); }
  static Status PermissionDenied(std::string m) {
    return Error(Code::kPermissionDenied, std::move(m));
  }
  static Status IoError(std::string m) { return Error(Code::kIoError, std::move(m)); }
  static Status Corruption(std::string m) { return Error(Code::kCorruption, std::move(m)); }
  static Status NotSupported(std::string m) { return Error(Code::kNotSupported, std::move(m)); }
  static Status Database(std::string m, std::string sqlstate = {}) {
    return Error(Code::kDatabase, std::move(m), std::move(sqlstate));
  }
  static Status Internal(std::string m) { return Error(Code::kInternal, std::move(m)); }

  bool ok() const { return code_ == Code::kOk; }
  Code code() const { return code_; }
  // The description shown to the user in the failure dialog.
  const std::string& message() const { return message_; }
  const std::string& sqlstate() const { return sqlstate_; }

 private:
  Status(Code code, std::string message, std::string sqlstate)
      : code_(code), message_(std::move(message)), sqlstate_(std::move(sqlstate)) {}
  Code code_ = Code::kOk;
  std::string message_;
  std::string sqlstate_;
};

// A value or the Status that explains why there is none.
template <typename T>
class [[nodiscard]] Result {
 public:
  Result(T value) : v_(std::move(value)) {}         // NOLINT: implicit by design
  Result(Status status) : v_(std::move(status)) {}  // NOLINT: implicit by design

  bool ok() const { return std::holds_alternative<T>(v_); }
  const Status& status() const {
    static const Status kOk;
    return ok() ? kOk : std::get<Status>(v_);
  }
  T& value() & { return std::get<T>(v_); }
  const T& value() const& { return std::get<T>(v_); }
  T&& value() && { return std::get<T>(std::move(v_)); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }
  T& operator*() & { return value(); }

 private:
  std::variant<T, Status> v_;
};

// True when the error ended the database connection it came from: SQLSTATE
// class 08 (connection exception) or 57P (the server shuts down, or ended
// this session). Every later statement on that connection fails the same
// way, so work on it stops; only a new connection can go on. Any other
// error refused one statement and the connection still serves.
inline bool IsConnectionLost(const Status& s) {
  const std::string& state = s.sqlstate();
  return !s.ok() && (state.rfind("08", 0) == 0 || state.rfind("57P", 0) == 0);
}

// True when the server could not store the data: its disk is full (53100)
// or failing (58030). The connection still serves, but every later row
// would meet the same error.
inline bool IsServerStorageFailure(const Status& s) {
  const std::string& state = s.sqlstate();
  return !s.ok() && (state == "53100" || state == "58030");
}

}  // namespace corvane

#define CORVANE_RETURN_IF_ERROR(expr) \
  do {                                \
    ::corvane::Status _st = (expr);   \
    if (!_st.ok()) return _st;        \
  } while (0)
