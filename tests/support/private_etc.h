// Gives a test process a private view of /etc, so that tests can make the
// filter's fixed settings file absent or give it chosen content without ever
// touching the host's /etc. The filter, started by the test, inherits it.

#ifndef RAVO_TESTS_SUPPORT_PRIVATE_ETC_H_
#define RAVO_TESTS_SUPPORT_PRIVATE_ETC_H_

#include <gtest/gtest.h>

#include <string>

namespace ravo_test {

inline constexpr char SETTINGS_FILE[] = "/etc/ravorc";

// Moves this process into a private mount namespace (inside a user namespace
// when not root) whose /etc is a writable overlay of the host's. Call it while
// the process has one thread. Returns an empty string, or why it failed.
std::string enter_private_etc();

// Writes the settings file in the private /etc, or removes it.
void put_settings(const std::string& content);
void remove_settings();

// Whether the tests run under CI ($CI is "true"), where every prerequisite is
// installed and a missing one is a failure.
bool under_ci();

// Ends the current test unless `available`: a failure under CI, a skip
// elsewhere. For SetUp and test bodies.
#define RAVO_REQUIRE(available, why)                \
  do {                                              \
    if (!(available)) {                             \
      if (::ravo_test::under_ci()) FAIL() << (why); \
      GTEST_SKIP() << (why);                        \
    }                                               \
  } while (false)

// Tests that touch the settings file. Each starts without one. Where the
// private /etc could not be made they are skipped, and under CI they fail.
class PrivateEtcTest : public testing::Test {
 public:
  static std::string* setup_error;  // set by main before the tests run

 protected:
  void SetUp() override;
};

}  // namespace ravo_test

#endif  // RAVO_TESTS_SUPPORT_PRIVATE_ETC_H_
