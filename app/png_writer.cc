#include "app/png_writer.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "gs/png_encoder.h"

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

uint64_t bits_per_pixel(LineFormat format) {
  switch (format) {
    case LineFormat::RGB8:
      return 24;
    case LineFormat::RGB16:
      return 48;
    case LineFormat::GREY8:
    case LineFormat::BLACK8:
      return 8;
    case LineFormat::GREY16:
      return 16;
    case LineFormat::BLACK1:
      return 1;
  }
  return 0;
}

uint8_t luminance(const uint8_t* rgb) {
  return static_cast<uint8_t>((rgb[0] * 77 + rgb[1] * 150 + rgb[2] * 29 + 128) >> 8);
}

// Converts `count` pixels of `line` from pixel `first` on.
void convert_span(const InputPage& in, const uint8_t* line, uint32_t first, uint32_t count,
                  bool grey, uint8_t* out) {
  uint8_t rgb[3];
  for (uint32_t x = 0; x < count; ++x) {
    read_pixel(in, line, first + x, rgb);
    if (grey) {
      out[x] = luminance(rgb);
    } else {
      std::memcpy(out + size_t{x} * 3, rgb, 3);
    }
  }
}

}  // namespace

uint64_t line_bytes(const InputPage& in) {
  constexpr uint64_t WIDEST = uint64_t{1} << 31;
  if (in.width == 0 || in.width > WIDEST) return 0;
  return (uint64_t{in.width} * bits_per_pixel(in.format) + 7) / 8;
}

void convert_line(const InputPage& in, const uint8_t* line, const OutputPage& page, uint8_t* out) {
  const uint32_t shared = std::min(in.width, page.width);
  convert_span(in, line, 0, shared, page.grey, out);
  std::memset(out + size_t{shared} * channels(page), WHITE,
              size_t{page.width - shared} * channels(page));
}

bool needs_turn(const InputPage& in, const OutputPage& page) {
  return page.width > page.height && in.width < in.height;
}

PngWriter::~PngWriter() { discard(); }

void PngWriter::discard() {
  png_encoder_free(encoder_);
  encoder_ = nullptr;
}

bool PngWriter::fail(const char* why) {
  if (!failed_) static_cast<void>(std::snprintf(error_, sizeof error_, "%s", why));
  failed_ = true;
  return false;
}

bool PngWriter::start(const InputPage& in, const OutputPage& page, PngSink sink) {
  discard();
  in_ = in;
  page_ = page;
  sink_ = sink;
  lines_in_ = 0;
  rows_out_ = 0;
  failed_ = false;
  error_[0] = '\0';
  turned_ = TurnedPage{};
  row_.clear();
  if (line_bytes(in) == 0 || in.height == 0 || page.width == 0 || page.height == 0) {
    return fail("The page is empty or too wide");
  }
  turn_ = needs_turn(in, page);
  const uint64_t row_bytes = uint64_t{page.width} * channels(page);
  uint64_t held = row_bytes;
  if (turn_) {
    turned_.lines = std::min(in.height, page.width);
    turned_.columns = std::min(in.width, page.height);
    held += uint64_t{turned_.lines} * turned_.columns * channels(page);
  }
  if (held > PAGE_BUDGET) {
    char text[sizeof error_];
    static_cast<void>(std::snprintf(text, sizeof text,
                                    "The page would take %llu MB to turn, more than the %llu MB "
                                    "the printer allows",
                                    static_cast<unsigned long long>(held >> 20),
                                    static_cast<unsigned long long>(PAGE_BUDGET >> 20)));
    return fail(text);
  }
  row_.assign(row_bytes, WHITE);
  if (turn_) turned_.pixels.assign(held - row_bytes, WHITE);
  PngEncoderOptions options = PNG_ENCODER_DEFAULTS;
  options.level = page.zlib_level;
  encoder_ =
      png_encoder_start(page.width, page.height, page.grey, options, sink.write, sink.context);
  if (encoder_ == nullptr) return fail("Unable to encode the page");
  return true;
}

bool PngWriter::write_row(const uint8_t* row) {
  if (failed_ || rows_out_ >= page_.height) return !failed_;
  if (sink_.row_seen != nullptr) sink_.row_seen(sink_.row_context, rows_out_, row);
  if (!png_encoder_rows(encoder_, row, 1)) return fail("Unable to send the page");
  ++rows_out_;
  return true;
}

bool PngWriter::line(const uint8_t* data) {
  if (failed_) return false;
  if (lines_in_ >= in_.height) return true;
  if (turn_) {
    if (lines_in_ < turned_.lines) {
      const size_t step = channels(page_);
      convert_span(in_, data, in_.width - turned_.columns, turned_.columns, page_.grey,
                   turned_.pixels.data() + size_t{lines_in_} * turned_.columns * step);
    }
    ++lines_in_;
    return true;
  }
  ++lines_in_;
  if (rows_out_ >= page_.height) return true;
  convert_line(in_, data, page_, row_.data());
  return write_row(row_.data());
}

bool PngWriter::finish() {
  if (!failed_ && lines_in_ < in_.height) {
    char text[sizeof error_];
    static_cast<void>(std::snprintf(text, sizeof text, "The page ends after %u of its %u lines",
                                    lines_in_, in_.height));
    fail(text);
  }
  const size_t step = channels(page_);
  if (turn_) {
    // Turned a quarter anticlockwise: the job's right edge becomes the top.
    for (uint32_t y = 0; y < page_.height && !failed_; ++y) {
      std::fill(row_.begin(), row_.end(), WHITE);
      if (y < turned_.columns) {
        const uint32_t column = turned_.columns - 1 - y;
        for (uint32_t x = 0; x < turned_.lines; ++x) {
          const uint8_t* from =
              turned_.pixels.data() + (size_t{x} * turned_.columns + column) * step;
          std::memcpy(row_.data() + size_t{x} * step, from, step);
        }
      }
      write_row(row_.data());
    }
  }
  std::fill(row_.begin(), row_.end(), WHITE);
  while (!failed_ && rows_out_ < page_.height) write_row(row_.data());
  if (!failed_ && !png_encoder_finish(encoder_)) {
    fail("Unable to send the page");
  }
  discard();
  turned_ = TurnedPage{};
  return !failed_;
}
