// The seed of a test's random moments. CORVANE_TEST_SEED replays a run;
// without it each run draws one. Printed either way, and kept in the test's
// XML record, so a failure names the seed that made it.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

namespace corvane::testing {

inline unsigned TestSeed() {
  const char* given = std::getenv("CORVANE_TEST_SEED");
  const unsigned seed = given && *given ? static_cast<unsigned>(std::strtoul(given, nullptr, 10))
                                        : std::random_device{}();
  std::printf("seed %u (CORVANE_TEST_SEED=%u replays it)\n", seed, seed);
  std::fflush(stdout);
  ::testing::Test::RecordProperty("seed", std::to_string(seed));
  return seed;
}

}  // namespace corvane::testing
