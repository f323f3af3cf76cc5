#include "app/driver.h"

#include <gtest/gtest.h>

namespace {

// Which device IDs PAPPL's auto-add gives this driver: the maker exactly, the
// model anywhere in its field, by the short keys or the long ones.
TEST(DriverTest, AutoAddsOnlyTheJettoByItsDeviceId) {
  struct Case {
    const char* device_id;  // null: none
    bool ours;
  };
  const Case cases[] = {
      {"MFG:Marven;MDL:Jetto 412_519;", true},
      {"MANUFACTURER:Marven;MODEL:Jetto 412_519;CMD:PNG;", true},
      {"MFG:Marven;MDL:Marven Jetto 412_519 II;", true},
      {"CMD:PNG;MDL:Jetto 412_519;MFG:Marven;", true},
      {"MFG:Marvens;MDL:Jetto 412_519;", false},
      {"MFG:Marve;MDL:Jetto 412_519;", false},
      {"MFG:Other;MDL:Jetto 412_519;", false},
      {"MFG:Marven;MDL:Jetto 412;", false},
      {"MFG:Marven;", false},
      {"MDL:Jetto 412_519;", false},
      {"", false},
      {nullptr, false},
  };
  for (const Case& c : cases) {
    const char* driver = autoadd_driver("", "usb://x", c.device_id, nullptr);
    if (c.ours) {
      EXPECT_STREQ(driver, DRIVER_NAME) << (c.device_id != nullptr ? c.device_id : "(null)");
    } else {
      EXPECT_EQ(driver, nullptr) << (c.device_id != nullptr ? c.device_id : "(null)");
    }
  }
}

// The test page shows the printer's name and settings as they are, whatever
// they hold: PostScript's specials are escaped, and nothing else is.
TEST(DriverTest, WritesTextAsAPostScriptString) {
  const struct {
    const char* text;
    const char* written;
  } cases[] = {
      {"", "()"},
      {"Marven Jetto 412_519", "(Marven Jetto 412_519)"},
      {"upstairs (by the door)", "(upstairs \\(by the door\\))"},
      {"a ( alone", "(a \\( alone)"},
      {"C:\\spool", "(C:\\\\spool)"},
  };
  for (const auto& c : cases) {
    char buffer[128] = "";
    FILE* out = fmemopen(buffer, sizeof buffer, "w");
    ASSERT_NE(out, nullptr);
    put_ps_string(out, c.text);
    std::fclose(out);
    EXPECT_STREQ(buffer, c.written) << c.text;
  }
}

}  // namespace
