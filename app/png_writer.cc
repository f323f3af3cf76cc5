#include "app/png_writer.h"

#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <cstring>

namespace {

constexpr uint8_t WHITE = 255;

size_t channels(const OutputPage& page) { return page.grey ? 1 : 3; }

// One pixel of the job's line as red, green and blue.
void read_pixel(const InputPage& in, const uint8_t* line, uint32_t x, uint8_t* rgb) {
  switch (in.format) {
    case LineFormat::RGB8:
      std::memcpy(rgb, line + size_t{x} * 3, 3);
      return;
    case LineFormat::RGB16:
      for (size_t c = 0; c < 3; ++c) rgb[c] = line[size_t{x} * 6 + c * 2];
      return;
    case LineFormat::GREY8:
      rgb[0] = rgb[1] = rgb[2] = line[x];
      return;
    case LineFormat::GREY16:
      rgb[0] = rgb[1] = rgb[2] = line[size_t{x} * 2];
      return;
    case LineFormat::BLACK8:
      rgb[0] = rgb[1] = rgb[2] = static_cast<uint8_t>(WHITE - line[x]);
      return;
    case LineFormat::BLACK1: {
      const bool black = ((line[x / 8] >> (7 - x % 8)) & 1) != 0;
      rgb[0] = rgb[1] = rgb[2] = black ? 0 : WHITE;
      return;
    }
  }
}

uint8_t luminance(const uint8_t* rgb) {
  return static_cast<uint8_t>((rgb[0] * 77 + rgb[1] * 150 + rgb[2] * 29 + 128) >> 8);
}

void write_data(png_structp png, png_bytep data, png_size_t size) {
  const auto* sink = static_cast<const PngSink*>(png_get_io_ptr(png));
  if (!sink->write(sink->context, data, size)) png_error(png, "write failed");
}

void flush_data(png_structp /*png*/) {}

// libpng reports errors by longjmp; these wrappers hold nothing that needs
// destroying across the jump.
// NOLINTBEGIN(cert-err52-cpp)
bool begin_image(png_structp png, png_infop info, const OutputPage& page, PngSink* sink) {
  if (setjmp(png_jmpbuf(png)) != 0) return false;
  png_set_write_fn(png, sink, write_data, flush_data);
  png_set_compression_level(png, page.zlib_level);
  png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
  png_set_IHDR(png, info, page.width, page.height, 8,
               page.grey ? PNG_COLOR_TYPE_GRAY : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_BASE, PNG_FILTER_TYPE_BASE);
  png_write_info(png, info);
  return true;
}

bool put_row(png_structp png, const uint8_t* row) {
  if (setjmp(png_jmpbuf(png)) != 0) return false;
  png_write_row(png, row);
  return true;
}

bool end_image(png_structp png, png_infop info) {
  if (setjmp(png_jmpbuf(png)) != 0) return false;
  png_write_end(png, info);
  return true;
}
// NOLINTEND(cert-err52-cpp)

}  // namespace

void convert_line(const InputPage& in, const uint8_t* line, const OutputPage& page, uint8_t* out) {
  const uint32_t shared = std::min(in.width, page.width);
  uint8_t rgb[3];
  for (uint32_t x = 0; x < shared; ++x) {
    read_pixel(in, line, x, rgb);
    if (page.grey) {
      out[x] = luminance(rgb);
    } else {
      std::memcpy(out + size_t{x} * 3, rgb, 3);
    }
  }
  std::memset(out + shared * channels(page), WHITE, (page.width - shared) * channels(page));
}

bool needs_turn(const InputPage& in, const OutputPage& page) {
  return page.width > page.height && in.width < in.height;
}

PngWriter::~PngWriter() { discard(); }

void PngWriter::discard() {
  if (png_ != nullptr) {
    auto* png = static_cast<png_structp>(png_);
    auto* info = static_cast<png_infop>(info_);
    png_destroy_write_struct(&png, &info);
  }
  png_ = nullptr;
  info_ = nullptr;
}

bool PngWriter::start(const InputPage& in, const OutputPage& page, PngSink sink) {
  discard();
  in_ = in;
  page_ = page;
  sink_ = sink;
  lines_in_ = 0;
  rows_out_ = 0;
  turn_ = needs_turn(in, page);
  row_.assign(size_t{page.width} * channels(page), WHITE);
  turned_.pixels.clear();
  if (turn_) turned_.pixels.resize(size_t{in.width} * in.height * channels(page), WHITE);
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
  png_ = png;
  info_ = info;
  failed_ = info == nullptr || !begin_image(png, info, page, &sink_);
  return !failed_;
}

bool PngWriter::write_row(const uint8_t* row) {
  if (failed_ || rows_out_ >= page_.height) return !failed_;
  failed_ = !put_row(static_cast<png_structp>(png_), row);
  ++rows_out_;
  return !failed_;
}

bool PngWriter::line(const uint8_t* data) {
  if (failed_) return false;
  if (lines_in_ >= in_.height) return true;
  if (turn_) {
    const OutputPage whole{in_.width, in_.height, page_.grey, page_.zlib_level};
    convert_line(in_, data, whole,
                 turned_.pixels.data() + size_t{lines_in_} * in_.width * channels(page_));
    ++lines_in_;
    return true;
  }
  ++lines_in_;
  if (rows_out_ >= page_.height) return true;
  convert_line(in_, data, page_, row_.data());
  return write_row(row_.data());
}

bool PngWriter::finish() {
  const size_t step = channels(page_);
  if (turn_) {
    // Turned a quarter anticlockwise: the job's right edge becomes the top.
    for (uint32_t y = 0; y < page_.height && !failed_; ++y) {
      std::fill(row_.begin(), row_.end(), WHITE);
      if (y < in_.width) {
        const uint32_t column = in_.width - 1 - y;
        const uint32_t shared = std::min(in_.height, page_.width);
        for (uint32_t x = 0; x < shared; ++x) {
          const uint8_t* from = turned_.pixels.data() + (size_t{x} * in_.width + column) * step;
          std::memcpy(row_.data() + size_t{x} * step, from, step);
        }
      }
      write_row(row_.data());
    }
  }
  std::fill(row_.begin(), row_.end(), WHITE);
  while (!failed_ && rows_out_ < page_.height) write_row(row_.data());
  if (!failed_) failed_ = !end_image(static_cast<png_structp>(png_), static_cast<png_infop>(info_));
  discard();
  return !failed_;
}
