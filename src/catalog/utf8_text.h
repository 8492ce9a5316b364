// Small UTF-8 helpers for names read from the file system.
#pragma once

#include <string>

namespace corvane::catalog {

// Decodes the code point at `i` and moves past it; an invalid byte gives -1
// and moves one byte.
long NextCodePoint(const std::string& s, size_t& i);

// Length in UTF-16 code units, as the original platform counted (invalid
// bytes count one each).
size_t Utf16Length(const std::string& text);

// Upper case letter by letter over all of Unicode (the C.UTF-8 tables;
// ASCII only where those are missing). Invalid bytes stay as they are.
std::string UpperCase(const std::string& s);

}  // namespace corvane::catalog
