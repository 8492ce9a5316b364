// Paradox table names hold at most 8 characters, counted as UTF-16 code
// units (as the system the names come from counts them).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace corvane::transfer {

inline constexpr size_t kParadoxNameUnits = 8;

// UTF-16 code units of UTF-8 text (a stray byte counts as one).
size_t Utf16Length(std::string_view text);

// The longest start of `text` of at most `units` UTF-16 code units. A
// character that needs two units is never split: when only one unit is
// left for it, it is left out (a lone half would be no character).
std::string FirstUtf16Units(std::string_view text, size_t units);

// Upper-cases UTF-8 text with Unicode case mapping, whatever the process
// locale; bytes that are not UTF-8 stay as they are.
std::string UpperCase(std::string_view text);

// The "Continue?" question for a name longer than 8 units.
std::string TrimQuestionText(const std::string& name);

}  // namespace corvane::transfer
