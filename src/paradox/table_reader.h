// Streaming reader of one Paradox table (.db, with its .mb for blobs).
//
// Open() reads and checks the header and the 6-byte header of each data
// block in the chain (so the row count is exact and the chain sound before
// the first row); records are read block by block in chain order as Next()
// is called, so memory does not grow with the table. Password-protected
// tables are read with the key their header holds. Every size, offset and count taken from the
// files is checked against the files before use: a damaged or hostile file gives an error naming
// the file and what is wrong, never a crash or a read outside it.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "base/status.h"
#include "paradox/format.h"

namespace corvane::paradox {

struct ReadOptions {
  // A table with memo or blob fields whose .mb is missing: false fails
  // Open, naming the file; true reads the table, and each value that lives
  // in the .mb comes as null (counted by values_made_null()).
  bool missing_blobs_as_null = false;
};

class TableReader {
 public:
  // Opens `db_path` and, when the table has memo or blob fields, its .mb
  // with it: both stay open, so the rows are those of one version of the
  // table even if another program replaces its files meanwhile. Fails for
  // a missing or unreadable file (the .db, or the .mb, see ReadOptions), a
  // header that is not a Paradox table, an unknown field type, a damaged
  // block chain, or a password-protected table that does not decrypt
  // ("<file> is password-protected, and decrypting it failed (...)").
  static Result<std::unique_ptr<TableReader>> Open(const std::string& db_path,
                                                   const ReadOptions& options = {});

  // The header alone, also for a password-protected table; record_count is
  // the header's own count, unchecked against the data blocks.
  static Result<TableInfo> ReadInfo(const std::string& db_path);

  ~TableReader();
  TableReader(const TableReader&) = delete;
  TableReader& operator=(const TableReader&) = delete;

  const TableInfo& info() const;

  // Fills `row` (resized to the field count; its strings' buffers are reused)
  // with the next record in chain order. Returns false at the end.
  // Errors:
  //  - a blob field whose .mb is missing or damaged: the error names the
  //    table, the record number and the field; that record is consumed and
  //    the next call goes on with the following record;
  //  - a damaged block chain or block, or a table or .mb file that changed
  //    or ended since Open (another program rewrote it) or cannot be read:
  //    the error is returned again by every later call (the rest of the
  //    table cannot be trusted). Records are never made up of zeros.
  //  - a table whose files were replaced (renamed over) or removed since
  //    Open, noticed at the next data block, the first value read from the
  //    .mb, or the end: such an error as well, instead of the end. The
  //    records handed out before it are all of the version opened.
  Result<bool> Next(std::vector<Cell>& row);

  // From now on a binary blob (not a memo) of at least `from` bytes comes
  // as its bytes, Cell::bytes set, rather than as its "\\x" hex text,
  // which is twice the size. 0: never (the default).
  void BinaryAsBytesFrom(size_t from);

  // True once Next() has met an error that ends the reading (as opposed
  // to one that only cost a record).
  bool broken() const;

  // Not ok when the header's record count differs from the records the
  // data blocks hold (info().record_count is the latter): the table may
  // have lost rows, and whoever copies it should say so.
  const Status& count_status() const;

  // Records handed out so far (1-based number of the last one).
  uint64_t records_read() const;

  // Values that came as null because the .mb is missing (see ReadOptions).
  uint64_t values_made_null() const;

 private:
  class Impl;
  explicit TableReader(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

}  // namespace corvane::paradox
