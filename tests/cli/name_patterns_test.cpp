// Shell-style patterns among the table names typed on the command line.
#include "cli/name_patterns.h"

#include <gtest/gtest.h>

namespace corvane::cli {
namespace {

using Names = std::vector<std::string>;

TEST(NamePatternsTest, PatternsBecomeTheNamesTheyMatch) {
  const Names paradox{"CUSTOMER", "Custlist", "ORDERS", "cust[1]", "PARTS"};
  const Names postgres{"customer", "CUSTOMER", "orders", "sales.customer", "sales.cust"};
  struct Case {
    Names typed;
    bool any_case;
    Names want;
  };
  const Case cases[] = {
      {{"CUST*"}, true, {"CUSTOMER", "Custlist", "cust[1]"}},   // case folds for Paradox
      {{"cust*"}, false, {"customer"}},                          // not for PostgreSQL
      {{"*"}, false, {"customer", "CUSTOMER", "orders", "sales.customer", "sales.cust"}},
      {{"sales.*"}, false, {"sales.customer", "sales.cust"}},
      {{"?RDERS"}, true, {"ORDERS"}},
      {{"[OP]*"}, true, {"ORDERS", "PARTS"}},
      {{"NOPE*"}, true, {"NOPE*"}},                             // told as not found
      {{"PARTS", "ORDERS"}, true, {"PARTS", "ORDERS"}},         // plain names as typed
      {{"missing"}, false, {"missing"}},
      {{"cust[1]"}, true, {"cust[1]"}},                         // a real name is not a pattern
      {{"CUST*", "CUSTOMER*"}, true, {"CUSTOMER", "Custlist", "cust[1]"}},  // each once
  };
  for (const Case& c : cases) {
    const Names& list = c.any_case ? paradox : postgres;
    EXPECT_EQ(ExpandPatterns(c.typed, list, c.any_case), c.want) << c.typed.front();
  }
}

}  // namespace
}  // namespace corvane::cli
