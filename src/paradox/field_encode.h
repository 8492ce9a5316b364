// Turning one value (a Cell in the fixed text forms) into the bytes a field
// stores. Nothing is rounded, cut or replaced: a value the field cannot hold
// exactly is refused with the reason, and the caller names the field.
//
// Empty texts are stored as NULL, as Paradox has no empty Alpha or blob.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "base/status.h"
#include "paradox/format.h"
#include "paradox/value_parse.h"

namespace corvane::paradox {

// Checks a field definition and fills in the record size of fixed-size
// types (a size of 0 means "the usual one"): Alpha and Bytes 1-255, BCD
// scale 0-32, blobs leader + 10 with Memo leader >= 1 (at most 240).
// Fails (kInvalidArgument) for anything Paradox 5 cannot hold.
Status NormalizeField(FieldInfo& field);

// Encodes a non-blob value into `out` (field.size bytes, zeroed by the
// caller). Errors (kInvalidArgument) give the reason only.
Status EncodeScalar(const FieldInfo& field, const CellView& cell, int code_page, unsigned char* out);

// The bytes a blob field stores for `cell`: Memo text converted to the code
// page; Binary, Formatted memo, Graphic and OLE from "\x…" hex, Graphic and
// OLE with Paradox's 8-byte prefix in front. Empty means NULL.
Result<std::string> BlobPayload(const FieldInfo& field, const CellView& cell, int code_page);

// BlobPayload of a value that comes in pieces: the same checks and bytes,
// measured in one pass over the value and produced piece by piece in a
// second, so neither the value nor its payload is ever whole in memory.
class PiecewisePayload {
 public:
  // Fails as BlobPayload would.
  static Result<PiecewisePayload> Measure(const FieldInfo& field, const ValuePieces& value,
                                          int code_page);
  uint64_t size() const { return size_; }  // 0: NULL
  // The payload's first bytes, as many as a record's leader may copy.
  std::string_view head() const { return head_; }
  // Calls `write` with the payload's bytes in order.
  Status Produce(const std::function<Status(std::string_view)>& write) const;

 private:
  PiecewisePayload(const FieldInfo& field, const ValuePieces& value, int code_page)
      : type_(field.type), value_(&value), code_page_(code_page) {}
  FieldType type_;
  const ValuePieces* value_;
  int code_page_;
  uint64_t size_ = 0;
  std::string head_;
};

// True when a payload goes to the .mb file rather than fitting the leader.
bool BlobNeedsMbFile(const FieldInfo& field, std::string_view payload);
bool BlobNeedsMbFile(const FieldInfo& field, uint64_t payload_size);

// The record part of a blob field: the leader copy of the first bytes (for
// Graphic, of the image after its prefix) and the 10-byte reference.
// `pointer` is 0 for an inline value, else the .mb block offset | index.
void EncodeBlobReference(const FieldInfo& field, std::string_view payload, uint32_t pointer,
                         unsigned char* out);
// The same for a payload of `size` bytes that begins with `head`.
void EncodeBlobReference(const FieldInfo& field, std::string_view head, uint64_t size,
                         uint32_t pointer, unsigned char* out);

// 17 bytes of a BCD field of `scale` decimals; false when the value needs
// more digits than the field has.
bool EncodeBcd(const Decimal& value, int scale, unsigned char* out);
bool EncodeBcd(const DecimalView& value, int scale, unsigned char* out);

}  // namespace corvane::paradox
