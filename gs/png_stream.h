// The check that keeps anything but the printer's raster off the printer: a
// stream of one or more PNG images back to back, each with its signature,
// whole chunks, an IHDR of the size and colour type the job asked for, and an
// IEND. Bytes are checked as they arrive, so that what is sound can be passed
// on before the stream ends.

#ifndef RAVO_GS_PNG_STREAM_H_
#define RAVO_GS_PNG_STREAM_H_

#include <cstddef>
#include <cstdint>

// PNG colour types that gs's devices write: pnggray and png16m.
inline constexpr uint8_t PNG_GREY = 0;
inline constexpr uint8_t PNG_RGB = 2;

struct PngStream {
  // What every image must be.
  uint32_t width;
  uint32_t height;
  uint8_t colour_type;
  // Where the reader stands.
  int state;
  uint32_t needed;      // bytes still to come of the current field or chunk data
  uint8_t field[13];    // the signature, a chunk's length and type, or IHDR's data
  uint32_t filled;      // bytes of `field` held
  uint32_t chunk_type;  // of the chunk being read, as four bytes big-endian
  uint32_t images;      // whole images so far
  const char* fault;    // why the stream is unsound, or null
};

// Starts checking a stream of images of `width` x `height` pixels, 8 bits a
// sample, of `colour_type`.
void png_stream_start(PngStream* stream, uint32_t width, uint32_t height, uint8_t colour_type);

// Checks the next `size` bytes. Returns true while everything so far is
// sound; false, with `fault` set, from the first byte that is not. Once
// false, it stays false.
bool png_stream_feed(PngStream* stream, const uint8_t* data, size_t size);

// Returns true when the stream has ended right after a whole image, and at
// least one came; otherwise sets `fault` and returns false.
bool png_stream_finish(PngStream* stream);

#endif  // RAVO_GS_PNG_STREAM_H_
