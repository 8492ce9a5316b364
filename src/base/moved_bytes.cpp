#include "base/moved_bytes.h"

#include <algorithm>
#include <cstdint>

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace corvane {

std::string MoveOutOf(char* data, size_t size) {
  constexpr size_t kPiece = size_t{1} << 20;
  std::string out;
  out.reserve(size);  // untouched pages cost nothing until written
#if defined(__linux__)
  const auto page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
  // Only whole pages inside the source go: the allocator's own bytes
  // before and after it stay as they are.
  uintptr_t released = (reinterpret_cast<uintptr_t>(data) + page - 1) / page * page;
#endif
  for (size_t at = 0; at < size; at += kPiece) {
    const size_t n = std::min(kPiece, size - at);
    out.append(data + at, n);
#if defined(__linux__)
    const uintptr_t end = reinterpret_cast<uintptr_t>(data + at + n) / page * page;
    if (end > released) {
      (void)madvise(reinterpret_cast<void*>(released), end - released, MADV_DONTNEED);
      released = end;
    }
#endif
  }
  return out;
}

}  // namespace corvane
