#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

namespace quenby::testing {

/// Runs each test in a fixed time zone without daylight saving, restoring the previous
/// zone afterwards. POSIX "XXX-1" is one hour east of UTC.
class FixedZoneTest : public ::testing::Test {
 protected:
  explicit FixedZoneTest(const char* zone = "QNB-1") : zone_(zone) {}

  void SetUp() override {
    if (const char* previous = std::getenv("TZ"))
      previous_ = previous;
    setenv("TZ", zone_, 1);
    tzset();
  }

  void TearDown() override {
    if (previous_)
      setenv("TZ", previous_->c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
  }

 private:
  const char* zone_;
  std::optional<std::string> previous_;
};

}  // namespace quenby::testing
