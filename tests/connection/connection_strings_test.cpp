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

TEST(ConnectionStrings, SemicolonInPasswordEndsItAsADriverReadsIt) {
  ConnectionSettings s{"", "h", "1", "u", "se;cret=x", "d"};
  auto attrs = ParseConnectionString(PostgresConnectionString(s));
  EXPECT_EQ(attrs["pwd"], "se");
  EXPECT_EQ(attrs["cret"], "x");
  EXPECT_EQ(attrs["driver"], "PostgreSQL Unicode");
  EXPECT_EQ(attrs["database"], "d");
}

TEST(ConnectionStrings, ParsesBracesAndCaseInsensitiveKeys) {
  auto attrs = ParseConnectionString(
      "Driver={Microsoft Paradox Driver (*.db )};DriverID=538;DEFAULTDIR=/a;b;Dbq=/x;");
  EXPECT_EQ(attrs["driver"], "Microsoft Paradox Driver (*.db )");
  EXPECT_EQ(attrs["defaultdir"], "/a");
  EXPECT_EQ(attrs["dbq"], "/x");
  EXPECT_EQ(ParseConnectionString("Pwd={a;b}")["pwd"], "a;b");
}

}  // namespace
}  // namespace corvane
