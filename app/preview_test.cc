#include "app/preview.h"

#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
#include <vector>

namespace {

struct Decoded {
  uint32_t width = 0;
  uint32_t height = 0;
  bool grey = false;
  std::vector<uint8_t> pixels;
  uint8_t at(uint32_t x, uint32_t y) const {
    return pixels[(size_t{y} * width + x) * (grey ? 1 : 3)];
  }
};

Decoded decode(const Thumbnail& thumbnail) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  Decoded out;
  const std::vector<uint8_t> png = encode_thumbnail(thumbnail);
  if (png_image_begin_read_from_memory(&image, png.data(), png.size()) == 0) return out;
  out.grey = (image.format & PNG_FORMAT_FLAG_COLOR) == 0;
  out.width = image.width;
  out.height = image.height;
  out.pixels.resize(PNG_IMAGE_SIZE(image));
  png_image_finish_read(&image, nullptr, out.pixels.data(), 0, nullptr);
  return out;
}

// Sends a page of `width` x `height` whose pixel (x, y) is `shade(x, y)`,
// a few rows at a time as the job path does.
template <typename Shade>
void send_page(ThumbnailMaker& maker, bool grey, uint32_t width, uint32_t height, bool turn,
               Shade shade) {
  const size_t channels = grey ? 1 : 3;
  maker.start_page(width, height, turn);
  std::vector<uint8_t> rows(size_t{width} * channels * 3);
  for (uint32_t y = 0; y < height; y += 3) {
    const uint32_t count = std::min<uint32_t>(3, height - y);
    for (uint32_t row = 0; row < count; ++row) {
      for (uint32_t x = 0; x < width; ++x) {
        for (size_t c = 0; c < channels; ++c) {
          rows[(size_t{row} * width + x) * channels + c] = shade(x, y + row);
        }
      }
    }
    maker.rows(y, rows.data(), count);
  }
  ASSERT_TRUE(maker.end_page());
}

uint8_t plain(uint32_t /*x*/, uint32_t /*y*/) { return 128; }

TEST(PreviewTest, MakesOneThumbnailAPageInThePagesProportions) {
  struct Case {
    const char* name;
    bool grey;
    uint32_t width, height, pages;
    uint32_t thumb_width, thumb_height;
  };
  const Case cases[] = {
      {"two colour A4 pages at 360 dpi", false, 2976, 4209, 2, 331, 468},
      {"a grey A6 page at 360 dpi", true, 1488, 2098, 1, 298, 420},
      {"a landscape name card", false, 1261, 779, 1, 421, 260},
      {"a page smaller than a thumbnail, kept as it is", true, 300, 200, 1, 300, 200},
      {"a page just over the size", false, 513, 100, 1, 257, 50},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ThumbnailMaker maker;
    maker.start_job(c.grey);
    for (uint32_t page = 0; page < c.pages; ++page) {
      send_page(maker, c.grey, c.width, c.height, false, plain);
    }
    const std::vector<Thumbnail> pages = maker.take();
    ASSERT_EQ(pages.size(), c.pages);
    for (const Thumbnail& page : pages) {
      const Decoded image = decode(page);
      EXPECT_EQ(image.width, c.thumb_width);
      EXPECT_EQ(image.height, c.thumb_height);
      EXPECT_EQ(image.grey, c.grey);
      EXPECT_LE(std::max(image.width, image.height), THUMBNAIL_SIZE);
      EXPECT_EQ(image.at(image.width - 1, image.height - 1), 128);
    }
  }
}

TEST(PreviewTest, AveragesEachBoxOfPixels) {
  // 1024 x 8, scale 2: black on the left half, and one grey stripe.
  ThumbnailMaker maker;
  maker.start_job(true);
  send_page(maker, true, 1024, 8, false, [](uint32_t x, uint32_t y) -> uint8_t {
    if (x < 512) return 0;
    if (x == 700 && y == 0) return 55;  // a quarter of its box
    return 255;
  });
  const Decoded image = decode(maker.take().at(0));
  ASSERT_EQ(image.width, 512u);
  ASSERT_EQ(image.height, 4u);
  EXPECT_EQ(image.at(255, 0), 0);
  EXPECT_EQ(image.at(256, 0), 255);
  EXPECT_EQ(image.at(350, 0), (255 * 3 + 55 + 2) / 4);
  EXPECT_EQ(image.at(350, 1), 255);
}

TEST(PreviewTest, TurnsAPageAQuarterAnticlockwise) {
  // A black mark at the top right goes to the top left.
  ThumbnailMaker maker;
  maker.start_job(false);
  send_page(maker, false, 40, 20, true,
            [](uint32_t x, uint32_t y) -> uint8_t { return x >= 36 && y < 4 ? 0 : 255; });
  const Decoded image = decode(maker.take().at(0));
  ASSERT_EQ(image.width, 20u);
  ASSERT_EQ(image.height, 40u);
  EXPECT_EQ(image.at(0, 0), 0);
  EXPECT_EQ(image.at(19, 0), 255);
  EXPECT_EQ(image.at(0, 39), 255);
}

TEST(PreviewTest, LeavesRowsNeverSentWhiteAndDropsRowsPastTheEnd) {
  ThumbnailMaker maker;
  maker.start_job(true);
  maker.start_page(4, 4, false);
  const std::vector<uint8_t> black(16, 0);
  maker.rows(0, black.data(), 2);
  maker.rows(3, black.data(), 4);  // rows 4 to 6 are past the end
  ASSERT_TRUE(maker.end_page());
  const Decoded image = decode(maker.take().at(0));
  EXPECT_EQ(image.at(0, 0), 0);
  EXPECT_EQ(image.at(0, 2), 255);
  EXPECT_EQ(image.at(0, 3), 0);
}

TEST(PreviewTest, ANewJobStartsAfresh) {
  ThumbnailMaker maker;
  maker.start_job(false);
  send_page(maker, false, 10, 10, false, plain);
  send_page(maker, false, 10, 10, false, plain);
  maker.start_job(true);  // the last job's pages were never taken
  send_page(maker, true, 10, 10, false, plain);
  const std::vector<Thumbnail> pages = maker.take();
  ASSERT_EQ(pages.size(), 1u);
  EXPECT_TRUE(decode(pages[0]).grey);
  EXPECT_TRUE(maker.take().empty());
}

}  // namespace
