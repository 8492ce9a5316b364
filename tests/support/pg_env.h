// The throwaway PostgreSQL that scripts/test.sh starts, read from the
// environment. Tests that need it skip with a clear message without it.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "connection/connection_strings.h"

namespace corvane::testing {

inline std::optional<ConnectionSettings> TestPostgres() {
  const char* host = std::getenv("CORVANE_TEST_PGHOST");
  const char* port = std::getenv("CORVANE_TEST_PGPORT");
  const char* user = std::getenv("CORVANE_TEST_PGUSER");
  const char* db = std::getenv("CORVANE_TEST_PGDATABASE");
  const char* pw = std::getenv("CORVANE_TEST_PGPASSWORD");
  if (!host || !port || !user || !db) return std::nullopt;
  ConnectionSettings s;
  s.server = host;
  s.port = port;
  s.user = user;
  s.password = pw ? pw : "";
  s.database = db;
  return s;
}

}  // namespace corvane::testing

// Skips the test when no throwaway PostgreSQL is around.
#define CORVANE_REQUIRE_POSTGRES(var)                                                \
  auto var##_opt = ::corvane::testing::TestPostgres();                               \
  if (!var##_opt) GTEST_SKIP() << "no test PostgreSQL: run through scripts/test.sh"; \
  const ::corvane::ConnectionSettings var = *var##_opt
