// A light lexical scan of PostgreSQL statement text: enough to tell whether
// the text holds more than one statement and what kind the first one is,
// without parsing SQL. Quoted strings ('', E'' with backslash escapes),
// quoted identifiers, dollar quotes ($$ and $tag$) and comments (-- and
// nested /* */) are stepped over, so a ";" inside them separates nothing.
// Plain '' strings take no backslash escapes: every connection runs with
// standard_conforming_strings on.
#pragma once

#include <string>
#include <string_view>

namespace corvane {

struct StatementScan {
  // False when something other than blanks and comments follows the first
  // ";" that stands outside quotes and comments.
  bool single = true;
  // The text of the first statement, without its ";" and what follows.
  std::string_view body;
  // The first word of the statement, upper-cased ASCII ("SELECT", "WITH");
  // opening parentheses before it are skipped. Empty when there is none.
  std::string first_word;
};

StatementScan ScanStatement(std::string_view sql);

}  // namespace corvane
