// The built filter with the real interpreter: PostScript jobs become PNG
// rasters of the configured size and colour mode.

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "tests/support/files.h"
#include "tests/support/filter_process.h"
#include "tests/support/private_etc.h"

namespace ravo_test {
namespace {

struct PngHeader {
  bool valid = false;
  uint32_t width = 0;
  uint32_t height = 0;
  int bit_depth = 0;
  int colour_type = 0;  // 0 grey, 2 RGB
};

uint32_t big_endian(const std::string& bytes, size_t at) {
  uint32_t value = 0;
  for (size_t i = 0; i < 4; ++i) value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
  return value;
}

PngHeader read_png_header(const std::string& png) {
  PngHeader header;
  if (png.size() < 33 || png.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0 ||
      png.compare(12, 4, "IHDR") != 0) {
    return header;
  }
  header = {true, big_endian(png, 16), big_endian(png, 20), png[24], png[25]};
  return header;
}

// How many whole PNG files `stream` is, one after another and nothing else;
// -1 when anything else is in it.
int count_png_files(const std::string& stream) {
  int files = 0;
  size_t at = 0;
  while (at < stream.size()) {
    if (stream.compare(at, 8, "\x89PNG\r\n\x1a\n") != 0) return -1;
    at += 8;
    for (bool end = false; !end;) {  // chunks: length, type, data, CRC
      if (stream.size() - at < 12) return -1;
      const size_t length = big_endian(stream, at);
      end = stream.compare(at + 4, 4, "IEND") == 0;
      if (stream.size() - at - 12 < length) return -1;
      at += 12 + length;
    }
    ++files;
  }
  return files;
}

bool have_ghostscript() { return std::system("command -v gs >/dev/null 2>&1") == 0; }

class GhostscriptTest : public PrivateEtcTest {
 protected:
  void SetUp() override {
    PrivateEtcTest::SetUp();
    if (IsSkipped() || HasFailure()) return;
    RAVO_REQUIRE(have_ghostscript(), "gs is not installed");
  }

  static std::string test_page() { return read_file(EXAMPLES_DIR "/testpage.ps"); }
};

TEST_F(GhostscriptTest, DefaultsGiveA4At360DpiInColour) {
  for (const std::string& prefix : {std::string(), std::string("\x04")}) {
    SCOPED_TRACE(prefix.empty() ? "plain" : "after Ctrl-D");
    const FilterResult got = run_filter(FilterRun{.job = prefix + test_page()});
    EXPECT_EQ(got.status, 0);
    const PngHeader png = read_png_header(got.output);
    ASSERT_TRUE(png.valid) << got.output.substr(0, 200) << got.messages;
    EXPECT_EQ(png.width, 2976u);
    EXPECT_EQ(png.height, 4209u);
    EXPECT_EQ(png.bit_depth, 8);
    EXPECT_EQ(png.colour_type, 2);
  }
}

TEST_F(GhostscriptTest, MonochromeA6At180Dpi) {
  put_settings("[Marven Jetto 412_519]\nink=MONO\nresolution=180\nmediasize=A6\n");
  const FilterResult got = run_filter(FilterRun{.job = test_page()});
  EXPECT_EQ(got.status, 0);
  EXPECT_EQ(got.messages, "");
  const PngHeader png = read_png_header(got.output);
  ASSERT_TRUE(png.valid) << got.messages;
  EXPECT_EQ(png.width, 744u);
  EXPECT_EQ(png.height, 1049u);
  EXPECT_EQ(png.bit_depth, 8);
  EXPECT_EQ(png.colour_type, 0);
}

TEST_F(GhostscriptTest, TheJobsOwnTextGoesToTheLogNotThePrinter) {
  const FilterResult got = run_filter(
      FilterRun{.job = "%!PS\n(\033%-12345X@PJL JOB) print (to the printer) =\nshowpage\n"});
  EXPECT_EQ(got.status, 0);
  EXPECT_EQ(count_png_files(got.output), 1) << got.output.size() << " bytes";
  EXPECT_NE(got.messages.find("\033%-12345X@PJL JOB"), std::string::npos) << got.messages;
  EXPECT_NE(got.messages.find("to the printer"), std::string::npos) << got.messages;
}

TEST_F(GhostscriptTest, ABrokenJobFailsWithTheReasonInTheLog) {
  const FilterResult got = run_filter(FilterRun{.job = "%!PS\nundefinedthing\n"});
  EXPECT_EQ(got.status, 3);
  EXPECT_EQ(got.output, "");
  EXPECT_NE(got.messages.find("/undefined in undefinedthing"), std::string::npos) << got.messages;
  EXPECT_TRUE(got.messages.ends_with("rasterising : gs exited with status 1\n")) << got.messages;
}

}  // namespace
}  // namespace ravo_test
