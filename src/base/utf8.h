// UTF-8 text helpers shared by the layers: Unicode case mapping and
// collation (ICU) whatever the process locale, and lengths counted in
// UTF-16 code units as the platform the names come from counts them. Bytes
// that are not UTF-8 are never dropped: each stands for itself.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace corvane::utf8 {

// Decodes the code point at text[i] and moves past it; a byte that starts
// no valid sequence (also an overlong form, a surrogate or a value past
// U+10FFFF) gives -1 and moves one byte.
long NextCodePoint(std::string_view text, size_t& i);
void AppendCodePoint(std::string& out, long code_point);

long LowerCodePoint(long code_point);
long UpperCodePoint(long code_point);
std::string LowerCase(std::string_view text);
std::string UpperCase(std::string_view text);

// Alphabetical order ignoring case (Unicode's root collation, accents
// counted after letters: "Apfel" < "Über" < "Zebra"): < 0, 0 or > 0.
int CompareIgnoringCase(std::string_view a, std::string_view b);
// Bytes that order as CompareIgnoringCase does when compared as strings:
// sorting thousands of names by them collates each name once.
std::string CollationKey(std::string_view text);

// True when every byte belongs to a valid UTF-8 sequence.
bool IsValid(std::string_view text);
// The text with each byte that is not UTF-8 written as \xNN, for messages.
std::string Printable(std::string_view text);

// True when every byte is below 0x80. Long texts (memos) are looked at a
// block of bytes at a time.
bool IsAscii(std::string_view text);

// UTF-16 code units of the text (a stray byte counts as one).
size_t Utf16Length(std::string_view text);
// The longest start of `text` of at most `units` UTF-16 code units; a
// character that needs two units is never split.
std::string FirstUtf16Units(std::string_view text, size_t units);

}  // namespace corvane::utf8
