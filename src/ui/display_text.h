// What a message box or a terminal shows of a message too long to read
// whole (a failure quoting a row with a 300 KB memo): the start and the end
// of the long part, with the number of characters left out between them.
// The whole text stays one click away in the box, or behind --verbose.
#pragma once

#include <string>

namespace corvane::ui {

// `text` as it should be shown. The statement after the failure text's
// "sql: " is kept to a few lines; any other text only when it is very long.
// Returns `text` unchanged when nothing needs leaving out.
std::string ShortenForDisplay(const std::string& text);

}  // namespace corvane::ui
