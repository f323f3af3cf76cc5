// The entry of the end-to-end tests: the private /etc is made while the
// process still has one thread, before the test framework starts.

#include <gtest/gtest.h>

#include "tests/support/private_etc.h"

int main(int argc, char** argv) {
  static std::string setup_error = ravo_test::enter_private_etc();
  ravo_test::PrivateEtcTest::setup_error = &setup_error;
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
