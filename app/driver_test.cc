#include "app/driver.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

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

// "Print Test Page": a whole PostScript page in the spool, naming the printer
// and what it prints with, or nothing where the spool cannot take it.
TEST(DriverTest, WritesATestPageNamingThePrinterAndItsDefaults) {
  char spool[] = "/tmp/ravo-testpage-XXXXXX";
  ASSERT_NE(mkdtemp(spool), nullptr);
  pappl_system_t* system = papplSystemCreate(PAPPL_SOPTIONS_MULTI_QUEUE, "test", 0, nullptr, spool,
                                             "/dev/null", PAPPL_LOGLEVEL_FATAL, nullptr, false);
  ASSERT_NE(system, nullptr);
  papplSystemSetPrinterDrivers(system, 1, drivers, autoadd_driver, nullptr, setup_driver, nullptr);
  pappl_printer_t* printer =
      papplPrinterCreate(system, 0, "upstairs (hall)", DRIVER_NAME, "MFG:Marven;MDL:Jetto 412_519;",
                         "file:///dev/null");
  ASSERT_NE(printer, nullptr);
  pappl_pr_driver_data_t data;
  papplPrinterGetDriverData(printer, &data);
  ASSERT_NE(data.testpage_cb, nullptr);

  char file[1024] = "";
  const char* written = data.testpage_cb(printer, file, sizeof file);
  ASSERT_EQ(written, file);
  std::ifstream in(file);
  std::stringstream page;
  page << in.rdbuf();
  const std::string text = page.str();
  EXPECT_EQ(text.rfind("%!PS-Adobe-3.0\n", 0), 0U);
  EXPECT_EQ(text.substr(text.size() - 9), "showpage\n");
  for (const char* line : {"(Printer: upstairs \\(hall\\) \\(Marven Jetto 412_519\\))",
                           "(Media: iso_a4_210x297mm \\(A4\\))", "(Source: auto, with margins)",
                           "(Resolution: 360 dpi)", "(Colour mode: color)"}) {
    EXPECT_NE(text.find(line), std::string::npos) << line << " in\n" << text;
  }
  unlink(file);

  // A spool that is no longer a directory, which stops root too.
  ASSERT_EQ(rmdir(spool), 0);
  std::ofstream(spool).put('x');
  chmod(spool, 0600);
  EXPECT_EQ(data.testpage_cb(printer, file, sizeof file), nullptr);
  papplSystemDelete(system);
  unlink(spool);
}

}  // namespace
