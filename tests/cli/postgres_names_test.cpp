// How the command line names PostgreSQL tables and finds them again.
#include "cli/postgres_names.h"

#include <gtest/gtest.h>

#include "ui/memory_surfaces.h"

namespace corvane::cli {
namespace {

struct Entry {
  const char* schema;
  const char* table;
};
constexpr Entry kEntries[] = {
    {"public", "dup"}, {"sales", "dup"},     {"archive", "dup"},        {"public", "a.b"},
    {"a", "b"},        {"x", "y.z"},         {"public", "Orders"},      {"s", "q\"t"},
    {"public", "m.n"}, {"public", "\"lead"}, {"pg_catalog", "pg_class"}};

ui::MemoryTableList Listed() {
  ui::MemoryTableList list;
  for (const Entry& e : kEntries) list.AddInSchema(e.table, e.schema);
  return list;
}

// Every entry's printed name finds that entry again, whatever the first
// schema: what `tables --postgres` prints, the copy commands take back.
TEST(PostgresNames, EveryPrintedNameFindsItsOwnEntry) {
  const ui::MemoryTableList list = Listed();
  for (const char* first : {"public", "sales", ""}) {
    for (int i = 0; i < list.Count(); ++i) {
      const std::string printed = CommandLineName(list, i, first);
      Result<int> found = FindPostgresEntry(list, printed, first, false);
      ASSERT_TRUE(found.ok()) << printed << " (first " << first
                              << "): " << found.status().message();
      EXPECT_EQ(found.value(), i) << printed;
    }
  }
  EXPECT_EQ(CommandLineName("public", "dup", "public"), "dup");
  EXPECT_EQ(CommandLineName("sales", "dup", "public"), "sales.dup");
  EXPECT_EQ(CommandLineName("public", "a.b", "public"), "\"a.b\"");
  EXPECT_EQ(CommandLineName("s", "q\"t", "public"), "s.q\"t");
  EXPECT_EQ(CommandLineName("public", "\"x", "public"), "\"\"\"x\"");
  EXPECT_EQ(CommandLineName("public", "\"x", "public"), "\"\"\"x\"");
}

TEST(PostgresNames, TypedNamesMeanOneTableOrAreRefused) {
  const ui::MemoryTableList list = Listed();
  struct Case {
    const char* typed;
    const char* first;
    bool ignore_case;
    const char* schema;  // of the entry found; nullptr: refused
    Status::Code refusal;
  };
  const Case cases[] = {
      {"dup", "public", false, "public", Status::Code::kOk},
      {"dup", "elsewhere", false, nullptr, Status::Code::kInvalidArgument},  // three schemas
      {"sales.dup", "public", false, "sales", Status::Code::kOk},
      {"\"sales\".\"dup\"", "public", false, "sales", Status::Code::kOk},
      {"a.b", "public", false, "a", Status::Code::kOk},  // as SQL reads it
      {"x.y", "public", false, nullptr, Status::Code::kNotFound},
      {"m.n", "public", false, "public", Status::Code::kOk},  // no schema m: the whole name
      {"\"a.b\"", "public", false, "public", Status::Code::kOk},
      {"a.\"b\"", "public", false, "a", Status::Code::kOk},
      {"x.y.z", "public", false, "x", Status::Code::kOk},
      {"orders", "public", false, nullptr, Status::Code::kNotFound},
      {"orders", "public", true, "public", Status::Code::kOk},
      {"SALES.DUP", "public", true, "sales", Status::Code::kOk},
      {"nosuch.dup", "public", true, nullptr, Status::Code::kNotFound},
      {"\"unclosed", "public", false, nullptr, Status::Code::kNotFound},
  };
  for (const Case& c : cases) {
    Result<int> found = FindPostgresEntry(list, c.typed, c.first, c.ignore_case);
    if (c.schema == nullptr) {
      EXPECT_EQ(found.status().code(), c.refusal) << c.typed;
    } else {
      ASSERT_TRUE(found.ok()) << c.typed << ": " << found.status().message();
      EXPECT_EQ(list.Schema(found.value()), c.schema) << c.typed;
    }
  }
  // A refusal names what the name could mean.
  Result<int> refused = FindPostgresEntry(list, "dup", "elsewhere", false);
  EXPECT_NE(refused.status().message().find("sales.dup"), std::string::npos);
  EXPECT_NE(refused.status().message().find("archive.dup"), std::string::npos);

  EXPECT_TRUE(IsSystemSchema("pg_catalog"));
  EXPECT_TRUE(IsSystemSchema("pg_toast_temp_1"));
  EXPECT_TRUE(IsSystemSchema("information_schema"));
  EXPECT_FALSE(IsSystemSchema("public"));
  EXPECT_FALSE(IsSystemSchema("pgsales"));
}

}  // namespace
}  // namespace corvane::cli
