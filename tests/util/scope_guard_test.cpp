#include "util/scope_guard.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace quenby {
namespace {

using ::testing::ThrowsMessage;

TEST(ScopeGuardTest, RunsWhenTheScopeEndsUnlessDismissed) {
  int runs = 0;
  {
    TScopeGuard guard([&] { ++runs; });
  }
  EXPECT_EQ(runs, 1);
  EXPECT_THROW(
      {
        TScopeGuard guard([&] { ++runs; });
        throw std::runtime_error("leaving");
      },
      std::runtime_error);
  EXPECT_EQ(runs, 2);
  {
    TScopeGuard guard([&] { ++runs; });
    guard.Dismiss();
  }
  EXPECT_EQ(runs, 2);
}

// The rules of a finally block: cleanup once on every way out, and a failing cleanup's
// exception is the one that leaves.
TEST(FinallyTest, CleanupRunsOnceAndItsFailureReplacesTheBodys) {
  std::string log;
  EXPECT_EQ(Finally(
                [&] {
                  log += "body ";
                  return 7;
                },
                [&] { log += "cleanup"; }),
            7);
  EXPECT_EQ(log, "body cleanup");

  int cleanups = 0;
  auto failing_body = [] { throw std::runtime_error("body"); };
  EXPECT_THAT([&] { Finally(failing_body, [&] { ++cleanups; }); },
              ThrowsMessage<std::runtime_error>("body"));
  auto failing_cleanup = [&] {
    ++cleanups;
    throw std::logic_error("cleanup");
  };
  EXPECT_THAT([&] { Finally(failing_body, failing_cleanup); },
              ThrowsMessage<std::logic_error>("cleanup"));
  EXPECT_THAT([&] { Finally([] {}, failing_cleanup); }, ThrowsMessage<std::logic_error>("cleanup"));
  EXPECT_EQ(cleanups, 3);
}

}  // namespace
}  // namespace quenby
