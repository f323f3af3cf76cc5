// The PNG encoder for the printer's pages: takes a page's rows of 8-bit grey
// or RGB as they come, and writes one PNG image through a sink callback
// without ever holding the whole page. Rows are gathered into bands; each
// band is filtered and compressed on its own (on worker threads when asked),
// and the bands' deflate streams, each ended with a full flush, are joined in
// order into the image's single zlib stream, whose Adler-32 is combined from
// the bands'. What is written is always whole chunks, in order, from the
// thread that hands in the rows.

#ifndef RAVO_GS_PNG_ENCODER_H_
#define RAVO_GS_PNG_ENCODER_H_

#include <cstddef>
#include <cstdint>

// PNG row filters the encoder can apply to every row.
inline constexpr uint8_t ROW_FILTER_NONE = 0;
inline constexpr uint8_t ROW_FILTER_SUB = 1;
inline constexpr uint8_t ROW_FILTER_UP = 2;

struct PngEncoderOptions {
  int level;            // zlib's compression level, 1 to 9
  uint8_t filter;       // one of ROW_FILTER_*
  uint32_t threads;     // bands compressed beside the caller; 0 compresses in the caller
  uint32_t band_bytes;  // pixel bytes in a band, rounded to whole rows (at least one)
  bool runs_only;       // look only for runs of one byte (zlib's Z_RLE), not for strings
};

// The settings chosen by measurement on the printer's pages; see
// doc/performance.md.
inline constexpr PngEncoderOptions PNG_ENCODER_DEFAULTS = {1, ROW_FILTER_UP, 2, 64 * 1024, true};

// Takes each piece of the PNG image in order; false when that failed, with
// errno set. Always called from the thread that calls the encoder.
using PngSinkWrite = bool (*)(void* context, const void* data, size_t size);

struct PngEncoder;

// Starts an image of `width` x `height` pixels, grey or RGB, 8 bits a sample,
// and writes its signature and header. Returns null when memory ran out or
// the size is zero or too large, or when the sink failed (errno set).
PngEncoder* png_encoder_start(uint32_t width, uint32_t height, bool grey,
                              const PngEncoderOptions& options, PngSinkWrite write, void* context);

// Takes the next `count` rows, each `width` samples per pixel, back to back.
// Returns false once the sink has failed (errno as it left it), or for rows
// beyond the image's height.
bool png_encoder_rows(PngEncoder* encoder, const uint8_t* rows, uint32_t count);

// Writes the rest of the image once every row has come. Returns false when
// rows are missing or the sink failed.
bool png_encoder_finish(PngEncoder* encoder);

// Stops the encoder's threads and frees it, finished or not. Null is allowed.
void png_encoder_free(PngEncoder* encoder);

#endif  // RAVO_GS_PNG_ENCODER_H_
