#include "gs/png_encoder.h"

#include <gtest/gtest.h>
#include <png.h>

#include <cerrno>
#include <string>
#include <vector>

namespace {

bool collect(void* context, const void* data, size_t size) {
  static_cast<std::string*>(context)->append(static_cast<const char*>(data), size);
  return true;
}

// A picture with runs, edges and noise, so that every filter has work.
std::vector<uint8_t> picture(uint32_t width, uint32_t height, uint32_t channels) {
  std::vector<uint8_t> pixels(size_t{width} * height * channels);
  uint32_t noise = 12345;
  for (size_t i = 0; i < pixels.size(); ++i) {
    noise = noise * 1103515245U + 12345U;
    const size_t x = i / channels % width;
    const size_t y = i / channels / width;
    pixels[i] = static_cast<uint8_t>(x < width / 3 ? 255 : (x * 7 + y * 3 + (noise >> 28)));
  }
  return pixels;
}

// Decodes a PNG with libpng; empty when libpng refuses it.
std::vector<uint8_t> decode(const std::string& png, bool grey) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (png_image_begin_read_from_memory(&image, png.data(), png.size()) == 0) return {};
  image.format = grey ? PNG_FORMAT_GRAY : PNG_FORMAT_RGB;
  std::vector<uint8_t> pixels(PNG_IMAGE_SIZE(image));
  if (png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr) == 0) return {};
  return pixels;
}

TEST(PngEncoder, DecodesToExactlyThePixelsGiven) {
  const struct {
    uint32_t width, height;
    bool grey;
    PngEncoderOptions options;
    uint32_t rows_a_call;  // rows handed in at a time
  } cases[] = {
      {1, 1, true, PNG_ENCODER_DEFAULTS, 1},
      {1, 1, false, PNG_ENCODER_DEFAULTS, 1},
      {1, 37, false, {1, ROW_FILTER_UP, 2, 5}, 4},         // bands of one row
      {33, 17, false, {1, ROW_FILTER_SUB, 2, 3 * 99}, 5},  // bands of 3 rows, the last of 2
      {33, 17, true, {6, ROW_FILTER_UP, 0, 4 * 33}, 17},
      {7, 64, true, {9, ROW_FILTER_NONE, 3, 7}, 3},
      {1001, 300, false, PNG_ENCODER_DEFAULTS, 7},  // bands of 21 rows, many in flight
      {1001, 300, false, {1, ROW_FILTER_UP, 2, 1 << 18, false}, 7},
      {1001, 300, false, {1, ROW_FILTER_SUB, 1, 1}, 300},
      {640, 480, true, {1, ROW_FILTER_UP, 8, 640 * 10}, 480},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) +
                 (c.grey ? " grey" : " RGB") + " filter " + std::to_string(c.options.filter) +
                 " threads " + std::to_string(c.options.threads));
    const uint32_t channels = c.grey ? 1 : 3;
    const std::vector<uint8_t> pixels = picture(c.width, c.height, channels);
    std::string png;
    PngEncoder* encoder = png_encoder_start(c.width, c.height, c.grey, c.options, collect, &png);
    ASSERT_NE(encoder, nullptr);
    for (uint32_t y = 0; y < c.height; y += c.rows_a_call) {
      const uint32_t count = std::min(c.rows_a_call, c.height - y);
      ASSERT_TRUE(png_encoder_rows(encoder, pixels.data() + size_t{y} * c.width * channels, count));
    }
    EXPECT_TRUE(png_encoder_finish(encoder));
    png_encoder_free(encoder);
    EXPECT_EQ(decode(png, c.grey), pixels);
  }
}

TEST(PngEncoder, RefusesRowsMissingOrTooManyAndReportsTheSinksFailure) {
  const std::vector<uint8_t> pixels = picture(10, 4, 3);
  std::string png;
  PngEncoder* encoder = png_encoder_start(10, 3, false, PNG_ENCODER_DEFAULTS, collect, &png);
  ASSERT_TRUE(png_encoder_rows(encoder, pixels.data(), 2));
  EXPECT_FALSE(png_encoder_finish(encoder));
  EXPECT_FALSE(png_encoder_rows(encoder, pixels.data(), 2));
  png_encoder_free(encoder);

  for (const int failing_write : {0, 2, 3}) {
    int writes = 0;
    const auto fail = [](void* context, const void*, size_t) {
      int* count = static_cast<int*>(context);
      if ((*count)-- > 0) return true;
      errno = ENOSPC;
      return false;
    };
    writes = failing_write;
    errno = 0;
    encoder = png_encoder_start(10, 4, false, {1, ROW_FILTER_UP, 2, 30}, fail, &writes);
    if (encoder != nullptr) {
      bool accepted = png_encoder_rows(encoder, pixels.data(), 4);
      accepted = accepted && png_encoder_finish(encoder);
      png_encoder_free(encoder);
      EXPECT_FALSE(accepted) << failing_write;
    }
    EXPECT_EQ(errno, ENOSPC) << failing_write;
  }
  EXPECT_EQ(png_encoder_start(0, 5, true, PNG_ENCODER_DEFAULTS, collect, &png), nullptr);
}

// A sink that fails its write number `fail_at` (counted from 0) once, takes
// every other, and counts the writes after the failure.
struct FlakySink {
  int fail_at;
  int writes = 0;
  int after_failure = 0;
  bool told_late = false;  // a call that saw the write fail said it went well
};

bool flaky_write(void* context, const void* /*data*/, size_t /*size*/) {
  auto* sink = static_cast<FlakySink*>(context);
  const int number = sink->writes++;
  if (number > sink->fail_at) ++sink->after_failure;
  if (number != sink->fail_at) return true;
  errno = EIO;
  return false;
}

// Whether encoding a 30 x 40 picture into `sink` was said to succeed.
bool encode_into(FlakySink* sink, const PngEncoderOptions& options) {
  const std::vector<uint8_t> pixels = picture(30, 40, 3);
  PngEncoder* encoder = png_encoder_start(30, 40, false, options, flaky_write, sink);
  if (encoder == nullptr) return false;
  bool whole = true;
  for (uint32_t y = 0; whole && y < 40; y += 8) {
    const int before = sink->writes;
    whole = png_encoder_rows(encoder, pixels.data() + size_t{y} * 30 * 3, 8);
    sink->told_late |= whole && before <= sink->fail_at && sink->fail_at < sink->writes;
  }
  whole = whole && png_encoder_finish(encoder);
  png_encoder_free(encoder);
  return whole;
}

// A write that fails once fails the image, whichever it is, and nothing is
// written after it: an image with a piece missing never looks whole. Where
// bands are compressed in the caller, the call whose write failed says so.
TEST(PngEncoder, StopsAtTheFirstWriteThatFails) {
  for (const uint32_t threads : {0U, 2U}) {
    const PngEncoderOptions options{1, ROW_FILTER_UP, threads, 30 * 3 * 4, true};
    FlakySink whole{-1};
    ASSERT_TRUE(encode_into(&whole, options));
    ASSERT_GT(whole.writes, 12);  // the signature, IHDR, IEND and several IDAT chunks
    for (int fail_at = 0; fail_at < whole.writes; ++fail_at) {
      FlakySink sink{fail_at};
      EXPECT_FALSE(encode_into(&sink, options)) << "threads " << threads << ", write " << fail_at;
      EXPECT_EQ(sink.after_failure, 0) << "threads " << threads << ", write " << fail_at;
      if (threads == 0) {
        EXPECT_FALSE(sink.told_late) << "write " << fail_at;
      }
    }
  }
}

// Encodes `picture` of 200 x 100 RGB pixels with `options`.
std::string encoded(const PngEncoderOptions& options) {
  const std::vector<uint8_t> pixels = picture(200, 100, 3);
  std::string png;
  PngEncoder* encoder = png_encoder_start(200, 100, false, options, collect, &png);
  if (encoder == nullptr) return "";
  const bool whole = png_encoder_rows(encoder, pixels.data(), 100) && png_encoder_finish(encoder);
  png_encoder_free(encoder);
  return whole ? png : "";
}

// The level asked for is the level used; one zlib does not have is taken as
// the fastest, never as stored blocks or a failure.
TEST(PngEncoder, CompressesAtTheLevelAskedFor) {
  const auto at = [](int level) { return encoded({level, ROW_FILTER_UP, 0, 1U << 16, false}); };
  const std::string fastest = at(1);
  ASSERT_FALSE(fastest.empty());
  EXPECT_LT(at(9).size(), fastest.size());
  for (const int unknown : {0, -1, 10}) EXPECT_EQ(at(unknown), fastest) << unknown;
}

// A PNG image is at most 2^31 - 1 pixels each way, and no row may be longer
// than the encoder holds.
TEST(PngEncoder, StartsOnlyImagesAPngCanDescribe) {
  const struct {
    uint32_t width;
    uint32_t height;
    bool starts;
  } cases[] = {
      {1, 0, false},
      {0, 1, false},
      {1, 1, true},
      {1, 0x7fffffffU, true},
      {1, 0x80000000U, false},
      {0x7fffffffU, 1, false},
      {(1U << 28) + 1, 1, false},
  };
  for (const auto& c : cases) {
    std::string png;
    errno = 0;
    PngEncoder* encoder =
        png_encoder_start(c.width, c.height, true, {1, ROW_FILTER_UP, 0, 1U << 16}, collect, &png);
    EXPECT_EQ(encoder != nullptr, c.starts) << c.width << "x" << c.height;
    if (encoder == nullptr) {
      EXPECT_EQ(errno, EINVAL) << c.width << "x" << c.height;
    }
    png_encoder_free(encoder);
  }
}

}  // namespace
