#include "app/images.h"

#include <png.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstring>

// After <cstdio>, which they need.
#include <jpeglib.h>
// After <jpeglib.h>.
#include <jerror.h>

#include <string_view>
#include <vector>

namespace {

constexpr uint8_t WHITE = 255;

// The image sampled on its plan's grid, filled as the image's lines come.
struct Grid {
  uint32_t width = 0;  // of the grid
  uint32_t height = 0;
  uint32_t source_width = 0;  // of the image as decoded
  uint32_t source_height = 0;
  int channels = 0;
  uint32_t next_row = 0;  // the first grid row not yet filled
  std::vector<uint8_t> pixels;
};

void start_grid(Grid* grid, const ImagePlan& plan, uint32_t width, uint32_t height, int channels) {
  grid->width = std::min(plan.grid_width, width);
  grid->height = std::min(plan.grid_height, height);
  grid->source_width = width;
  grid->source_height = height;
  grid->channels = channels;
  grid->next_row = 0;
  grid->pixels.assign(size_t{grid->width} * grid->height * static_cast<size_t>(channels), WHITE);
}

// Takes line `y` of the decoded image into every grid row that samples it.
void take_line(Grid* grid, uint32_t y, const uint8_t* line) {
  const auto step = static_cast<size_t>(grid->channels);
  while (grid->next_row < grid->height &&
         uint64_t{grid->next_row} * grid->source_height / grid->height == y) {
    uint8_t* row = grid->pixels.data() + size_t{grid->next_row} * grid->width * step;
    for (uint32_t i = 0; i < grid->width; ++i) {
      const uint64_t x = uint64_t{i} * grid->source_width / grid->width;
      std::memcpy(row + i * step, line + x * step, step);
    }
    ++grid->next_row;
  }
}

void copy_text(char* to, size_t size, const char* from) {
  static_cast<void>(std::snprintf(to, size, "%s", from));
}

bool too_large(uint32_t width, uint32_t height, const char* kind, char* message, size_t size) {
  if (width > 0 && height > 0 && uint64_t{width} * height <= MAX_IMAGE_PIXELS) return false;
  static_cast<void>(std::snprintf(message, size,
                                  "The %s image is %ux%u pixels: the printer takes images of at "
                                  "most %llu million pixels",
                                  kind, width, height,
                                  static_cast<unsigned long long>(MAX_IMAGE_PIXELS / 1000000)));
  return true;
}

// libjpeg and libpng report errors by longjmp: the functions that set the
// jump hold nothing that needs destroying across it.
// NOLINTBEGIN(cert-err52-cpp)

struct JpegError {
  jpeg_error_mgr manager;
  jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
};

[[noreturn]] void jpeg_failed(j_common_ptr info) {
  auto* error = reinterpret_cast<JpegError*>(info->err);
  (*info->err->format_message)(info, error->message);
  std::longjmp(error->jump, 1);
}

// A warning that the data ended early ends the decoding; libjpeg would fill
// the rest of the image with grey.
void jpeg_warned(j_common_ptr info, int level) {
  if (level < 0 && info->err->msg_code == JWRN_JPEG_EOF) jpeg_failed(info);
}

// The denominator of libjpeg's scaling that still gives at least the grid.
unsigned jpeg_scale(uint32_t width, uint32_t height, const ImagePlan& plan) {
  unsigned denominator = 8;
  while (denominator > 1 && ((width + denominator - 1) / denominator < plan.grid_width ||
                             (height + denominator - 1) / denominator < plan.grid_height)) {
    denominator /= 2;
  }
  return denominator;
}

bool read_jpeg(FILE* file, const OutputPage& page, bool fill, Grid* grid, ImagePlan* plan,
               std::vector<uint8_t>* line, char* message, size_t size) {
  jpeg_decompress_struct info{};
  JpegError error{};
  info.err = jpeg_std_error(&error.manager);
  error.manager.error_exit = jpeg_failed;
  error.manager.emit_message = jpeg_warned;
  if (setjmp(error.jump) != 0) {
    jpeg_destroy_decompress(&info);
    static_cast<void>(
        std::snprintf(message, size, "The JPEG document cannot be decoded: %s", error.message));
    return false;
  }
  jpeg_create_decompress(&info);
  jpeg_stdio_src(&info, file);
  jpeg_read_header(&info, TRUE);
  if (too_large(info.image_width, info.image_height, "JPEG", message, size)) {
    jpeg_destroy_decompress(&info);
    return false;
  }
  const bool grey = info.num_components == 1;
  if (!grey && info.jpeg_color_space != JCS_YCbCr && info.jpeg_color_space != JCS_RGB) {
    jpeg_destroy_decompress(&info);
    copy_text(message, size, "The JPEG document is not grey or RGB, which the printer takes");
    return false;
  }
  info.out_color_space = grey ? JCS_GRAYSCALE : JCS_RGB;
  const int channels = grey ? 1 : 3;
  *plan = plan_image(info.image_width, info.image_height, page, fill, channels, PAGE_BUDGET);
  info.scale_num = 1;
  info.scale_denom = jpeg_scale(info.image_width, info.image_height, *plan);
  jpeg_start_decompress(&info);
  start_grid(grid, *plan, info.output_width, info.output_height, channels);
  line->assign(size_t{info.output_width} * static_cast<size_t>(channels), WHITE);
  JSAMPROW row = line->data();
  while (info.output_scanline < info.output_height) {
    const JDIMENSION y = info.output_scanline;
    if (jpeg_read_scanlines(&info, &row, 1) != 1) break;
    take_line(grid, y, line->data());
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  return true;
}

struct PngError {
  char message[200];
};

[[noreturn]] void png_failed(png_structp png, png_const_charp text) {
  auto* error = static_cast<PngError*>(png_get_error_ptr(png));
  copy_text(error->message, sizeof error->message, text);
  png_longjmp(png, 1);
}

void png_warned(png_structp /*png*/, png_const_charp /*text*/) {}

bool read_png_rows(png_structp png, png_infop info, const OutputPage& page, bool fill, Grid* grid,
                   ImagePlan* plan, std::vector<uint8_t>* buffer, char* message, size_t size) {
  if (setjmp(png_jmpbuf(png)) != 0) return false;
  png_read_info(png, info);
  const png_uint_32 width = png_get_image_width(png, info);
  const png_uint_32 height = png_get_image_height(png, info);
  if (too_large(width, height, "PNG", message, size)) return false;
  png_set_expand(png);
  png_set_strip_16(png);
  png_color_16 white{};
  white.red = white.green = white.blue = white.gray = WHITE;
  if ((png_get_color_type(png, info) & PNG_COLOR_MASK_ALPHA) != 0 ||
      png_get_valid(png, info, PNG_INFO_tRNS) != 0) {
    png_set_background(png, &white, PNG_BACKGROUND_GAMMA_SCREEN, 0, 1.0);
  }
  const int passes = png_set_interlace_handling(png);
  png_read_update_info(png, info);
  const int channels = png_get_channels(png, info);
  *plan = plan_image(width, height, page, fill, channels, PAGE_BUDGET);
  start_grid(grid, *plan, width, height, channels);
  const size_t row_bytes = png_get_rowbytes(png, info);
  if (passes > 1) {
    // Every pass adds to every line: the image is held whole.
    if (uint64_t{row_bytes} * height + grid->pixels.size() > PAGE_BUDGET) {
      copy_text(message, size,
                "The PNG image is interlaced and too large to hold: send it not interlaced");
      return false;
    }
    buffer->assign(row_bytes * height, WHITE);
    for (int pass = 0; pass < passes; ++pass) {
      for (png_uint_32 y = 0; y < height; ++y) {
        png_read_row(png, buffer->data() + row_bytes * y, nullptr);
      }
    }
    for (png_uint_32 y = 0; y < height; ++y) take_line(grid, y, buffer->data() + row_bytes * y);
  } else {
    buffer->assign(row_bytes, WHITE);
    for (png_uint_32 y = 0; y < height; ++y) {
      png_read_row(png, buffer->data(), nullptr);
      take_line(grid, y, buffer->data());
    }
  }
  png_read_end(png, nullptr);
  return true;
}

// NOLINTEND(cert-err52-cpp)

bool read_png(FILE* file, const OutputPage& page, bool fill, Grid* grid, ImagePlan* plan,
              char* message, size_t size) {
  PngError error{};
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &error, png_failed, png_warned);
  png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
  if (info == nullptr) {
    png_destroy_read_struct(&png, nullptr, nullptr);
    copy_text(message, size, "Unable to decode the PNG document");
    return false;
  }
  png_init_io(png, file);
  // A chunk may declare any length: the ones the app has no use for, a
  // colour profile or text, are passed over unread, and none is held whole
  // past a limit.
  constexpr png_alloc_size_t LARGEST_CHUNK = png_alloc_size_t{8} << 20;
  png_set_chunk_malloc_max(png, LARGEST_CHUNK);
  static const png_byte UNUSED[] = "iCCP\0iTXt\0sPLT\0tEXt\0zTXt\0eXIf";
  png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, nullptr, 0);
  png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, UNUSED, 6);
  std::vector<uint8_t> buffer;
  message[0] = '\0';
  const bool read = read_png_rows(png, info, page, fill, grid, plan, &buffer, message, size);
  png_destroy_read_struct(&png, &info, nullptr);
  if (!read && message[0] == '\0') {
    static_cast<void>(
        std::snprintf(message, size, "The PNG document cannot be decoded: %s", error.message));
  }
  return read;
}

// Which grid pixel each pixel of the page's lines or columns shows, -1 for
// none: `length` page pixels, from `start`, over `scaled` of them that show
// `source` image pixels, sampled on `grid` of them. `reverse` counts the
// image from its far end.
std::vector<int64_t> sample_map(uint32_t length, int64_t start, uint32_t scaled, uint32_t source,
                                uint32_t grid, bool reverse) {
  std::vector<int64_t> map(length, -1);
  for (uint32_t i = 0; i < length; ++i) {
    const int64_t along = int64_t{i} - start;
    if (along < 0 || along >= int64_t{scaled}) continue;
    int64_t pixel = along * int64_t{source} / int64_t{scaled};
    if (reverse) pixel = int64_t{source} - 1 - pixel;
    map[i] = pixel * int64_t{grid} / int64_t{source};
  }
  return map;
}

bool encode(const Grid& grid, const ImagePlan& plan, const OutputPage& page, PngSink sink,
            char* message, size_t size) {
  // Unturned, page columns sample grid columns and page lines grid rows;
  // turned, page columns sample grid rows, and page lines grid columns from
  // the right.
  const uint32_t across_source = plan.turn ? grid.source_height : grid.source_width;
  const uint32_t down_source = plan.turn ? grid.source_width : grid.source_height;
  const std::vector<int64_t> across = sample_map(page.width, plan.left, plan.width, across_source,
                                                 plan.turn ? grid.height : grid.width, false);
  const std::vector<int64_t> down = sample_map(page.height, plan.top, plan.height, down_source,
                                               plan.turn ? grid.width : grid.height, plan.turn);
  const auto step = static_cast<size_t>(grid.channels);
  const InputPage in{grid.channels == 1 ? LineFormat::GREY8 : LineFormat::RGB8, page.width,
                     page.height};
  PngWriter writer;
  std::vector<uint8_t> line(size_t{page.width} * step, WHITE);
  bool written = writer.start(in, page, sink);
  for (uint32_t y = 0; y < page.height && written; ++y) {
    std::fill(line.begin(), line.end(), WHITE);
    if (down[y] >= 0) {
      for (uint32_t x = 0; x < page.width; ++x) {
        if (across[x] < 0) continue;
        const int64_t column = plan.turn ? down[y] : across[x];
        const int64_t row = plan.turn ? across[x] : down[y];
        std::memcpy(
            line.data() + x * step,
            grid.pixels.data() +
                (static_cast<size_t>(row) * grid.width + static_cast<size_t>(column)) * step,
            step);
      }
    }
    written = writer.line(line.data());
  }
  if (written) written = writer.finish();
  if (!written) copy_text(message, size, writer.error());
  return written;
}

}  // namespace

bool image_kind(const char* mime_type, ImageKind* kind) {
  const std::string_view type = mime_type != nullptr ? mime_type : "";
  if (type == "image/jpeg") *kind = ImageKind::JPEG;
  if (type == "image/png") *kind = ImageKind::PNG;
  return type == "image/jpeg" || type == "image/png";
}

ImagePlan plan_image(uint32_t width, uint32_t height, const OutputPage& page, bool fill,
                     int channels, uint64_t budget) {
  ImagePlan plan{};
  plan.turn = (width > height) != (page.width > page.height) && width != height;
  const double across = plan.turn ? height : width;
  const double down = plan.turn ? width : height;
  const double by_width = page.width / across;
  const double by_height = page.height / down;
  const double scale = fill ? std::max(by_width, by_height) : std::min(by_width, by_height);
  plan.width = static_cast<uint32_t>(std::max(1.0, std::round(across * scale)));
  plan.height = static_cast<uint32_t>(std::max(1.0, std::round(down * scale)));
  plan.left = (int64_t{page.width} - plan.width) / 2;
  plan.top = (int64_t{page.height} - plan.height) / 2;
  // The grid needs no more pixels than the page shows of the image.
  const uint32_t shown_across = std::min(plan.width, page.width);
  const uint32_t shown_down = std::min(plan.height, page.height);
  double grid_width = std::min<double>(width, plan.turn ? shown_down : shown_across);
  double grid_height = std::min<double>(height, plan.turn ? shown_across : shown_down);
  const double bytes = grid_width * grid_height * channels;
  if (bytes > static_cast<double>(budget)) {
    const double shrink = std::sqrt(static_cast<double>(budget) / bytes);
    grid_width = std::floor(grid_width * shrink);
    grid_height = std::floor(grid_height * shrink);
  }
  plan.grid_width = static_cast<uint32_t>(std::max(1.0, grid_width));
  plan.grid_height = static_cast<uint32_t>(std::max(1.0, grid_height));
  return plan;
}

bool print_image(int input, ImageKind kind, const OutputPage& page, bool fill, PngSink sink,
                 char* message, size_t size) {
  const int copy = dup(input);
  FILE* file = copy >= 0 ? fdopen(copy, "rb") : nullptr;
  if (file == nullptr) {
    if (copy >= 0) close(copy);
    copy_text(message, size, "Unable to read the job's file");
    return false;
  }
  Grid grid;
  ImagePlan plan{};
  std::vector<uint8_t> line;
  const bool read = kind == ImageKind::JPEG
                        ? read_jpeg(file, page, fill, &grid, &plan, &line, message, size)
                        : read_png(file, page, fill, &grid, &plan, message, size);
  static_cast<void>(std::fclose(file));
  return read && encode(grid, plan, page, sink, message, size);
}

namespace {

template <typename T, size_t N>
bool same(const T (&a)[N], const T (&b)[N]) {
  return std::equal(a, a + N, b);
}

// Whether two headers describe the same page the same way; PAPPL's own
// counts the job's pages, which is left out.
bool same_page(const cups_page_header2_t& a, const cups_page_header2_t& b) {
  for (unsigned i = 0; i < 16; ++i) {
    if (i != CUPS_RASTER_PWG_TotalPageCount && a.cupsInteger[i] != b.cupsInteger[i]) return false;
  }
  return same(a.MediaClass, b.MediaClass) && same(a.MediaColor, b.MediaColor) &&
         same(a.MediaType, b.MediaType) && same(a.OutputType, b.OutputType) &&
         same(a.HWResolution, b.HWResolution) && same(a.ImagingBoundingBox, b.ImagingBoundingBox) &&
         same(a.PageSize, b.PageSize) && same(a.cupsPageSizeName, b.cupsPageSizeName) &&
         a.Orientation == b.Orientation && a.MediaPosition == b.MediaPosition &&
         a.CutMedia == b.CutMedia && a.cupsWidth == b.cupsWidth && a.cupsHeight == b.cupsHeight &&
         a.cupsBitsPerColor == b.cupsBitsPerColor && a.cupsBitsPerPixel == b.cupsBitsPerPixel &&
         a.cupsBytesPerLine == b.cupsBytesPerLine && a.cupsColorOrder == b.cupsColorOrder &&
         a.cupsColorSpace == b.cupsColorSpace && a.cupsNumColors == b.cupsNumColors;
}

}  // namespace

bool check_raster_header(const cups_page_header2_t& given, const cups_page_header2_t& own,
                         LineFormat* format, char* message, size_t size) {
  if (same_page(given, own)) {
    copy_text(message, size,
              "The raster has 1 bit a pixel: the printer takes 8-bit sRGB or grey raster");
    return false;
  }
  const bool rgb = given.cupsColorSpace == CUPS_CSPACE_SRGB ||
                   given.cupsColorSpace == CUPS_CSPACE_RGB ||
                   given.cupsColorSpace == CUPS_CSPACE_ADOBERGB;
  const bool grey = given.cupsColorSpace == CUPS_CSPACE_SW || given.cupsColorSpace == CUPS_CSPACE_W;
  if (given.cupsColorOrder != CUPS_ORDER_CHUNKED || given.cupsBitsPerColor != 8 ||
      !((rgb && given.cupsBitsPerPixel == 24) || (grey && given.cupsBitsPerPixel == 8))) {
    static_cast<void>(std::snprintf(message, size,
                                    "The raster has %u bits a pixel in colour space %u: the "
                                    "printer takes 8-bit sRGB or grey raster",
                                    given.cupsBitsPerPixel, given.cupsColorSpace));
    return false;
  }
  *format = rgb ? LineFormat::RGB8 : LineFormat::GREY8;
  const uint64_t bytes = line_bytes({*format, given.cupsWidth, given.cupsHeight});
  if (bytes == 0 || given.cupsHeight == 0 || bytes != given.cupsBytesPerLine) {
    static_cast<void>(std::snprintf(message, size,
                                    "The raster's header is inconsistent: %u pixels a line of "
                                    "%u bits take %llu bytes, not %u",
                                    given.cupsWidth, given.cupsBitsPerPixel,
                                    static_cast<unsigned long long>(bytes),
                                    given.cupsBytesPerLine));
    return false;
  }
  return true;
}

bool check_raster_page(pappl_job_t* job, const cups_page_header2_t& given, LineFormat* format,
                       char* message, size_t size) {
  pappl_pr_options_t* own = papplJobCreatePrintOptions(job, 0, false);
  if (own == nullptr) {
    copy_text(message, size, "Unable to read the job's options");
    return false;
  }
  const bool usable = check_raster_header(given, own->header, format, message, size);
  papplJobDeletePrintOptions(own);
  return usable;
}
