// Helpers for the tests of the PostgreSQL driver on the throwaway server.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "connection/connection.h"
#include "support/pg_env.h"

namespace corvane::testing {

inline std::unique_ptr<Connection> OpenPg(const ConnectionSettings& s, int command_timeout = 30) {
  auto c = std::make_unique<Connection>();
  c->options().command_timeout_s = command_timeout;
  Status st = c->Open(PostgresConnectionString(s));
  EXPECT_TRUE(st.ok()) << st.message();
  return c;
}

inline void Exec(Connection& c, const std::string& sql) {
  auto r = c.Execute(sql);
  ASSERT_TRUE(r.ok()) << sql << ": " << r.status().message();
}

// Every row of a query, each value its text or "<null>".
inline std::vector<std::vector<std::string>> Rows(Connection& c, const std::string& sql) {
  std::vector<std::vector<std::string>> out;
  auto r = c.Execute(sql);
  EXPECT_TRUE(r.ok()) << sql << ": " << r.status().message();
  if (!r.ok()) return out;
  RecordSet& rs = *r.value();
  for (int64_t i = 0; i < rs.RecordCount(); ++i) {
    std::vector<std::string> row;
    for (int f = 0; f < rs.FieldCount(); ++f) {
      const Value& v = rs.FieldValue(f);
      row.push_back(v.is_null() ? "<null>" : v.text());
    }
    out.push_back(std::move(row));
    EXPECT_TRUE(rs.MoveNext().ok());
  }
  EXPECT_TRUE(rs.Eof());
  rs.Close();
  return out;
}

inline std::vector<std::string> Column(Connection& c, const std::string& sql) {
  std::vector<std::string> out;
  for (auto& row : Rows(c, sql)) out.push_back(row.at(0));
  return out;
}

}  // namespace corvane::testing
