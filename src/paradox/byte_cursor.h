// Bounded reads from a file held in memory, for the small companion files
// (.val, index headers) that are read whole. Every read says whether the
// bytes are there; nothing reads past the end. Internal to the reader.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "paradox/format.h"

namespace corvane::paradox {

class ByteCursor {
 public:
  explicit ByteCursor(std::string_view bytes) : bytes_(bytes) {}

  size_t size() const { return bytes_.size(); }
  size_t pos() const { return pos_; }
  bool Has(size_t off, size_t n) const { return off <= bytes_.size() && n <= bytes_.size() - off; }
  bool Seek(size_t off) {
    if (off > bytes_.size()) return false;
    pos_ = off;
    return true;
  }
  // Moves past n bytes; false (and no move) when fewer remain.
  bool Skip(size_t n) {
    if (!Has(pos_, n)) return false;
    pos_ += n;
    return true;
  }
  const unsigned char* at(size_t off) const {
    return reinterpret_cast<const unsigned char*>(bytes_.data()) + off;
  }
  // Callers check Has() first.
  uint8_t U8(size_t off) const { return *at(off); }
  uint16_t U16(size_t off) const { return LoadLe16(at(off)); }
  uint32_t U32(size_t off) const { return LoadLe32(at(off)); }

  // The NUL-terminated string at `off` within the next `area` bytes (or to
  // the end of the bytes); the terminator need not be there.
  std::string_view CString(size_t off, size_t area = std::string_view::npos) const {
    if (off >= bytes_.size()) return {};
    const std::string_view rest = bytes_.substr(off, area);
    return rest.substr(0, rest.find('\0'));
  }
  // The string at pos() that must end with a NUL inside the bytes; moves
  // past the NUL. False when there is none.
  bool NextCString(std::string_view& out) {
    const size_t nul = bytes_.find('\0', pos_);
    if (nul == std::string_view::npos) return false;
    out = bytes_.substr(pos_, nul - pos_);
    pos_ = nul + 1;
    return true;
  }

 private:
  std::string_view bytes_;
  size_t pos_ = 0;
};

}  // namespace corvane::paradox
