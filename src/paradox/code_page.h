// Text conversion between a table's code page and UTF-8.
//
// Tables are built once per process and then only read, so the functions
// are safe to call from several threads. A character is written only as
// bytes that read back as that character; anything else is refused.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"

namespace corvane::paradox {

// The code page used when a table names none or one we do not know.
inline constexpr int kDefaultCodePage = 1252;

// HP Roman-8. Tables of the BLROM800 language driver hold it and name code
// page 0 in their header; 1051 is the number Windows gives it.
inline constexpr int kRoman8CodePage = 1051;

// True for the code pages ToUtf8/FromUtf8 accept.
bool IsSupportedCodePage(int code_page);
// True for the CJK code pages, where a character takes one or two bytes.
bool IsDoubleByteCodePage(int code_page);

// Bytes in `code_page` to UTF-8. Fails (kNotSupported) only for an
// unsupported code page. A byte the code page leaves undefined (0x81 in
// 1252) reads as U+00XX, as Windows reads it (U+F7XX if a defined byte
// already stands for U+00XX), and FromUtf8 writes that character back as
// the same byte: nothing is lost either way.
Result<std::string> ToUtf8(std::string_view bytes, int code_page);
// Appends instead of returning: the reader's hot path reuses `out`.
Status AppendUtf8(std::string_view bytes, int code_page, std::string& out);
// The same for a part of a longer text: a character cut at the end of
// `bytes` is left unconverted, and `used` says how far it got, so that the
// rest, given with what follows, converts as the whole text would.
Status AppendUtf8Part(std::string_view bytes, int code_page, std::string& out, size_t& used);

// UTF-8 to bytes in `code_page`. Fails (kInvalidArgument) naming the first
// character the code page cannot represent, or on invalid UTF-8; never
// substitutes. Text the code page holds only in its composed form (NFC) is
// written composed: it reads back canonically equal, not byte for byte.
Result<std::string> FromUtf8(std::string_view utf8, int code_page);

// `utf8` in Unicode normalisation form C.
std::string Nfc(std::string_view utf8);
// A place at or before `cut` (a character boundary) where `utf8` may be
// split so that each part composes as it would within the whole: before a
// character no combining mark attaches to from before.
size_t NfcSafeCut(std::string_view utf8, size_t cut);

// The language driver Paradox and BDE programs open a table with: the sort
// order byte at 0x29 and the name at the end of the header.
struct LanguageDriver {
  int code_page;
  uint8_t sort_byte;
  const char* name;
};

// The code pages a new table may be written in, in the order the export
// prefers them: Windows first, then DOS, then the CJK double-byte ones.
const std::vector<int>& ExportCodePages();
bool IsExportCodePage(int code_page);
// The driver written for an export code page (the 'ascii' one, with the
// code page field still naming the text's code page, for any other).
LanguageDriver LanguageDriverFor(int code_page);

// The text of a code-page setting: empty or "auto" is 0 (chosen by the
// table's text); otherwise one of ExportCodePages(), or a message that
// lists them.
Result<int> ParseExportCodePage(std::string_view text);

// The code pages that can still hold everything a table is given, narrowed
// value by value. A value is refused (and nothing narrowed) when no code
// page left holds it together with what came before. A code page whose
// driver is unknown (1257, 1258) is taken only when forced: left to choose,
// text that needs it is refused, naming it.
class CodePageChoice {
 public:
  // Every export code page with a driver, or only `forced` when it is not 0.
  explicit CodePageChoice(int forced = 0);
  // Narrows to the code pages that hold `utf8` as well. Fails naming the
  // first character that no remaining code page holds.
  Status Admit(std::string_view utf8);
  bool Holds(std::string_view utf8) const;
  // The preferred code page left: Windows over DOS; among the CJK ones the
  // script decides (kana: Japanese, hangul: Korean, Han alone: Big5 when it
  // holds all of it, else GBK).
  int Best() const;

 private:
  // The pages left that take `utf8`; `stop`: where the last fell away;
  // `invalid`: where invalid UTF-8 starts (npos when none).
  uint64_t Taking(std::string_view utf8, size_t& stop, size_t& invalid) const;
  Status Refusal(std::string_view utf8, size_t at) const;

  uint64_t pages_;
  bool kana_ = false;
  bool hangul_ = false;
};

}  // namespace corvane::paradox
