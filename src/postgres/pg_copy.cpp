// COPY ... FROM STDIN in the text format.
//
// Outline: the COPY statement runs on its own, outside any transaction, so
// the server stores all of its rows or none. Rows are escaped into a buffer
// that goes to the server whenever it passes kChunkBytes, so the server
// stores one chunk while the caller reads and escapes the next. Ending the
// copy waits for the server's verdict; abandoning it (a failure of ours, or
// the object destroyed before End) tells the server to fail the COPY, which
// throws away everything sent so far.
#include <poll.h>

#include <cerrno>
#include <string_view>

#include "base/moved_bytes.h"
#include "postgres/pg_session.h"

namespace corvane {
namespace {

constexpr size_t kChunkBytes = 128 * 1024;
constexpr int kPollMs = 5;
constexpr const char* kBusyMessage =
    "Another operation on this connection is still under way; finish it first.";

// The text format's escapes: backslash, and the characters that would end
// a field (tab) or a row (line feed, carriage return). Everything else,
// including any other control character, stands for itself.
void AppendEscaped(std::string& out, std::string_view text) {
  size_t plain = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    char escape = 0;
    switch (text[i]) {
      case '\\':
        escape = '\\';
        break;
      case '\t':
        escape = 't';
        break;
      case '\n':
        escape = 'n';
        break;
      case '\r':
        escape = 'r';
        break;
      default:
        continue;
    }
    out.append(text.data() + plain, i - plain);
    out += '\\';
    out += escape;
    plain = i + 1;
  }
  out.append(text.data() + plain, text.size() - plain);
}

// One identifier in double quotes, any quote inside doubled: nothing in it
// can add to the COPY statement (FROM PROGRAM, options).
bool IsOneQuotedName(std::string_view name) {
  if (name.size() < 3 || name.front() != '"' || name.back() != '"') return false;
  const std::string_view inner = name.substr(1, name.size() - 2);
  for (size_t i = 0; i < inner.size(); ++i) {
    if (inner[i] != '"') continue;
    if (i + 1 == inner.size() || inner[i + 1] != '"') return false;
    ++i;
  }
  return true;
}

class PgRowCopy : public RowCopy {
 public:
  PgRowCopy(std::shared_ptr<PgSession> session, int columns, CopyEmpty empty)
      : session_(std::move(session)), columns_(columns), empty_(empty) {
    session_->copying = true;
    buffer_.reserve(kChunkBytes + kChunkBytes / 2);
  }
  ~PgRowCopy() override {
    if (open_) Abandon("The copy was abandoned.");
  }
  PgRowCopy(const PgRowCopy&) = delete;
  PgRowCopy& operator=(const PgRowCopy&) = delete;

  Status Add(const std::vector<Value>& row) override {
    if (!failure_.ok()) return failure_;
    if (row.size() != static_cast<size_t>(columns_)) {
      return Fail(Status::InvalidArgument("A row of " + std::to_string(row.size()) +
                                          " values cannot go into a table of " +
                                          std::to_string(columns_) + " columns."));
    }
    for (size_t c = 0; c < row.size(); ++c) {
      if (c > 0) buffer_ += '\t';
      const Value& v = row[c];
      if (v.is_bytes()) {
        // Its hex text, made a piece at a time: the backslash escaped.
        buffer_ += "\\\\x";
        const std::string_view bytes = v.bytes();
        for (size_t at = 0; at < bytes.size(); at += kChunkBytes / 2) {
          AppendHex(buffer_, bytes.substr(at, kChunkBytes / 2));
          if (buffer_.size() >= kChunkBytes) CORVANE_RETURN_IF_ERROR(Flush());
        }
      } else if (v.is_null() || (empty_ == CopyEmpty::kNull && v.text().empty())) {
        buffer_ += "\\N";
      } else {
        // A large value goes out in pieces, so it is never held twice.
        const std::string_view text = v.text();
        for (size_t at = 0; at < text.size(); at += kChunkBytes) {
          AppendEscaped(buffer_, text.substr(at, kChunkBytes));
          if (buffer_.size() >= kChunkBytes) CORVANE_RETURN_IF_ERROR(Flush());
        }
      }
    }
    buffer_ += '\n';
    return buffer_.size() >= kChunkBytes ? Flush() : Status::Ok();
  }

  Status End(const std::function<void()>& while_waiting) override {
    if (!failure_.ok()) return failure_;
    CORVANE_RETURN_IF_ERROR(Flush());
    PGconn* c = session_->conn();
    if (!c) return Fail(PgClosedError());
    open_ = false;
    session_->copying = false;
    if (PQputCopyEnd(c, nullptr) != 1) return failure_ = PgError(c, nullptr);
    if (!AwaitResult(c, while_waiting)) return failure_ = PgError(c, nullptr);
    PgResultPtr result(PQgetResult(c));
    const bool stored = result && PQresultStatus(result.get()) == PGRES_COMMAND_OK;
    if (!stored) failure_ = PgError(c, result.get());
    DrainResults(c);
    return stored ? Status::Ok() : failure_;
  }

 private:
  Status Flush() {
    if (buffer_.empty()) return Status::Ok();
    PGconn* c = session_->conn();
    if (!c) return Fail(PgClosedError());
    if (PQputCopyData(c, buffer_.data(), static_cast<int>(buffer_.size())) != 1) {
      return Fail(PgError(c, nullptr));
    }
    buffer_.clear();
    return Status::Ok();
  }

  Status Fail(Status why) {
    failure_ = std::move(why);
    Abandon(failure_.message().c_str());
    return failure_;
  }

  // The server fails the COPY on our message and stores nothing of it.
  void Abandon(const char* why) {
    if (!open_) return;
    open_ = false;
    session_->copying = false;
    buffer_.clear();
    PGconn* c = session_->conn();
    if (!c) return;
    if (PQputCopyEnd(c, why) == 1) DrainResults(c);
  }

  // Waits until the server's verdict has arrived, calling `while_waiting`
  // between short polls; false when the connection fails meanwhile.
  static bool AwaitResult(PGconn* c, const std::function<void()>& while_waiting) {
    while (PQisBusy(c)) {
      pollfd p{PQsocket(c), POLLIN, 0};
      if (poll(&p, 1, kPollMs) < 0 && errno != EINTR) return false;
      if ((p.revents & (POLLIN | POLLERR | POLLHUP)) && !PQconsumeInput(c)) return false;
      if (while_waiting) while_waiting();
    }
    return true;
  }

  static void DrainResults(PGconn* c) {
    while (PgResultPtr r{PQgetResult(c)}) {
    }
  }

  std::shared_ptr<PgSession> session_;
  const int columns_;
  const CopyEmpty empty_;
  bool open_ = true;
  Status failure_;
  std::string buffer_;
};

}  // namespace

Result<std::unique_ptr<RowCopy>> PgBeginCopy(std::shared_ptr<PgSession> session,
                                             const std::string& quoted_table, int column_count,
                                             CopyEmpty empty) {
  PGconn* c = session->conn();
  if (!c) return PgClosedError();
  if (session->streaming || session->copying) return Status::InvalidArgument(kBusyMessage);
  // Inside a transaction a failed COPY would not be the only thing undone.
  if (PQtransactionStatus(c) != PQTRANS_IDLE) return Status::InvalidArgument(kBusyMessage);
  if (column_count < 1) return Status::InvalidArgument("A copy needs at least one column.");
  if (!IsOneQuotedName(quoted_table)) {
    return Status::InvalidArgument("The table name " + quoted_table + " is not a quoted name.");
  }
  PgResultPtr r(PQexecParams(c, ("COPY " + quoted_table + " FROM STDIN").c_str(), 0, nullptr,
                             nullptr, nullptr, nullptr, 0));
  if (!r || PQresultStatus(r.get()) != PGRES_COPY_IN) return PgError(c, r.get());
  auto copy = std::make_unique<PgRowCopy>(session, column_count, empty);
  if (PQnfields(r.get()) != column_count) {
    Status wrong = Status::InvalidArgument("The table has " + std::to_string(PQnfields(r.get())) +
                                           " columns, not " + std::to_string(column_count) + ".");
    copy.reset();  // abandons the COPY: nothing stored
    return wrong;
  }
  return std::unique_ptr<RowCopy>(std::move(copy));
}

}  // namespace corvane
