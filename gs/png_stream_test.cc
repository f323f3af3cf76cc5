#include "gs/png_stream.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

std::string be32(uint32_t value) {
  return {static_cast<char>(value >> 24), static_cast<char>(value >> 16),
          static_cast<char>(value >> 8), static_cast<char>(value)};
}

std::string chunk(const std::string& type, const std::string& data) {
  return be32(static_cast<uint32_t>(data.size())) + type + data + "CRC!";
}

std::string image(uint32_t width, uint32_t height, char colour_type) {
  return std::string("\x89PNG\r\n\x1a\n", 8) +
         chunk("IHDR", be32(width) + be32(height) + std::string{8, colour_type, 0, 0, 0}) +
         chunk("IDAT", std::string(100, 'x')) + chunk("IEND", "");
}

// Feeds `bytes` in pieces of `piece` bytes; returns the fault, or "" for a
// sound stream.
std::string check(const std::string& bytes, size_t piece) {
  PngStream stream;
  png_stream_start(&stream, 40, 30, PNG_RGB);
  for (size_t at = 0; at < bytes.size(); at += piece) {
    const auto* data = reinterpret_cast<const uint8_t*>(bytes.data()) + at;
    if (!png_stream_feed(&stream, data, std::min(piece, bytes.size() - at))) return stream.fault;
  }
  return png_stream_finish(&stream) ? "" : stream.fault;
}

TEST(PngStream, PassesOnlyWholeImagesOfTheAskedKind) {
  const std::string good = image(40, 30, PNG_RGB);
  std::string long_chunk = good;
  long_chunk.replace(33, 4, "\x80\0\0\0", 4);
  const struct {
    std::string bytes;
    const char* fault;
  } cases[] = {
      {good, ""},
      {good + good + good, ""},
      {"", "no image"},
      {good.substr(0, good.size() - 1), "the stream ends inside an image"},
      {good + "\x89PNG", "the stream ends inside an image"},
      {"text\n", "no PNG signature"},
      {good + "Hello, printer\n", "no PNG signature"},
      {"%PDF-1.7\n", "no PNG signature"},
      {image(41, 30, PNG_RGB), "an image of another size"},
      {image(40, 31, PNG_RGB), "an image of another size"},
      {image(40, 30, PNG_GREY), "an image of another colour type or depth"},
      {good.substr(0, 8) + chunk("IDAT", "") + chunk("IEND", ""), "IHDR is not the first chunk"},
      {good.substr(0, 33) + chunk("IHDR", std::string(13, '\0')), "IHDR is not the first chunk"},
      {good.substr(0, 33) + chunk("ID1T", ""), "a chunk type that is not four letters"},
      {good.substr(0, 33) + chunk("IEND", "x"), "an IEND that is not empty"},
      {long_chunk, "a chunk longer than PNG allows"},
  };
  for (const auto& c : cases) {
    for (size_t piece : {size_t{1}, size_t{7}, size_t{4096}}) {
      EXPECT_EQ(check(c.bytes, piece), c.fault) << c.fault << ", pieces of " << piece;
    }
  }
}

// Every one of a chunk type's four bytes must be a letter, either case; the
// bytes just outside the letters' ranges are not.
TEST(PngStream, TakesOnlyFourLettersAsAChunkType) {
  const std::string head = image(40, 30, PNG_RGB).substr(0, 33);
  const std::string tail = chunk("IEND", "");
  const struct {
    const char* type;
    const char* fault;
  } cases[] = {
      {"AZaz", ""},
      {"zaZA", ""},
      {"1DAT", "a chunk type that is not four letters"},
      {"I DT", "a chunk type that is not four letters"},
      {"IDA1", "a chunk type that is not four letters"},
      {"@DAT", "a chunk type that is not four letters"},
      {"I[AT", "a chunk type that is not four letters"},
      {"ID`T", "a chunk type that is not four letters"},
      {"IDA{", "a chunk type that is not four letters"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(check(head + chunk(c.type, "data") + tail, 4096), c.fault) << c.type;
  }
}

// An IHDR one byte short or long is refused for its length, not for
// whatever its bytes would make of the chunks after it.
TEST(PngStream, TakesOnlyAThirteenByteIhdr) {
  const std::string header = be32(40) + be32(30) + std::string{8, PNG_RGB, 0, 0, 0};
  const std::string rest = chunk("IDAT", std::string(100, 'x')) + chunk("IEND", "");
  const struct {
    std::string ihdr;
    const char* fault;
  } cases[] = {
      {header, ""},
      {header.substr(0, 12), "an IHDR that is not 13 bytes"},
      {header + std::string(1, '\0'), "an IHDR that is not 13 bytes"},
      {header + "IDAT", "an IHDR that is not 13 bytes"},
  };
  for (const auto& c : cases) {
    const std::string bytes = std::string("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR", c.ihdr) + rest;
    EXPECT_EQ(check(bytes, 4096), c.fault) << c.ihdr.size() << " bytes";
  }
}

// Once refused, a stream stays refused for what it was refused for, however
// much more it is fed, even whole images.
TEST(PngStream, StaysRefusedWhateverComesAfter) {
  const std::string good = image(40, 30, PNG_RGB);
  for (const std::string& start : {std::string("text\n"), image(41, 30, PNG_RGB)}) {
    PngStream stream;
    png_stream_start(&stream, 40, 30, PNG_RGB);
    const auto* bytes = reinterpret_cast<const uint8_t*>(start.data());
    ASSERT_FALSE(png_stream_feed(&stream, bytes, start.size()));
    const char* fault = stream.fault;
    for (int round = 0; round < 20; ++round) {
      for (size_t at = 0; at < good.size(); at += 8) {
        const auto* data = reinterpret_cast<const uint8_t*>(good.data()) + at;
        EXPECT_FALSE(png_stream_feed(&stream, data, std::min<size_t>(8, good.size() - at)));
      }
    }
    EXPECT_FALSE(png_stream_finish(&stream));
    EXPECT_STREQ(stream.fault, fault);
  }
}

}  // namespace
