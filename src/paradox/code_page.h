// Text conversion between a table's code page and UTF-8.
//
// Converters are iconv handles cached per code page and per thread, so the
// functions are safe to call from several threads. Pure ASCII input is
// returned without touching iconv.
#pragma once

#include <string>
#include <string_view>

#include "base/status.h"

namespace corvane::paradox {

// The code page used when a table names none or one we do not know.
inline constexpr int kDefaultCodePage = 1252;

// True for the code pages ToUtf8/FromUtf8 accept.
bool IsSupportedCodePage(int code_page);

// Bytes in `code_page` to UTF-8. Fails (kNotSupported) only for an
// unsupported code page. A byte the code page leaves undefined (0x81 in
// 1252) reads as U+00XX, as Windows reads it (U+F7XX if a defined byte
// already stands for U+00XX), and FromUtf8 writes that character back as
// the same byte: nothing is lost either way.
Result<std::string> ToUtf8(std::string_view bytes, int code_page);
// Appends instead of returning: the reader's hot path reuses `out`.
Status AppendUtf8(std::string_view bytes, int code_page, std::string& out);

// UTF-8 to bytes in `code_page`. Fails (kInvalidArgument) naming the first
// character the code page cannot represent, or on invalid UTF-8; never
// substitutes.
Result<std::string> FromUtf8(std::string_view utf8, int code_page);

}  // namespace corvane::paradox
