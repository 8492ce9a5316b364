// Writes the .mb file of a fresh table: a header block, then blobs.
//
// Blobs up to 2048 bytes share sub-allocated blocks (64 slots, 235 chunks of
// 16 bytes each); larger ones get a block of their own. Only the block being
// filled is held in memory.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "base/status.h"
#include "paradox/format.h"
#include "paradox/gathered_writes.h"
#include "paradox/temp_file.h"

namespace corvane::paradox {

class BlobWriter {
 public:
  // A blob block's size is a u16 count of 4 KiB units, its header 9 bytes.
  static constexpr size_t kMaxBlobSize = size_t{0xFFFF} * kMbUnit - kMbSingleHeader;

  // Takes the (empty) file and writes the header block into it.
  static Result<std::unique_ptr<BlobWriter>> Create(std::unique_ptr<TempFile> file);
  BlobWriter(const BlobWriter&) = delete;
  BlobWriter& operator=(const BlobWriter&) = delete;

  // Stores a non-empty blob and returns the record's reference to it
  // (block offset | slot index). kInvalidArgument when the blob or the file
  // would outgrow what the format can address (nothing is written then);
  // kIoError when writing fails.
  Result<uint32_t> Add(std::string_view blob);
  // The same for a blob of `size` bytes (more than fit a shared block) that
  // `produce` hands to its writer in order, piece by piece.
  using Producer = std::function<Status(const std::function<Status(std::string_view)>&)>;
  Result<uint32_t> AddPieces(uint64_t size, const Producer& produce);
  // Writes the block being filled and pads the file to whole blocks.
  Status Finish();

  TempFile& file() { return *file_; }

 private:
  explicit BlobWriter(std::unique_ptr<TempFile> file) : file_(std::move(file)) {}
  Result<uint32_t> AddSingle(uint64_t size, const Producer& produce);
  Result<uint32_t> AddSubAllocated(std::string_view blob);
  Status FlushSubBlock();
  Status OpenSubBlock();

  std::unique_ptr<TempFile> file_;
  uint64_t end_ = kMbUnit;  // next free byte; the header block comes first
  std::array<unsigned char, kMbUnit> sub_{};
  bool sub_open_ = false;
  uint64_t sub_offset_ = 0;
  int sub_slots_used_ = 0;
  int sub_next_chunk_ = 0;
  GatheredWrites writes_{*file_};  // a failed write may surface at a later Add
};

// The 4096-byte header block of a fresh .mb file.
std::array<unsigned char, kMbUnit> EncodeMbHeader();

}  // namespace corvane::paradox
