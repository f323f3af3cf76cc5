// The check that keeps anything but the pages asked for out of the encoder.
// Colour pages come from gs as raw PPM: a binary header ("P6") of exactly
// the job's width and height with a maxval of 255, then exactly width x
// height x 3 bytes of samples. Grey pages come as 8-bit PCX, whose pixels
// are the very ones gs's PNG device for grey draws (its raw PGM rounds grey
// otherwise): a header of exactly the job's size, rows compressed in runs,
// and the identity grey palette. Bytes are checked as they arrive, and the
// samples of a page are handed on as they come, so that no page is ever
// held whole.

#ifndef RAVO_GS_RAW_STREAM_H_
#define RAVO_GS_RAW_STREAM_H_

#include <cstddef>
#include <cstdint>

enum RawEvent {
  RAW_MORE,      // every byte given has been read; give more
  RAW_PAGE,      // a page's header has been read
  RAW_PIXELS,    // samples of the current page, in `pixels`
  RAW_PAGE_END,  // the current page's last sample has been handed on
  RAW_FAULT,     // the stream is not what was asked for: see `fault`
};

struct RawStream {
  // What every page must be.
  uint32_t width;
  uint32_t height;
  uint32_t channels;
  // Where the reader stands.
  int state;
  uint32_t header_bytes;  // of the current header so far
  uint64_t number;        // the header's number being read
  uint32_t numbers;       // of the header's three numbers, those read
  uint64_t remaining;     // samples of the current page still to come
  uint32_t pages;         // pages begun
  const char* fault;      // why the stream is unsound, or null
  // For PCX: the header or palette bytes read, a row's bytes with its
  // padding, where the row stands, and the run being handed on.
  uint8_t field[128];
  uint32_t filled;
  uint32_t line_bytes;
  uint32_t column;
  uint32_t run_count;
  uint8_t run_value;
  uint8_t decoded[16384];  // pixels handed on
};

// Starts checking a stream of pages of `width` x `height` pixels: PCX for
// grey, PPM for RGB.
void raw_stream_start(RawStream* stream, uint32_t width, uint32_t height, bool grey);

// Reads from `*data`, `*size` bytes, up to the next event, and moves both
// past what it read. For RAW_PIXELS, `*pixels` and `*count` give the samples,
// which lie in what was read. Once RAW_FAULT, always RAW_FAULT.
RawEvent raw_stream_next(RawStream* stream, const uint8_t** data, size_t* size,
                         const uint8_t** pixels, size_t* count);

// Returns true when the stream has ended right after a whole page, and at
// least one came; otherwise sets `fault` and returns false.
bool raw_stream_finish(RawStream* stream);

#endif  // RAVO_GS_RAW_STREAM_H_
