// Errors as values. A Status carries a code, a message a user can act on
// (what was touched and what is wrong) and, for SQL, the SQLSTATE with what
// it means for the work (SqlFault).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <variant>

namespace corvane {

// What a database error means for the work that met it. The driver that
// received the error says, once (for PostgreSQL from the SQLSTATE, in
// postgres/sql_state.cpp); callers act on this, never on the SQLSTATE text.
enum class SqlFault : uint8_t {
  kNone,            // no SQLSTATE, or one nobody acts on
  kConnectionLost,  // class 08, 57P: every later statement fails the same way
  kServerStorage,   // the server's disk is full (53100) or failing (58030)
  kCanceled,        // 57014: the statement was cancelled
  kRulesBroken,     // class 23: the rows break a unique, check or reference rule
  kNoUniqueParent,  // 42830: a reference to columns without a unique rule
  kSyntax,          // 42601
  kMisfit,          // the rest of class 42: no such table, no right, wrong shape
  kReadOnly,        // 25006: the server takes no writes
  kNotSupported,    // 0A000
};

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
  static Status Error(Code code, std::string message) {
    return Status(code, std::move(message), {}, SqlFault::kNone);
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
  static Status Database(std::string m) { return Error(Code::kDatabase, std::move(m)); }
  // A server's error as its driver classified it.
  static Status Sql(std::string m, std::string sqlstate, SqlFault fault) {
    return Status(Code::kDatabase, std::move(m), std::move(sqlstate), fault);
  }
  static Status Internal(std::string m) { return Error(Code::kInternal, std::move(m)); }

  bool ok() const { return code_ == Code::kOk; }
  Code code() const { return code_; }
  // The description shown to the user in the failure dialog.
  const std::string& message() const { return message_; }
  const std::string& sqlstate() const { return sqlstate_; }
  SqlFault fault() const { return fault_; }
  // The same error told in other words: code, SQLSTATE and fault kept.
  Status Reworded(std::string message) const {
    return Status(code_, std::move(message), sqlstate_, fault_);
  }

 private:
  Status(Code code, std::string message, std::string sqlstate, SqlFault fault)
      : code_(code), message_(std::move(message)), sqlstate_(std::move(sqlstate)), fault_(fault) {}
  Code code_ = Code::kOk;
  std::string message_;
  std::string sqlstate_;
  SqlFault fault_ = SqlFault::kNone;
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

// True when the error ended the database connection it came from. Every
// later statement on that connection fails the same way, so work on it
// stops; only a new connection can go on. Any other error refused one
// statement and the connection still serves.
inline bool IsConnectionLost(const Status& s) {
  return !s.ok() && s.fault() == SqlFault::kConnectionLost;
}

// True when the server could not store the data. The connection still
// serves, but every later row would meet the same error.
inline bool IsServerStorageFailure(const Status& s) {
  return !s.ok() && s.fault() == SqlFault::kServerStorage;
}

}  // namespace corvane

#define CORVANE_RETURN_IF_ERROR(expr) \
  do {                                \
    ::corvane::Status _st = (expr);   \
    if (!_st.ok()) return _st;        \
  } while (0)
