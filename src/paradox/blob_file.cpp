// Blob lookup: the reference's high 24 bits give a 4 KiB-aligned block, the
// low byte a slot. A single-blob block (type 2) holds one value after a
// 9-byte header; a sub-allocated block (type 3) has 64 five-byte slots
// giving each value's 16-byte chunk offset, chunk count and last-chunk fill.
#include "paradox/blob_file.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "base/ascii.h"
#include "paradox/crypt.h"
#include "paradox/format.h"

namespace corvane::paradox {

namespace {

// Enough of a block to see its header and the whole slot table.
constexpr size_t kBlockHeadLen = kMbSlotTable + kMbSlotCount * kMbSlotSize;

}  // namespace

std::string BlobFile::Find(const std::string& db_path) {
  namespace fs = std::filesystem;
  const fs::path db(db_path);
  const fs::path dir = db.has_parent_path() ? db.parent_path() : fs::path(".");
  const std::string stem = db.stem().string();
  for (const char* ext : {".mb", ".MB", ".Mb", ".mB"}) {
    std::error_code ec;
    const fs::path p = dir / (stem + ext);
    if (fs::is_regular_file(p, ec)) return p.string();
  }
  const std::string want = AsciiLowerCase(stem + ".mb");
  std::error_code ec;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    if (AsciiLowerCase(it->path().filename().string()) == want) return it->path().string();
  }
  return {};
}

Status BlobFile::Bad(const std::string& what) const {
  return Status::Corruption("the blob file " + file_.path() + " " + what);
}

Status BlobFile::EnsureOpen() {
  if (open_status_) return *open_status_;
  const std::string path = Find(db_path_);
  if (path.empty()) {
    std::filesystem::path want(db_path_);
    want.replace_extension(".mb");
    open_status_ = Status::NotFound("the blob file " + want.string() + " is missing");
  } else {
    open_status_ = file_.Open(path);
  }
  return *open_status_;
}

Status BlobFile::Read(uint32_t pointer, uint32_t length, std::string& out) {
  out.clear();
  return ReadPieces(pointer, length, [&out, length](const unsigned char* data, size_t n) {
    if (out.empty()) out.reserve(length);  // the length was checked against the file
    out.append(reinterpret_cast<const char*>(data), n);
  });
}

Status BlobFile::ReadPieces(uint32_t pointer, uint32_t length, const PieceSink& piece) {
  CORVANE_RETURN_IF_ERROR(EnsureOpen());
  const uint64_t offset = pointer & 0xFFFFFF00u;
  const uint32_t index = pointer & 0xFFu;
  if (offset == 0 || offset >= file_.size()) {
    return Bad("has no block at offset " + std::to_string(offset) + " (it has " +
               std::to_string(file_.size()) + " bytes)");
  }
  unsigned char head[kBlockHeadLen] = {};
  Result<size_t> got = ReadAt(offset, sizeof head, head);
  if (!got.ok()) return got.status();
  const uint8_t type = head[0];
  if (type == kMbSingleBlob) return ReadSingle(offset, head, *got, index, length, piece);
  if (type == kMbSubAllocated) return ReadSubAllocated(offset, head, *got, index, length, piece);
  return Bad("holds a block of type " + std::to_string(type) + " at offset " +
             std::to_string(offset) + " where a blob was expected");
}

Status BlobFile::ReadSingle(uint64_t offset, const unsigned char* head, size_t head_len,
                            uint32_t index, uint32_t length, const PieceSink& piece) {
  if (head_len < static_cast<size_t>(kMbSingleHeader)) return Bad("is cut short");
  if (index != kMbSingleSlotIndex) {
    return Bad("is referred to with slot " + std::to_string(index) + " of a single-blob block");
  }
  const uint32_t stored = LoadLe32(head + 3);
  if (stored != length) {
    return Bad("holds a blob of " + std::to_string(stored) + " bytes at offset " +
               std::to_string(offset) + " where the record expects " + std::to_string(length));
  }
  const uint64_t units = LoadLe16(head + 1);
  if (kMbSingleHeader + uint64_t{length} > units * kMbUnit) {
    return Bad("has a blob block at offset " + std::to_string(offset) + " too small for its blob");
  }
  return ReadData(offset + kMbSingleHeader, length, piece);
}

Status BlobFile::ReadSubAllocated(uint64_t offset, const unsigned char* head, size_t head_len,
                                  uint32_t index, uint32_t length, const PieceSink& piece) {
  if (index >= static_cast<uint32_t>(kMbSlotCount)) {
    return Bad("is referred to with slot " + std::to_string(index) + " of a shared block");
  }
  const size_t slot = kMbSlotTable + kMbSlotSize * index;
  if (head_len < slot + kMbSlotSize) return Bad("is cut short");
  const unsigned char* s = head + slot;
  const uint32_t start = s[0] * uint32_t{kMbChunk};
  const uint32_t chunks = s[1];
  const uint32_t last = s[4];
  if (start == 0 || chunks == 0 || last == 0 || last > static_cast<uint32_t>(kMbChunk)) {
    return Bad("holds no blob in slot " + std::to_string(index) + " of the block at offset " +
               std::to_string(offset) + " (deleted or damaged)");
  }
  const uint32_t stored = (chunks - 1) * kMbChunk + last;
  if (stored != length) {
    return Bad("holds a blob of " + std::to_string(stored) + " bytes in slot " +
               std::to_string(index) + " at offset " + std::to_string(offset) +
               " where the record expects " + std::to_string(length));
  }
  if (start + stored > static_cast<uint32_t>(kMbUnit)) {
    return Bad("has a slot reaching past its block at offset " + std::to_string(offset));
  }
  return ReadData(offset + start, length, piece);
}

// Fewer bytes than the file held when it was opened means another program
// cut or rewrote it under us: an error, never a short value.
Result<size_t> BlobFile::ReadAt(uint64_t offset, size_t n, unsigned char* buf) const {
  Result<size_t> got = ReadDecrypted(offset, n, buf);
  if (!got.ok()) return got;
  const uint64_t there = offset < file_.size() ? std::min<uint64_t>(n, file_.size() - offset) : 0;
  if (*got < there) {
    return FileChanged(file_.path(), std::to_string(there) + " bytes expected at offset " +
                                         std::to_string(offset) + ", " + std::to_string(*got) +
                                         " found");
  }
  return got;
}

Result<size_t> BlobFile::ReadDecrypted(uint64_t offset, size_t n, unsigned char* buf) const {
  if (key_ == 0) return file_.ReadAt(offset, n, buf);
  // Whole 256-byte chunks are read and decrypted, then the part asked for
  // is copied out.
  const uint64_t first = offset / kCryptChunk * kCryptChunk;
  const uint64_t end = (offset + n + kCryptChunk - 1) / kCryptChunk * kCryptChunk;
  std::string chunks(end - first, '\0');
  Result<size_t> got = file_.ReadAt(first, chunks.size(), chunks.data());
  if (!got.ok()) return got.status();
  DecryptMbChunks(reinterpret_cast<unsigned char*>(chunks.data()), chunks.size(), key_);
  const size_t have = *got > offset - first ? std::min<size_t>(n, *got - (offset - first)) : 0;
  std::memcpy(buf, chunks.data() + (offset - first), have);
  return have;
}

Status BlobFile::ReadData(uint64_t offset, uint32_t length, const PieceSink& piece) {
  constexpr uint32_t kPiece = uint32_t{1} << 20;
  if (offset > file_.size() || length > file_.size() - offset) {
    return Bad("is cut short: a blob at offset " + std::to_string(offset) + " of " +
               std::to_string(length) + " bytes lies past its end");
  }
  piece_.resize(std::min(length, kPiece));
  auto* buf = reinterpret_cast<unsigned char*>(piece_.data());
  for (uint32_t at = 0; at < length;) {
    const uint32_t n = std::min(length - at, kPiece);
    Result<size_t> got = ReadAt(offset + at, n, buf);
    if (!got.ok()) return got.status();
    if (*got != n) return Bad("is cut short");
    piece(buf, n);
    at += n;
  }
  return Status::Ok();
}

}  // namespace corvane::paradox
