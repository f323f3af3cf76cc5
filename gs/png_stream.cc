#include "gs/png_stream.h"

#include <cstring>

namespace {

enum State {
  SIGNATURE,   // an image's eight bytes of signature
  CHUNK_HEAD,  // a chunk's length and type
  IHDR_DATA,   // the image header's thirteen bytes
  CHUNK_DATA,  // any other chunk's data, skipped
  CHUNK_CRC,   // a chunk's check value, skipped
};

constexpr uint8_t SIGNATURE_BYTES[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
constexpr uint32_t IHDR = 0x49484452;
constexpr uint32_t IEND = 0x49454e44;
constexpr uint32_t LARGEST_CHUNK = 0x7fffffff;

uint32_t big_endian(const uint8_t* bytes) {
  return (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) | (uint32_t{bytes[2]} << 8) |
         uint32_t{bytes[3]};
}

bool is_letter(uint8_t byte) {
  return (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z');
}

bool refuse(PngStream* stream, const char* fault) {
  stream->fault = fault;
  return false;
}

void expect(PngStream* stream, State state, uint32_t bytes) {
  stream->state = state;
  stream->needed = bytes;
  stream->filled = 0;
}

// Reads the field just completed and says what comes next.
bool take_field(PngStream* stream) {
  const uint8_t* field = stream->field;
  switch (stream->state) {
    case SIGNATURE:
      if (std::memcmp(field, SIGNATURE_BYTES, sizeof SIGNATURE_BYTES) != 0) {
        return refuse(stream, "no PNG signature");
      }
      stream->chunk_type = 0;
      expect(stream, CHUNK_HEAD, 8);
      return true;
    case CHUNK_HEAD: {
      const uint32_t length = big_endian(field);
      const uint32_t type = big_endian(field + 4);
      if (length > LARGEST_CHUNK) return refuse(stream, "a chunk longer than PNG allows");
      for (int i = 4; i < 8; ++i) {
        if (!is_letter(field[i])) return refuse(stream, "a chunk type that is not four letters");
      }
      const bool first = stream->chunk_type == 0;
      if (first != (type == IHDR)) return refuse(stream, "IHDR is not the first chunk");
      stream->chunk_type = type;
      if (type == IHDR) {
        if (length != 13) return refuse(stream, "an IHDR that is not 13 bytes");
        expect(stream, IHDR_DATA, 13);
      } else if (type == IEND && length != 0) {
        return refuse(stream, "an IEND that is not empty");
      } else {
        expect(stream, CHUNK_DATA, length);
      }
      return true;
    }
    case IHDR_DATA:
      if (big_endian(field) != stream->width || big_endian(field + 4) != stream->height) {
        return refuse(stream, "an image of another size");
      }
      if (field[8] != 8 || field[9] != stream->colour_type) {
        return refuse(stream, "an image of another colour type or depth");
      }
      expect(stream, CHUNK_CRC, 4);
      return true;
    case CHUNK_DATA:
      expect(stream, CHUNK_CRC, 4);
      return true;
    default:  // CHUNK_CRC
      if (stream->chunk_type == IEND) {
        ++stream->images;
        expect(stream, SIGNATURE, 8);
      } else {
        expect(stream, CHUNK_HEAD, 8);
      }
      return true;
  }
}

}  // namespace

void png_stream_start(PngStream* stream, uint32_t width, uint32_t height, uint8_t colour_type) {
  *stream = PngStream{};
  stream->width = width;
  stream->height = height;
  stream->colour_type = colour_type;
  expect(stream, SIGNATURE, 8);
}

bool png_stream_feed(PngStream* stream, const uint8_t* data, size_t size) {
  if (stream->fault != nullptr) return false;
  while (size > 0) {
    // Chunk data is counted, not kept; every other field is gathered whole.
    size_t take = size < stream->needed ? size : stream->needed;
    if (stream->state != CHUNK_DATA) {
      std::memcpy(stream->field + stream->filled, data, take);
      stream->filled += static_cast<uint32_t>(take);
    }
    // Anything else than PNG is refused from its first byte, before it can
    // be passed on.
    if (stream->state == SIGNATURE &&
        std::memcmp(stream->field, SIGNATURE_BYTES, stream->filled) != 0) {
      return refuse(stream, "no PNG signature");
    }
    stream->needed -= static_cast<uint32_t>(take);
    data += take;
    size -= take;
    while (stream->needed == 0) {
      if (!take_field(stream)) return false;
    }
  }
  return true;
}

bool png_stream_finish(PngStream* stream) {
  if (stream->fault != nullptr) return false;
  if (stream->state != SIGNATURE || stream->filled != 0) {
    return refuse(stream, "the stream ends inside an image");
  }
  if (stream->images == 0) return refuse(stream, "no image");
  return true;
}
