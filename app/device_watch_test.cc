#include "app/device_watch.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

namespace {

TEST(DeviceWatch, TellsWhyAFileDeviceCannotBeOpened) {
  char directory[] = "/tmp/ravo-device-XXXXXX";
  ASSERT_NE(nullptr, mkdtemp(directory));
  const std::string here = std::string("file://") + directory;
  struct Case {
    std::string uri;
    bool unopenable;
    const char* reason;
  };
  const Case cases[] = {
      {here, false, ""},
      {here + "?ext=png", false, ""},
      {"file:///dev/null", false, ""},
      {here + "/absent/job.png", true, "No such file or directory"},
      {"file:///nonexistent-directory", true, "No such file or directory"},
      {"not a uri", true, "not a device URI"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.uri);
    char reason[256] = "";
    EXPECT_EQ(c.unopenable, device_unopenable(c.uri.c_str(), reason, sizeof reason));
    if (c.unopenable) {
      EXPECT_STREQ(c.reason, reason);
    }
  }
  // Looking made no file there.
  EXPECT_EQ(0, rmdir(directory));
}

TEST(DeviceWatch, SaysTheDeviceAndTheReason) {
  char message[128];
  describe_wait("usb://Nobody/Nothing", "not found", message, sizeof message);
  EXPECT_STREQ(
      "Waiting for the printer: its device usb://Nobody/Nothing cannot be opened (not found)",
      message);
  char short_message[16];
  describe_wait("usb://Nobody/Nothing", "not found", short_message, sizeof short_message);
  EXPECT_STREQ("Waiting for the", short_message);
}

}  // namespace
