// Decoding of a .db header into a TableInfo plus the block-chain facts the
// reader needs. Internal to the reader.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/status.h"
#include "paradox/format.h"

namespace corvane::paradox {

struct TableHeader {
  TableInfo info;  // record_count as stored in the header
  int first_block = 0;
  int file_blocks = 0;
  int used_blocks = 0;
  uint32_t encryption_key = 0;  // 0 = not encrypted
};

// Bytes needed to learn the header size (offset 0x02).
inline constexpr int kHeaderProbeSize = kHdrFixedEnd;

// Decodes `header`: the first min(header size, file size) bytes of the file
// named `path`. Every offset and count is checked against `header` and
// `file_size`; errors name the file.
Result<TableHeader> DecodeTableHeader(std::string_view header, uint64_t file_size,
                                      const std::string& path);

}  // namespace corvane::paradox
