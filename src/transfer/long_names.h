// Paradox table names hold at most 8 characters, counted as UTF-16 code
// units (as the system the names come from counts them).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "base/utf8.h"

namespace corvane::transfer {

inline constexpr size_t kParadoxNameUnits = 8;

// Names are counted and cut in UTF-16 code units (see base/utf8.h).
using utf8::FirstUtf16Units;
using utf8::UpperCase;
using utf8::Utf16Length;

// The "Continue?" question for a name longer than 8 units.
std::string TrimQuestionText(const std::string& name);

}  // namespace corvane::transfer
