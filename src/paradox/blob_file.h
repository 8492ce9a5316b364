// The .mb file beside a table: blob values referenced from records.
// Internal to the reader.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "base/status.h"
#include "paradox/file_io.h"

namespace corvane::paradox {

class BlobFile {
 public:
  // `db_path` is the table; the .mb is looked up beside it (any case of the
  // extension) by Open, or else on the first Read.
  // `key` is the table's encryption key (0 = not encrypted): an encrypted
  // table's .mb is encrypted as a whole.
  BlobFile(std::string db_path, uint32_t key) : db_path_(std::move(db_path)), key_(key) {}

  // Opens the .mb now, so that it is the one beside the table as the table
  // is opened. kNotFound, naming the file, when there is none.
  Status Open() { return EnsureOpen(); }
  // Whether the opened .mb is still the file at its path (see ReadOnlyFile).
  bool StillAtPath() const { return !file_.is_open() || file_.StillAtPath(); }

  // Replaces `out` with the `length` bytes that the record reference
  // `pointer` (block offset | slot index) names. Room for them is taken
  // only once the .mb is seen to hold that many. Errors say what is wrong
  // with the .mb (missing, cut short, reference to the wrong kind of block,
  // length that does not match) and name the .mb file.
  Status Read(uint32_t pointer, uint32_t length, std::string& out);
  // The same bytes handed to `piece` in order, at most a mebibyte at a
  // time, so a large blob is never whole in memory. The first piece comes
  // only once the whole length is known to lie inside the .mb, so it may
  // reserve room for `length` bytes.
  using PieceSink = std::function<void(const unsigned char* data, size_t n)>;
  Status ReadPieces(uint32_t pointer, uint32_t length, const PieceSink& piece);

  // The .mb path beside `db_path`, matched case-insensitively; empty if none.
  static std::string Find(const std::string& db_path);

 private:
  Status EnsureOpen();
  Status ReadSingle(uint64_t offset, const unsigned char* head, size_t head_len, uint32_t index,
                    uint32_t length, const PieceSink& piece);
  Status ReadSubAllocated(uint64_t offset, const unsigned char* head, size_t head_len,
                          uint32_t index, uint32_t length, const PieceSink& piece);
  Status ReadData(uint64_t offset, uint32_t length, const PieceSink& piece);
  Status Bad(const std::string& what) const;
  // Reads like ReadOnlyFile::ReadAt, decrypting when the table is encrypted;
  // fails when the file no longer holds what it held at open.
  Result<size_t> ReadAt(uint64_t offset, size_t n, unsigned char* buf) const;
  Result<size_t> ReadDecrypted(uint64_t offset, size_t n, unsigned char* buf) const;

  std::string db_path_;
  uint32_t key_ = 0;
  std::optional<Status> open_status_;
  ReadOnlyFile file_;
  std::string piece_;  // ReadData's buffer
};

}  // namespace corvane::paradox
