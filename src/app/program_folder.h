// Where the program's own files live, and the small file test of the
// original Main module.
#pragma once

#include <string>

namespace corvane::app {

// The folder of the running executable, without a trailing "/" except for
// the root. CORVANE_PROGRAM_DIR overrides it (tests run from elsewhere).
std::string ProgramFolder();

// True when the modification time of the path can be read; never throws.
bool FileExists(const std::string& path);

// The product name cut as the title rule says: at least one cut at the last
// blank, repeated while longer than 40 characters. A name that runs out of
// blanks keeps what it has (a one-word name keeps its whole text).
std::string ApplicationTitleFor(const std::string& product_name);

inline constexpr const char* kProductName = "Corvane";

}  // namespace corvane::app
