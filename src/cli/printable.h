// Names as a terminal may show them: a name may hold any character the file
// system or the server allows, and a newline or escape sequence in it must
// neither split a line of output nor drive the terminal.
#pragma once

#include <string>

namespace corvane::cli {

// `text` with backslash, control characters (below 32, 127, and U+0080 to
// U+009F) and bytes that are not UTF-8 written as escapes: \\ \n \r \t, and
// \xNN for the rest. Everything else, non-ASCII letters too, is kept.
std::string Printable(const std::string& text);

// For messages, whose lines and blanks are their own: like Printable, but
// newlines, tabs and backslashes are kept as they are.
std::string SafeForTerminal(const std::string& text);

}  // namespace corvane::cli
