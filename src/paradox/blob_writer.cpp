// Layout (see the format notes): header block at 0; type 2 blocks hold one
// blob after a 9-byte header and are addressed as offset | 0xFF; type 3
// blocks are one unit with a slot table at 12 and 16-byte chunks from 0x150,
// filled from slot 63 downwards and chunk 0x15 upwards like Paradox does.
#include "paradox/blob_writer.h"

#include <cstring>
#include <string>

namespace corvane::paradox {
namespace {

constexpr int kSubAllocLimit = 2048;         // larger blobs get their own block
constexpr int kFirstDataChunk = 0x15;        // first chunk after the slot table
constexpr int kChunksPerBlock = 256;         // chunk numbers are one byte
constexpr uint64_t kMaxMbSize = 1ull << 32;  // references are u32 offsets
constexpr uint32_t kMaxUnits = 0xFFFF;       // block sizes are u16 units
constexpr uint16_t kFreshModification = 1;

}  // namespace

std::array<unsigned char, kMbUnit> EncodeMbHeader() {
  std::array<unsigned char, kMbUnit> h{};
  h[0x00] = kMbHeaderBlock;
  StoreLe16(&h[0x01], 1);
  StoreLe16(&h[0x03], kFreshModification);
  // Constants every Paradox-written .mb carries.
  const unsigned char kConstants[] = {0x82, 0x73, 0x02, 0x00, 0x29};
  std::memcpy(&h[0x05], kConstants, sizeof kConstants);
  StoreLe16(&h[0x0B], kMbUnit);
  StoreLe16(&h[0x0D], kMbUnit);
  h[0x10] = kMbChunk;
  StoreLe16(&h[0x11], kMbSlotCount);
  StoreLe16(&h[0x13], kSubAllocLimit);
  StoreLe16(&h[0x29], 0x02A1);
  return h;
}

Result<std::unique_ptr<BlobWriter>> BlobWriter::Create(std::unique_ptr<TempFile> file) {
  std::unique_ptr<BlobWriter> w(new BlobWriter(std::move(file)));
  auto header = EncodeMbHeader();
  CORVANE_RETURN_IF_ERROR(w->file_->WriteAt(0, header.data(), header.size()));
  return w;
}

Result<uint32_t> BlobWriter::Add(std::string_view blob) {
  if (blob.empty()) return Status::Internal("empty blobs are stored as NULL, not in the .mb");
  if (blob.size() <= static_cast<size_t>(kSubAllocLimit)) return AddSubAllocated(blob);
  return AddSingle(blob.size(), [&](const auto& write) { return write(blob); });
}

Result<uint32_t> BlobWriter::AddPieces(uint64_t size, const Producer& produce) {
  if (size <= static_cast<uint64_t>(kSubAllocLimit)) {
    return Status::Internal("a blob given in pieces is larger than a shared block holds");
  }
  return AddSingle(size, produce);
}

Result<uint32_t> BlobWriter::AddSingle(uint64_t size, const Producer& produce) {
  const uint64_t units = (kMbSingleHeader + size + kMbUnit - 1) / kMbUnit;
  if (units > kMaxUnits) {
    return Status::InvalidArgument("it is " + std::to_string(size) +
                                   " bytes and a Paradox blob holds at most " +
                                   std::to_string(kMaxUnits * kMbUnit - kMbSingleHeader));
  }
  if (end_ + units * kMbUnit > kMaxMbSize) {
    return Status::InvalidArgument("the table's .mb file would outgrow 4 GiB");
  }
  unsigned char head[kMbSingleHeader] = {kMbSingleBlob};
  StoreLe16(head + 1, static_cast<uint16_t>(units));
  StoreLe32(head + 3, static_cast<uint32_t>(size));
  StoreLe16(head + 7, kFreshModification);
  const uint64_t offset = end_;
  CORVANE_RETURN_IF_ERROR(writes_.Write(offset, head, sizeof head));
  uint64_t written = 0;
  CORVANE_RETURN_IF_ERROR(produce([&](std::string_view piece) -> Status {
    if (written + piece.size() > size) return Status::Internal("a blob outgrew its measured size");
    const uint64_t at = offset + kMbSingleHeader + written;
    written += piece.size();
    return writes_.Write(at, piece.data(), piece.size());
  }));
  if (written != size) return Status::Internal("a blob fell short of its measured size");
  end_ += units * kMbUnit;  // the padding is made by Finish's resize or later writes
  return static_cast<uint32_t>(offset) | kMbSingleSlotIndex;
}

Result<uint32_t> BlobWriter::AddSubAllocated(std::string_view blob) {
  const int chunks = static_cast<int>((blob.size() + kMbChunk - 1) / kMbChunk);
  if (!sub_open_ || sub_slots_used_ == kMbSlotCount || sub_next_chunk_ + chunks > kChunksPerBlock) {
    if (end_ + kMbUnit > kMaxMbSize) {
      return Status::InvalidArgument("the table's .mb file would outgrow 4 GiB");
    }
    CORVANE_RETURN_IF_ERROR(FlushSubBlock());
    CORVANE_RETURN_IF_ERROR(OpenSubBlock());
  }
  const int slot = kMbSlotCount - 1 - sub_slots_used_;
  unsigned char* entry = &sub_[kMbSlotTable + kMbSlotSize * slot];
  entry[0] = static_cast<unsigned char>(sub_next_chunk_);
  entry[1] = static_cast<unsigned char>(chunks);
  StoreLe16(entry + 2, kFreshModification);
  entry[4] = static_cast<unsigned char>(blob.size() - static_cast<size_t>(chunks - 1) * kMbChunk);
  std::memcpy(&sub_[static_cast<size_t>(sub_next_chunk_) * kMbChunk], blob.data(), blob.size());
  sub_next_chunk_ += chunks;
  ++sub_slots_used_;
  return static_cast<uint32_t>(sub_offset_) | static_cast<uint32_t>(slot);
}

Status BlobWriter::OpenSubBlock() {
  sub_.fill(0);
  sub_[0] = kMbSubAllocated;
  StoreLe16(&sub_[1], 1);
  sub_open_ = true;
  sub_offset_ = end_;
  end_ += kMbUnit;
  sub_slots_used_ = 0;
  sub_next_chunk_ = kFirstDataChunk;
  return Status::Ok();
}

Status BlobWriter::FlushSubBlock() {
  if (!sub_open_) return Status::Ok();
  sub_open_ = false;
  return writes_.Write(sub_offset_, sub_.data(), sub_.size());
}

Status BlobWriter::Finish() {
  CORVANE_RETURN_IF_ERROR(FlushSubBlock());
  CORVANE_RETURN_IF_ERROR(writes_.Flush());
  return file_->Resize(end_);
}

}  // namespace corvane::paradox
