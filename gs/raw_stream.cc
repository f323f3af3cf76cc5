#include "gs/raw_stream.h"

namespace {

enum State {
  MAGIC,    // "P"
  KIND,     // "6" or "5"
  BLANK,    // the blank before a number
  GAP,      // blanks and comments before a number
  COMMENT,  // a comment, to the end of its line
  NUMBER,   // digits
  SAMPLES,  // the page's samples
};

// A longer header is not gs's: its own has one comment line.
constexpr uint32_t MAX_HEADER_BYTES = 1024;
constexpr uint64_t MAX_NUMBER = 0xffffffffU;

bool blank(uint8_t byte) {
  return byte == ' ' || byte == '\t' || byte == '\n' || byte == '\r' || byte == '\v' ||
         byte == '\f';
}

RawEvent refuse(RawStream* stream, const char* fault) {
  stream->fault = fault;
  return RAW_FAULT;
}

// Takes the header's last number; true when the page is the one asked for.
RawEvent end_number(RawStream* stream) {
  const uint64_t number = stream->number;
  const uint32_t which = stream->numbers++;
  stream->number = 0;
  if ((which == 0 && number != stream->width) || (which == 1 && number != stream->height)) {
    return refuse(stream, "a page of another size");
  }
  if (which == 2) {
    if (number != 255) return refuse(stream, "samples of other than 8 bits");
    stream->state = SAMPLES;
    stream->remaining = uint64_t{stream->width} * stream->height * stream->channels;
    ++stream->pages;
    return RAW_PAGE;
  }
  stream->state = GAP;
  return RAW_MORE;
}

}  // namespace

void raw_stream_start(RawStream* stream, uint32_t width, uint32_t height, bool grey) {
  *stream = RawStream{};
  stream->width = width;
  stream->height = height;
  stream->channels = grey ? 1 : 3;
  stream->state = MAGIC;
}

RawEvent raw_stream_next(RawStream* stream, const uint8_t** data, size_t* size,
                         const uint8_t** pixels, size_t* count) {
  if (stream->fault != nullptr) return RAW_FAULT;
  if (stream->state == SAMPLES) {
    if (stream->remaining == 0) {
      stream->state = MAGIC;
      stream->header_bytes = 0;
      stream->numbers = 0;
      return RAW_PAGE_END;
    }
    if (*size == 0) return RAW_MORE;
    const size_t take = *size < stream->remaining ? *size : static_cast<size_t>(stream->remaining);
    *pixels = *data;
    *count = take;
    *data += take;
    *size -= take;
    stream->remaining -= take;
    return RAW_PIXELS;
  }
  while (*size > 0) {
    const uint8_t byte = **data;
    ++*data;
    --*size;
    if (++stream->header_bytes > MAX_HEADER_BYTES) return refuse(stream, "a header too long");
    switch (stream->state) {
      case MAGIC:
        if (byte != 'P')
          return refuse(stream, stream->channels == 1 ? "no P5 header" : "no P6 header");
        stream->state = KIND;
        break;
      case KIND:
        if (byte != (stream->channels == 1 ? uint8_t{'5'} : uint8_t{'6'})) {
          return refuse(stream, stream->channels == 1 ? "no P5 header" : "no P6 header");
        }
        stream->state = BLANK;
        break;
      case BLANK:
        if (!blank(byte)) return refuse(stream, "a malformed header");
        stream->state = GAP;
        break;
      case GAP:
        if (byte == '#') {
          stream->state = COMMENT;
        } else if (byte >= '0' && byte <= '9') {
          stream->number = byte - '0';
          stream->state = NUMBER;
        } else if (!blank(byte)) {
          return refuse(stream, "a malformed header");
        }
        break;
      case COMMENT:
        if (byte == '\n' || byte == '\r') stream->state = GAP;
        break;
      case NUMBER:
        if (byte >= '0' && byte <= '9') {
          stream->number = stream->number * 10 + (byte - '0');
          if (stream->number > MAX_NUMBER) return refuse(stream, "a malformed header");
        } else if (blank(byte)) {
          // The single blank after the last number ends the header.
          const RawEvent event = end_number(stream);
          if (event != RAW_MORE) return event;
        } else {
          return refuse(stream, "a malformed header");
        }
        break;
      default:
        break;
    }
  }
  return RAW_MORE;
}

bool raw_stream_finish(RawStream* stream) {
  if (stream->fault != nullptr) return false;
  if (stream->state == SAMPLES && stream->remaining > 0) {
    stream->fault = "a page cut short";
  } else if (stream->state == SAMPLES) {
    // The page is whole; its end was not asked for.
  } else if (stream->state != MAGIC || stream->header_bytes != 0) {
    stream->fault = "a header cut short";
  } else if (stream->pages == 0) {
    stream->fault = "no page";
  }
  return stream->fault == nullptr;
}
