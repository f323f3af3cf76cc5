#include "gs/raw_stream.h"

#include <cstring>

namespace {

enum State {
  MAGIC,    // "P"
  KIND,     // "6"
  BLANK,    // the blank before a number
  GAP,      // blanks and comments before a number
  COMMENT,  // a comment, to the end of its line
  NUMBER,   // digits
  SAMPLES,  // the page's samples
  PCX_HEADER,
  PCX_DATA,     // a run's count, or bytes that stand for themselves
  PCX_RUN,      // a run's value
  PCX_PALETTE,  // a marker and 256 colours
};

constexpr uint32_t PCX_HEADER_BYTES = 128;
constexpr uint32_t PCX_PALETTE_BYTES = 769;
constexpr uint8_t PCX_RUN_CODE = 0xc0;

uint32_t little16(const uint8_t* bytes) { return bytes[0] | uint32_t{bytes[1]} << 8; }

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

RawEvent read_pcx_header(RawStream* stream) {
  const uint8_t* header = stream->field;
  // Maker, version, run-length encoding, 8 bits a pixel, one plane.
  if (header[0] != 0x0a || header[1] != 5 || header[2] != 1 || header[3] != 8 || header[65] != 1) {
    return refuse(stream, "no PCX header");
  }
  if (little16(header + 4) != 0 || little16(header + 6) != 0 ||
      little16(header + 8) + 1 != stream->width || little16(header + 10) + 1 != stream->height) {
    return refuse(stream, "a page of another size");
  }
  // Rows are padded to an even number of bytes.
  if (little16(header + 66) != stream->width + (stream->width & 1)) {
    return refuse(stream, "a malformed header");
  }
  stream->line_bytes = little16(header + 66);
  stream->column = 0;
  stream->run_count = 0;
  stream->remaining = uint64_t{stream->line_bytes} * stream->height;
  stream->state = PCX_DATA;
  ++stream->pages;
  return RAW_PAGE;
}

// Moves `bytes` bytes of rows on, and says how many of their first ones are
// pixels rather than a row's padding.
size_t advance(RawStream* stream, uint32_t bytes) {
  const uint32_t start = stream->column;
  const uint32_t end = start + bytes;
  stream->column = end == stream->line_bytes ? 0 : end;
  stream->remaining -= bytes;
  return start >= stream->width ? 0 : (end < stream->width ? end : stream->width) - start;
}

RawEvent next_pcx(RawStream* stream, const uint8_t** data, size_t* size, const uint8_t** pixels,
                  size_t* count) {
  for (;;) {
    switch (stream->state) {
      case PCX_HEADER: {
        if (*size == 0) return RAW_MORE;
        const size_t take =
            PCX_HEADER_BYTES - stream->filled < *size ? PCX_HEADER_BYTES - stream->filled : *size;
        std::memcpy(stream->field + stream->filled, *data, take);
        stream->filled += static_cast<uint32_t>(take);
        *data += take;
        *size -= take;
        if (stream->field[0] != 0x0a) return refuse(stream, "no PCX header");
        if (stream->filled == PCX_HEADER_BYTES) return read_pcx_header(stream);
        break;
      }
      case PCX_DATA: {
        if (stream->remaining == 0) {
          stream->state = PCX_PALETTE;
          stream->filled = 0;
          break;
        }
        // Decodes runs and bytes that stand for themselves into `decoded`
        // until it is full, the page's rows end, or the bytes given do.
        size_t produced = 0;
        const size_t room = sizeof stream->decoded;
        while (produced < room && stream->remaining > 0) {
          const uint32_t row_left = stream->line_bytes - stream->column;
          const auto most =
              static_cast<uint32_t>(row_left < room - produced ? row_left : room - produced);
          if (stream->run_count > 0) {
            const uint32_t part = stream->run_count < most ? stream->run_count : most;
            stream->run_count -= part;
            const size_t used = advance(stream, part);
            std::memset(stream->decoded + produced, stream->run_value, used);
            produced += used;
            continue;
          }
          if (*size == 0) break;
          if (**data >= PCX_RUN_CODE) {
            stream->run_count = **data & 0x3fU;
            if (stream->run_count == 0) return refuse(stream, "a malformed page");
            ++*data;
            --*size;
            if (*size == 0) {
              stream->state = PCX_RUN;
              break;
            }
            stream->run_value = **data;
            ++*data;
            --*size;
            continue;
          }
          uint32_t literal = 0;
          while (literal < most && literal < *size && (*data)[literal] < PCX_RUN_CODE) ++literal;
          const size_t used = advance(stream, literal);
          std::memcpy(stream->decoded + produced, *data, used);
          produced += used;
          *data += literal;
          *size -= literal;
        }
        if (produced > 0) {
          *pixels = stream->decoded;
          *count = produced;
          return RAW_PIXELS;
        }
        if (stream->state == PCX_DATA && stream->remaining > 0 && stream->run_count == 0 &&
            *size == 0) {
          return RAW_MORE;
        }
        break;
      }
      case PCX_RUN:
        if (*size == 0) return RAW_MORE;
        stream->run_value = **data;
        ++*data;
        --*size;
        stream->state = PCX_DATA;
        break;
      case PCX_PALETTE: {
        if (*size == 0) return RAW_MORE;
        const uint32_t at = stream->filled++;
        const uint8_t expected = at == 0 ? 0x0c : static_cast<uint8_t>((at - 1) / 3);
        if (**data != expected) return refuse(stream, "a palette other than grey");
        ++*data;
        --*size;
        if (stream->filled == PCX_PALETTE_BYTES) {
          stream->state = PCX_HEADER;
          stream->filled = 0;
          return RAW_PAGE_END;
        }
        break;
      }
      default:
        return refuse(stream, "a malformed page");
    }
  }
}

}  // namespace

void raw_stream_start(RawStream* stream, uint32_t width, uint32_t height, bool grey) {
  *stream = RawStream{};
  stream->width = width;
  stream->height = height;
  stream->channels = grey ? 1 : 3;
  stream->state = grey ? PCX_HEADER : MAGIC;
}

RawEvent raw_stream_next(RawStream* stream, const uint8_t** data, size_t* size,
                         const uint8_t** pixels, size_t* count) {
  if (stream->fault != nullptr) return RAW_FAULT;
  if (stream->channels == 1) return next_pcx(stream, data, size, pixels, count);
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
        if (byte != 'P') return refuse(stream, "no P6 header");
        stream->state = KIND;
        break;
      case KIND:
        if (byte != '6') return refuse(stream, "no P6 header");
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
  if (stream->channels == 1) {
    if (stream->state != PCX_HEADER) {
      stream->fault = "a page cut short";
    } else if (stream->filled != 0) {
      stream->fault = "a header cut short";
    } else if (stream->pages == 0) {
      stream->fault = "no page";
    }
    return stream->fault == nullptr;
  }
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
