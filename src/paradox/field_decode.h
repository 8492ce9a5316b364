// Decoding of one record field (everything but blob fields) into the fixed
// text form of its kind. Internal to the reader.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/status.h"
#include "paradox/format.h"

namespace corvane::paradox {

// Decodes the field `f` whose record bytes start at `p` (f.size bytes) into
// `cell`. Fails with the reason (no file name: the caller adds it) when the
// bytes hold no value of the type, e.g. a time past midnight.
Status DecodeScalarField(const FieldInfo& f, const unsigned char* p, int code_page, Cell& cell);

// Fixed text forms, appended to `out`.
// Day number 1 = 0001-01-01; years before 1 as PostgreSQL writes them.
void AppendDate(int64_t day, std::string& out);
// The same without the era; returns true when the date is BC.
bool AppendDateDigits(int64_t day, std::string& out);
// Milliseconds since midnight, 0 .. 86399999.
void AppendTime(int64_t ms, std::string& out);
// "\x" and lower-case hex, PostgreSQL's bytea form.
void AppendHex(const unsigned char* p, size_t n, std::string& out);
// The same without the "\\x" in front: the digits of a further piece.
void AppendHexDigits(const unsigned char* p, size_t n, std::string& out);

}  // namespace corvane::paradox
