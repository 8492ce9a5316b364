// The conversion tables behind code_page.h: one per code page, built once
// from the system's decoder (iconv) and shared by every thread.
//
// Only the decoding direction is taken from iconv. Its encoders also map
// characters a code page lacks onto look-alikes (U+00A5 onto cp932's 0x5C)
// and skip Unicode tag characters, so a value would come back changed; the
// encoding direction here is the decoding one reversed, which holds exactly
// the characters some byte sequence decodes to.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace corvane::paradox::code_page_tables {

inline constexpr uint32_t kNoChar = 0xFFFFFFFF;

// HP Roman-8, as Windows numbers it (code_page.h: kRoman8CodePage).
inline constexpr int kRoman8 = 1051;
// Each of these keeps ASCII as ASCII (864 does not, and is left out).
inline constexpr int kSingleBytePages[] = {437,  737,  850,  852,  857,  860,  861,    862,
                                           863,  865,  866,  869,  874,  1250, 1251,   1252,
                                           1253, 1254, 1255, 1256, 1257, 1258, kRoman8};
inline constexpr int kMultiBytePages[] = {932, 936, 949, 950};

// A single-byte code page. A byte the code page leaves undefined reads as
// U+00XX (what Windows does for 1252's holes) or, when a defined byte
// already stands for that character, as U+F7XX from the private use area:
// no byte is ever lost, and the character writes back as the byte.
struct SingleByteTable {
  std::array<std::string, 256> to_utf8;
  std::unordered_map<uint32_t, unsigned char> from_code_point;
};

// A double-byte code page (932, 936, 949, 950). Bytes below 0x80 are ASCII.
struct MultiByteTable {
  std::array<uint32_t, 256> single{};  // a byte that is a character alone, else kNoChar
  std::array<bool, 256> lead{};        // a byte that starts a two-byte character
  std::vector<uint32_t> pair;          // [lead * 256 + trail]: the character or kNoChar
  // Where two sequences decode to one character (cp932's NEC and IBM rows
  // share some), the one the code page's own encoder writes.
  std::unordered_map<uint32_t, uint16_t> from_code_point;  // < 0x100: one byte
};

// Null when `code_page` is not one of that kind or iconv lacks it.
const SingleByteTable* SingleByte(int code_page);
const MultiByteTable* MultiByte(int code_page);

}  // namespace corvane::paradox::code_page_tables
