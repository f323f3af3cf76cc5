#include "app/images.h"

#include <gtest/gtest.h>
#include <jpeglib.h>
#include <png.h>
#include <zlib.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

bool append(void* context, const void* data, size_t size) {
  static_cast<std::string*>(context)->append(static_cast<const char*>(data), size);
  return true;
}

// A PNG of `width` x `height` with `pixels`, grey or RGB.
std::string make_png(uint32_t width, uint32_t height, bool grey,
                     const std::vector<uint8_t>& pixels) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = width;
  image.height = height;
  image.format = grey ? PNG_FORMAT_GRAY : PNG_FORMAT_RGB;
  png_alloc_size_t size = 0;
  png_image_write_to_memory(&image, nullptr, &size, 0, pixels.data(), 0, nullptr);
  std::string png(size, '\0');
  png_image_write_to_memory(&image, png.data(), &size, 0, pixels.data(), 0, nullptr);
  png.resize(size);
  return png;
}

// A grey JPEG of `width` x `height`, every pixel `value`.
std::string make_jpeg(uint32_t width, uint32_t height, uint8_t value) {
  jpeg_compress_struct info{};
  jpeg_error_mgr error{};
  info.err = jpeg_std_error(&error);
  jpeg_create_compress(&info);
  unsigned char* data = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&info, &data, &size);
  info.image_width = width;
  info.image_height = height;
  info.input_components = 1;
  info.in_color_space = JCS_GRAYSCALE;
  jpeg_set_defaults(&info);
  jpeg_start_compress(&info, TRUE);
  std::vector<uint8_t> line(width, value);
  JSAMPROW row = line.data();
  while (info.next_scanline < height) jpeg_write_scanlines(&info, &row, 1);
  jpeg_finish_compress(&info);
  std::string jpeg(reinterpret_cast<char*>(data), size);
  jpeg_destroy_compress(&info);
  std::free(data);
  return jpeg;
}

struct Decoded {
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<uint8_t> pixels;
};

Decoded decode(const std::string& png) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  Decoded out;
  if (png_image_begin_read_from_memory(&image, png.data(), png.size()) == 0) return out;
  out.width = image.width;
  out.height = image.height;
  out.pixels.resize(PNG_IMAGE_SIZE(image));
  png_image_finish_read(&image, nullptr, out.pixels.data(), 0, nullptr);
  return out;
}

struct Printed {
  bool ok;
  std::string message;
  std::string png;
};

Printed print(const std::string& document, ImageKind kind, const OutputPage& page,
              bool fill = false) {
  FILE* file = std::tmpfile();
  std::fwrite(document.data(), 1, document.size(), file);
  std::fflush(file);
  std::rewind(file);
  Printed printed{false, "", ""};
  char message[512] = "";
  printed.ok = print_image(fileno(file), kind, page, fill, PngSink{append, &printed.png}, message,
                           sizeof message);
  printed.message = message;
  std::fclose(file);
  return printed;
}

TEST(ImagesTest, PlacesTheImageScaledTurnedAndCentred) {
  struct Case {
    const char* name;
    std::string document;
    ImageKind kind;
    OutputPage page;
    bool fill;
    std::vector<uint8_t> pixels;  // of the output, grey or RGB
  };
  const uint8_t R[] = {255, 0, 0};
  const uint8_t B[] = {0, 0, 255};
  std::vector<uint8_t> red_blue(R, R + 3);
  red_blue.insert(red_blue.end(), B, B + 3);
  const Case cases[] = {
      {"same size",
       make_png(2, 1, false, red_blue),
       ImageKind::PNG,
       {2, 1, false, 1},
       false,
       red_blue},
      {"scaled up twice",
       make_png(2, 1, true, {0, 200}),
       ImageKind::PNG,
       {4, 2, true, 1},
       false,
       {0, 0, 200, 200, 0, 0, 200, 200}},
      {"fitted and centred, white above and below",
       make_png(1, 1, true, {0}),
       ImageKind::PNG,
       {1, 3, true, 1},
       false,
       {255, 0, 255}},
      // Portrait page, landscape image: the image's right edge on top.
      {"turned", make_png(2, 1, true, {0, 200}), ImageKind::PNG, {1, 2, true, 1}, false, {200, 0}},
      {"filled and cropped",
       make_png(2, 1, true, {0, 200}),
       ImageKind::PNG,
       {1, 1, true, 1},
       true,
       {0}},
      {"colour to grey",
       make_png(1, 1, false, {255, 0, 0}),
       ImageKind::PNG,
       {1, 1, true, 1},
       false,
       {76}},
      {"grey JPEG",
       make_jpeg(16, 16, 100),
       ImageKind::JPEG,
       {2, 2, true, 1},
       false,
       {100, 100, 100, 100}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Printed printed = print(c.document, c.kind, c.page, c.fill);
    ASSERT_TRUE(printed.ok) << printed.message;
    const Decoded out = decode(printed.png);
    EXPECT_EQ(out.width, c.page.width);
    EXPECT_EQ(out.height, c.page.height);
    ASSERT_EQ(out.pixels.size(), c.pixels.size());
    for (size_t i = 0; i < c.pixels.size(); ++i) EXPECT_NEAR(out.pixels[i], c.pixels[i], 2) << i;
  }
}

// Sets the big-endian 32-bit value at `at`.
void put32(std::string* data, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) (*data)[at + i] = static_cast<char>(value >> (24 - 8 * i));
}

TEST(ImagesTest, RefusesWhatIsNotAWholeImageOfItsKind) {
  const std::string png = make_png(64, 64, true, std::vector<uint8_t>(64 * 64, 9));
  const std::string jpeg = make_jpeg(64, 64, 9);
  const std::string pdf =
      "%PDF-1.7\n1 0 obj << /Type /Catalog >> endobj\n" + std::string(4000, 'x');
  // The width and height of a PNG's header, then its CRC, made right again.
  std::string bomb = png;
  put32(&bomb, 16, 100000);
  put32(&bomb, 20, 100000);
  put32(&bomb, 29,
        static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(bomb.data()) + 12, 17)));
  // A JPEG whose frame header says 60000 x 60000 pixels.
  std::string jpeg_bomb = jpeg;
  const size_t frame = jpeg_bomb.find("\xFF\xC0");
  for (const size_t at : {frame + 5, frame + 7}) {
    jpeg_bomb[at] = static_cast<char>(60000 >> 8);
    jpeg_bomb[at + 1] = static_cast<char>(60000 & 255);
  }
  // An iCCP chunk declaring 1.4 GB of profile, before the image data.
  std::string greedy = png.substr(0, 33);
  greedy += std::string("\x58\x00\x00\x00iCCPdefault", 15);
  greedy += png.substr(33);
  struct Case {
    const char* name;
    std::string document;
    ImageKind kind;
    const char* said;  // a part of the message
  };
  const Case cases[] = {
      {"PDF as PNG", pdf, ImageKind::PNG, "PNG"},
      {"PDF as JPEG", pdf, ImageKind::JPEG, "JPEG"},
      {"empty PNG", "", ImageKind::PNG, "PNG"},
      {"empty JPEG", "", ImageKind::JPEG, "JPEG"},
      {"truncated PNG", png.substr(0, png.size() / 2), ImageKind::PNG, "PNG"},
      {"truncated JPEG", jpeg.substr(0, jpeg.size() / 2), ImageKind::JPEG, "JPEG"},
      {"PNG without its end", png.substr(0, png.size() - 12), ImageKind::PNG, "PNG"},
      {"JPEG as PNG", jpeg, ImageKind::PNG, "PNG"},
      {"PNG of 10^10 pixels", bomb, ImageKind::PNG, "million pixels"},
      {"JPEG of 3.6 x 10^9 pixels", jpeg_bomb, ImageKind::JPEG, "million pixels"},
      {"PNG with a chunk of 1.4 GB", greedy, ImageKind::PNG, "PNG"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Printed printed = print(c.document, c.kind, {8, 8, true, 1});
    EXPECT_FALSE(printed.ok);
    EXPECT_NE(printed.message.find(c.said), std::string::npos) << printed.message;
  }
}

TEST(ImagesTest, PlansWithinTheBudget) {
  struct Case {
    const char* name;
    uint32_t width, height;
    OutputPage page;
    bool fill;
    uint64_t budget;
    bool turn;
    uint32_t grid_width, grid_height;
  };
  const Case cases[] = {
      {"small image, whole", 10, 20, {100, 200, false, 1}, false, 1 << 20, false, 10, 20},
      {"large image, sampled to the page",
       1000,
       2000,
       {100, 200, false, 1},
       false,
       1 << 20,
       false,
       100,
       200},
      {"landscape on portrait, turned",
       2000,
       1000,
       {100, 200, false, 1},
       false,
       1 << 20,
       true,
       200,
       100},
      {"over the budget, shrunk",
       1000,
       1000,
       {1000, 1000, true, 1},
       false,
       250000,
       false,
       500,
       500},
      {"16000 x 16000 on A4 at 720 dpi in colour",
       16000,
       16000,
       {5952, 8418, false, 1},
       false,
       PAGE_BUDGET,
       false,
       4729,
       4729},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ImagePlan plan =
        plan_image(c.width, c.height, c.page, c.fill, c.page.grey ? 1 : 3, c.budget);
    EXPECT_EQ(plan.turn, c.turn);
    EXPECT_EQ(plan.grid_width, c.grid_width);
    EXPECT_EQ(plan.grid_height, c.grid_height);
    EXPECT_LE(uint64_t{plan.grid_width} * plan.grid_height * (c.page.grey ? 1 : 3), c.budget);
  }
}

// A page header of `width` pixels a line of `bits` each in `space`, its
// colours in `order`.
cups_page_header2_t header(cups_cspace_t space, unsigned bits, unsigned width, unsigned line,
                           cups_order_t order = CUPS_ORDER_CHUNKED) {
  cups_page_header2_t made{};
  made.cupsWidth = width;
  made.cupsHeight = 10;
  made.cupsBitsPerColor = bits == 1 ? 1 : 8;
  made.cupsBitsPerPixel = bits;
  made.cupsBytesPerLine = line;
  made.cupsColorOrder = order;
  made.cupsColorSpace = space;
  return made;
}

TEST(ImagesTest, TakesOnlyTheRasterThePrinterOffersWithConsistentLines) {
  const cups_page_header2_t own = header(CUPS_CSPACE_SRGB, 24, 744, 2232);
  struct Case {
    const char* name;
    cups_page_header2_t given;
    bool taken;
    LineFormat format;
  };
  const Case cases[] = {
      {"sRGB", header(CUPS_CSPACE_SRGB, 24, 100, 300), true, LineFormat::RGB8},
      {"grey", header(CUPS_CSPACE_SW, 8, 100, 100), true, LineFormat::GREY8},
      // PAPPL hands on its own header in place of a 1-bit page's.
      {"PAPPL's own header", own, false, LineFormat::RGB8},
      {"1-bit black", header(CUPS_CSPACE_K, 1, 100, 13), false, LineFormat::RGB8},
      {"16-bit sRGB", header(CUPS_CSPACE_SRGB, 48, 100, 600), false, LineFormat::RGB8},
      {"8-bit black", header(CUPS_CSPACE_K, 8, 100, 100), false, LineFormat::RGB8},
      {"a width that wraps 32 bits of bits", header(CUPS_CSPACE_SW, 8, (1u << 29) + 16, 16), false,
       LineFormat::RGB8},
      {"lines a byte short", header(CUPS_CSPACE_SRGB, 24, 100, 299), false, LineFormat::RGB8},
      {"no width", header(CUPS_CSPACE_SW, 8, 0, 0), false, LineFormat::RGB8},
      {"sRGB in bands", header(CUPS_CSPACE_SRGB, 24, 100, 300, CUPS_ORDER_BANDED), false,
       LineFormat::RGB8},
      {"sRGB in planes", header(CUPS_CSPACE_SRGB, 24, 100, 300, CUPS_ORDER_PLANAR), false,
       LineFormat::RGB8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LineFormat format = LineFormat::BLACK1;
    char message[256] = "";
    EXPECT_EQ(check_raster_header(c.given, own, &format, message, sizeof message), c.taken);
    if (c.taken) {
      EXPECT_EQ(format, c.format);
    } else {
      EXPECT_NE(message[0], '\0');
    }
  }
}

}  // namespace
