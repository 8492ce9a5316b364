#include "connection/connection_strings.h"

#include <gtest/gtest.h>

namespace corvane {
namespace {

TEST(ConnectionStrings, PostgresIsExact) {
  ConnectionSettings s{"", "localhost", "5432", "bob", "pw", "shop"};
  EXPECT_EQ(PostgresConnectionString(s),
            "Driver={PostgreSQL Unicode};Server=localhost;Port=5432;Uid=bob;Pwd=pw;Database=shop");
  EXPECT_EQ(PostgresConnectionString(ConnectionSettings{}),
            "Driver={PostgreSQL Unicode};Server=;Port=;Uid=;Pwd=;Database=");
}

TEST(ConnectionStrings, ParadoxUsesTheFolderAsTyped) {
  ConnectionSettings s;
  s.paradox_folder = "C:\\Data";
  EXPECT_EQ(ParadoxConnectionString(s),
            "Driver={Microsoft Paradox Driver (*.db )};DriverID=538;Fil=Paradox 5.X;"
            "DefaultDir=C:\\Data;Dbq=C:\\Data;CollatingSequence=ASCII;");
  s.paradox_folder = "/data/px/";
  EXPECT_NE(ParadoxConnectionString(s).find("DefaultDir=/data/px/;Dbq=/data/px/;"),
            std::string::npos);
}

// Whatever a field holds comes back from the driver's reading as that one
// value, and no value can set another key.
TEST(ConnectionStrings, EveryValueReadsBackWhole) {
  const std::string kValues[] = {"p;Port=1;x}", "x;Port=55499", "{braced}", "}}", "a=b",
                                 " padded ", "{", "}", "plain", "", "tab\t", "ünï;cödé"};
  for (const std::string& v : kValues) {
    ConnectionSettings s{v, "h" + v, "1", "u", v, "d" + v};
    auto attrs = ParseConnectionString(PostgresConnectionString(s));
    EXPECT_EQ(attrs["pwd"], v);
    EXPECT_EQ(attrs["server"], "h" + v);
    EXPECT_EQ(attrs["port"], "1") << v;
    EXPECT_EQ(attrs["database"], "d" + v);
    EXPECT_EQ(attrs.size(), 6u) << PostgresConnectionString(s);
    auto px = ParseConnectionString(ParadoxConnectionString(s));
    EXPECT_EQ(px["defaultdir"], v);
    EXPECT_EQ(px["dbq"], v);
    EXPECT_EQ(ParseConnectionString(StagingConnectionString(v))["data source"], v);
  }
  EXPECT_EQ(QuoteConnectionValue("p;Port=1;x}"), "{p;Port=1;x}}}");
}

TEST(ConnectionStrings, ParsesBracesAndCaseInsensitiveKeys) {
  auto attrs = ParseConnectionString(
      "Driver={Microsoft Paradox Driver (*.db )};DriverID=538;DEFAULTDIR=/a;b;Dbq=/x;");
  EXPECT_EQ(attrs["driver"], "Microsoft Paradox Driver (*.db )");
  EXPECT_EQ(attrs["defaultdir"], "/a");
  EXPECT_EQ(attrs["dbq"], "/x");
  EXPECT_EQ(ParseConnectionString("Pwd={a;b}")["pwd"], "a;b");
  EXPECT_EQ(ParseConnectionString("Pwd={a}}b};Uid=u")["pwd"], "a}b");
  EXPECT_EQ(ParseConnectionString("Pwd={open;Uid=u")["pwd"], "open;Uid=u");
}

}  // namespace
}  // namespace corvane
