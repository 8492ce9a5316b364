// Moving a large value out of a buffer that is about to be freed (one that
// a library allocated and we cannot adopt), without the value being
// resident twice meanwhile.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace corvane {

// A copy of [data, data + size) in a string of its own. The source pages
// already copied are given back to the system as the copy goes, so memory
// grows by little more than one piece; the source must only be freed
// afterwards, never read (what was given back reads as zeros).
std::string MoveOutOf(char* data, size_t size);
// The same, the bytes written as "\\x" and lower-case hex (bytea's text).
std::string HexOutOf(char* data, size_t size);
// `bytes` as lower-case hex, after what `out` holds.
void AppendHex(std::string& out, std::string_view bytes);
// `bytes` as bytea's text: "\\x" and lower-case hex.
std::string HexText(std::string_view bytes);

}  // namespace corvane
