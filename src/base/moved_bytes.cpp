#include "base/moved_bytes.h"

#include <algorithm>
#include <cstdint>

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace corvane {

namespace {

// Hands `data` to `append` a piece at a time, giving each piece's whole
// pages back to the system once it is used.
template <typename Append>
void UseAndRelease(char* data, size_t size, Append append) {
  constexpr size_t kPiece = size_t{1} << 20;
#if defined(__linux__)
  const auto page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
  // Only whole pages inside the source go: the allocator's own bytes
  // before and after it stay as they are.
  uintptr_t released = (reinterpret_cast<uintptr_t>(data) + page - 1) / page * page;
#endif
  for (size_t at = 0; at < size; at += kPiece) {
    const size_t n = std::min(kPiece, size - at);
    append(data + at, n);
#if defined(__linux__)
    const uintptr_t end = reinterpret_cast<uintptr_t>(data + at + n) / page * page;
    if (end > released) {
      (void)madvise(reinterpret_cast<void*>(released), end - released, MADV_DONTNEED);
      released = end;
    }
#endif
  }
}

}  // namespace

std::string MoveOutOf(char* data, size_t size) {
  std::string out;
  out.reserve(size);  // untouched pages cost nothing until written
  UseAndRelease(data, size, [&](const char* p, size_t n) { out.append(p, n); });
  return out;
}

void AppendHex(std::string& out, std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  const size_t at = out.size();
  out.resize(at + 2 * bytes.size());
  char* to = out.data() + at;
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    *to++ = kDigits[b >> 4];
    *to++ = kDigits[b & 0x0F];
  }
}

std::string HexText(std::string_view bytes) {
  std::string out;
  out.reserve(2 + 2 * bytes.size());
  out = "\\x";
  AppendHex(out, bytes);
  return out;
}

std::string HexOutOf(char* data, size_t size) {
  std::string out;
  out.reserve(2 + 2 * size);
  out = "\\x";
  UseAndRelease(data, size, [&](const char* p, size_t n) { AppendHex(out, std::string_view(p, n)); });
  return out;
}

}  // namespace corvane
