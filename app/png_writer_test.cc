#include "app/png_writer.h"

#include <gtest/gtest.h>
#include <png.h>

#include <string>
#include <vector>

namespace {

struct Decoded {
  uint32_t width = 0;
  uint32_t height = 0;
  bool grey = false;
  std::vector<uint8_t> pixels;
};

bool append(void* context, const void* data, size_t size) {
  static_cast<std::string*>(context)->append(static_cast<const char*>(data), size);
  return true;
}

bool refuse(void* /*context*/, const void* /*data*/, size_t /*size*/) { return false; }

Decoded decode(const std::string& png) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  Decoded out;
  if (png_image_begin_read_from_memory(&image, png.data(), png.size()) == 0) return out;
  out.grey = (image.format & PNG_FORMAT_FLAG_COLOR) == 0;
  out.width = image.width;
  out.height = image.height;
  out.pixels.resize(PNG_IMAGE_SIZE(image));
  png_image_finish_read(&image, nullptr, out.pixels.data(), 0, nullptr);
  return out;
}

// Encodes a page of `in` whose every line is `line`, `lines` of them.
std::string encode(const InputPage& in, const std::vector<uint8_t>& line, uint32_t lines,
                   const OutputPage& page) {
  std::string png;
  PngWriter writer;
  EXPECT_TRUE(writer.start(in, page, PngSink{append, &png}));
  for (uint32_t y = 0; y < lines; ++y) EXPECT_TRUE(writer.line(line.data()));
  EXPECT_TRUE(writer.finish());
  return png;
}

TEST(PngWriterTest, GivesExactlyThePageSizeCroppingOrPaddingWithWhite) {
  struct Case {
    const char* name;
    InputPage in;
    std::vector<uint8_t> line;
    OutputPage page;
    std::vector<uint8_t> first_row;  // of the output
    std::vector<uint8_t> last_row;
  };
  const Case cases[] = {
      {"narrower and shorter, padded",
       {LineFormat::RGB8, 1, 1},
       {10, 20, 30},
       {2, 2, false, 1},
       {10, 20, 30, 255, 255, 255},
       {255, 255, 255, 255, 255, 255}},
      {"wider and taller, cropped",
       {LineFormat::RGB8, 3, 4},
       {1, 2, 3, 4, 5, 6, 7, 8, 9},
       {2, 2, false, 1},
       {1, 2, 3, 4, 5, 6},
       {1, 2, 3, 4, 5, 6}},
      {"colour to grey",
       {LineFormat::RGB8, 2, 1},
       {255, 0, 0, 0, 0, 255},
       {2, 1, true, 1},
       {77, 29},
       {77, 29}},
      {"grey to colour", {LineFormat::GREY8, 1, 1}, {7}, {1, 1, false, 1}, {7, 7, 7}, {7, 7, 7}},
      {"16-bit grey keeps the high byte",
       {LineFormat::GREY16, 1, 1},
       {0x12, 0x34},
       {1, 1, true, 9},
       {0x12},
       {0x12}},
      {"8-bit black inverted",
       {LineFormat::BLACK8, 2, 1},
       {0, 255},
       {2, 1, true, 1},
       {255, 0},
       {255, 0}},
      {"1-bit black",
       {LineFormat::BLACK1, 3, 1},
       {0xA0},
       {3, 1, true, 1},
       {0, 255, 0},
       {0, 255, 0}},
      {"1-bit black past its first byte",
       {LineFormat::BLACK1, 12, 1},
       {0x01, 0x90},
       {12, 1, true, 1},
       {255, 255, 255, 255, 255, 255, 255, 0, 0, 255, 255, 0},
       {255, 255, 255, 255, 255, 255, 255, 0, 0, 255, 255, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Decoded out = decode(encode(c.in, c.line, c.in.height, c.page));
    ASSERT_EQ(out.width, c.page.width);
    ASSERT_EQ(out.height, c.page.height);
    EXPECT_EQ(out.grey, c.page.grey);
    const size_t row = out.pixels.size() / out.height;
    EXPECT_EQ(std::vector<uint8_t>(out.pixels.begin(), out.pixels.begin() + row), c.first_row);
    EXPECT_EQ(std::vector<uint8_t>(out.pixels.end() - row, out.pixels.end()), c.last_row);
  }
}

TEST(PngWriterTest, TurnsAPortraitPageOntoALandscapeSizeAnticlockwise) {
  // Two columns by three lines: left column black, right column white.
  const InputPage in{LineFormat::GREY8, 2, 3};
  const OutputPage page{3, 2, true, 1};
  ASSERT_TRUE(needs_turn(in, page));
  const Decoded out = decode(encode(in, {0, 255}, 3, page));
  ASSERT_EQ(out.width, 3u);
  ASSERT_EQ(out.height, 2u);
  // The right column becomes the top row.
  EXPECT_EQ(out.pixels, (std::vector<uint8_t>{255, 255, 255, 0, 0, 0}));
}

TEST(PngWriterTest, ReportsASinkThatRefuses) {
  PngWriter writer;
  const uint8_t line[3] = {0, 0, 0};
  const bool started = writer.start({LineFormat::RGB8, 1, 1}, {1, 1, false, 1}, {refuse, nullptr});
  const bool finished = started && writer.line(line) && writer.finish();
  EXPECT_FALSE(finished);
  EXPECT_TRUE(writer.failed());
}

}  // namespace

namespace {

TEST(PngWriterTest, RefusesWhatItCannotEncodeFaithfully) {
  struct Case {
    const char* name;
    InputPage in;
    OutputPage page;
    uint32_t lines;  // given before finish
    bool started;
    bool finished;
  };
  const Case cases[] = {
      {"every line", {LineFormat::GREY8, 4, 3}, {4, 3, true, 1}, 3, true, true},
      {"one line short", {LineFormat::GREY8, 4, 3}, {4, 3, true, 1}, 2, true, false},
      {"no lines at all", {LineFormat::RGB8, 4, 3}, {4, 3, false, 1}, 0, true, false},
      {"shorter than the page, whole", {LineFormat::GREY8, 4, 1}, {4, 3, true, 1}, 1, true, true},
      {"turned, one line short", {LineFormat::GREY8, 2, 3}, {3, 2, true, 1}, 2, true, false},
      {"no width", {LineFormat::GREY8, 0, 3}, {4, 3, true, 1}, 0, false, false},
      {"no height", {LineFormat::GREY8, 4, 0}, {4, 3, true, 1}, 0, false, false},
      {"turned, the largest landscape size at 720 dpi",
       {LineFormat::RGB8, 3000, 8000},
       {5952, 2490, false, 1},
       8000,
       true,
       true},
      {"turned, past the budget",
       {LineFormat::RGB8, 6000, 100000},
       {90000, 8000, false, 1},
       0,
       false,
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string png;
    PngWriter writer;
    EXPECT_EQ(writer.start(c.in, c.page, PngSink{append, &png}), c.started);
    const std::vector<uint8_t> line(c.started ? line_bytes(c.in) : 0, 0);
    for (uint32_t y = 0; y < c.lines; ++y) writer.line(line.data());
    EXPECT_EQ(writer.finish(), c.finished);
    EXPECT_EQ(writer.error()[0] == '\0', c.finished);
  }
}

// A page the printer would get with no width or no height is refused at
// once, and says why.
TEST(PngWriterTest, RefusesAPageOfNoSize) {
  for (const OutputPage page :
       {OutputPage{0, 3, true, 1}, OutputPage{4, 0, true, 1}, OutputPage{0, 0, true, 1}}) {
    std::string png;
    PngWriter writer;
    EXPECT_FALSE(writer.start({LineFormat::GREY8, 4, 3}, page, PngSink{append, &png}))
        << page.width << "x" << page.height;
    EXPECT_STREQ(writer.error(), "The page is empty or too wide");
    EXPECT_TRUE(png.empty());
  }
}

TEST(PngWriterTest, LineBytesAreCountedIn64Bits) {
  struct Case {
    InputPage in;
    uint64_t bytes;
  };
  const Case cases[] = {
      {{LineFormat::GREY8, (1u << 29) + 16, 1}, (uint64_t{1} << 29) + 16},
      {{LineFormat::RGB16, 0xFFFFFFFFu, 1}, 0},
      {{LineFormat::RGB16, 1u << 31, 1}, uint64_t{6} << 31},
      {{LineFormat::BLACK1, 9, 1}, 2},
      {{LineFormat::RGB8, 0, 1}, 0},
  };
  for (const Case& c : cases) EXPECT_EQ(line_bytes(c.in), c.bytes) << c.in.width;
}

TEST(PngWriterTest, TurnsOnlyThePartThatReachesTheOutput) {
  // Three columns by four lines onto 3 x 2: only the last two columns and
  // the first three lines are seen. Pixel value = 10 * line + column.
  const InputPage in{LineFormat::GREY8, 3, 4};
  const OutputPage page{3, 2, true, 1};
  std::string png;
  PngWriter writer;
  ASSERT_TRUE(writer.start(in, page, PngSink{append, &png}));
  for (uint8_t y = 0; y < 4; ++y) {
    const uint8_t line[3] = {uint8_t(10 * y), uint8_t(10 * y + 1), uint8_t(10 * y + 2)};
    ASSERT_TRUE(writer.line(line));
  }
  ASSERT_TRUE(writer.finish());
  const Decoded out = decode(png);
  EXPECT_EQ(out.pixels, (std::vector<uint8_t>{2, 12, 22, 1, 11, 21}));
}

}  // namespace
