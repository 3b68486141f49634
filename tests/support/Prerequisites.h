#pragma once
// A test that lacks what it needs (the Firebird server, a configuration file
// it may write): in the test command (scripts/test.sh, which sets
// NEMVO_REQUIRE_TEST_PREREQUISITES) it fails, so that nothing goes untested
// unnoticed; in a developer's own build it is skipped, with one line that
// says what is missing and how to get it.
#include <gtest/gtest.h>

#include <cstdlib>

namespace nemvo::testing {

inline bool PrerequisitesRequired() {
  const char* value = std::getenv("NEMVO_REQUIRE_TEST_PREREQUISITES");
  return value && *value;
}

}  // namespace nemvo::testing

// Use in a test body or SetUp: returns from it when `condition` is false.
#define NEMVO_REQUIRE(condition, what)                          \
  if (!(condition)) {                                           \
    if (::nemvo::testing::PrerequisitesRequired()) FAIL() << what; \
    GTEST_SKIP() << what;                                       \
  }
