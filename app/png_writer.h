// Turns a job's raster, page by page and line by line, into PNG images of
// exactly the printer's raster size: 8-bit RGB or grey, cropped or padded
// with white where the job's page is another size, and turned a quarter
// when a portrait page goes on a size that the tables hold landscape. A
// turned page is held only as far as it reaches the output, within a fixed
// budget; a page that ends before its last line is refused, never padded.

#ifndef RAVO_APP_PNG_WRITER_H_
#define RAVO_APP_PNG_WRITER_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "gs/png_encoder.h"

// What the lines that come in hold.
enum class LineFormat {
  RGB8,    // 3 bytes a pixel, red first
  RGB16,   // 6 bytes a pixel, big-endian samples
  GREY8,   // 1 byte a pixel, 255 white
  GREY16,  // 2 bytes a pixel, big-endian
  BLACK8,  // 1 byte a pixel, 0 white
  BLACK1,  // 1 bit a pixel, set for black, most significant first
};

struct InputPage {
  LineFormat format;
  uint32_t width;   // pixels a line
  uint32_t height;  // lines
};

struct OutputPage {
  uint32_t width;
  uint32_t height;
  bool grey;
  int zlib_level;
};

// Where the encoded bytes go; false when they could not be taken.
struct PngSink {
  bool (*write)(void* context, const void* data, size_t size);
  void* context;
  // Shown each row of the output, counted from 0, just before it is
  // encoded; may be null.
  void (*row_seen)(void* context, uint32_t y, const uint8_t* row) = nullptr;
  void* row_context = nullptr;
};

// The zlib level of the app's PNG images, which gs/png_encoder.h's
// defaults give all of ravo's; see doc/performance.md.
inline constexpr int PNG_ZLIB_LEVEL = PNG_ENCODER_DEFAULTS.level;

// Converts one line of `in` into `out` pixels of the output's kind,
// cropping or padding with white. `out` holds width * (grey ? 1 : 3) bytes.
void convert_line(const InputPage& in, const uint8_t* line, const OutputPage& page, uint8_t* out);

// The most memory a page may take while it is encoded. The largest turned
// page, an envelope at 720 dpi in colour, takes 44 MB.
inline constexpr uint64_t PAGE_BUDGET = uint64_t{64} << 20;

// The bytes one line of `in` holds, or 0 when it is empty or too wide.
uint64_t line_bytes(const InputPage& in);

// The part of a turned page that reaches the output: the first `lines`
// lines, and of each its last `columns` pixels, converted.
struct TurnedPage {
  uint32_t lines = 0;
  uint32_t columns = 0;
  std::vector<uint8_t> pixels;
};

// True when a page of `in` must be turned to go on `page`.
bool needs_turn(const InputPage& in, const OutputPage& page);

class PngWriter {
 public:
  PngWriter() = default;
  PngWriter(const PngWriter&) = delete;
  PngWriter& operator=(const PngWriter&) = delete;
  ~PngWriter();

  // Starts a page. False, with error() saying why, for an empty page, one
  // that would take more than PAGE_BUDGET, or when the encoder refused.
  bool start(const InputPage& in, const OutputPage& page, PngSink sink);
  // Takes the next line of the job's page, line_bytes(in) of them; lines past
  // the page's end are dropped. False once anything failed.
  bool line(const uint8_t* data);
  // Ends the image, padded with white to the output's height. False when
  // the job's page got fewer lines than it declared.
  bool finish();
  bool failed() const { return failed_; }
  // Why the page failed, or "".
  const char* error() const { return error_; }

 private:
  bool write_row(const uint8_t* row);
  bool fail(const char* why);
  void discard();

  InputPage in_{};
  OutputPage page_{};
  PngSink sink_{};
  PngEncoder* encoder_ = nullptr;
  std::vector<uint8_t> row_;
  TurnedPage turned_;
  bool turn_ = false;
  uint32_t lines_in_ = 0;
  uint32_t rows_out_ = 0;
  bool failed_ = false;
  char error_[160] = "";
};

#endif  // RAVO_APP_PNG_WRITER_H_
