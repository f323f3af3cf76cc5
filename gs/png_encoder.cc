#include "gs/png_encoder.h"

#include <pthread.h>
#include <zlib.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

constexpr uint32_t MAX_THREADS = 8;
// Bands waiting to be written, beyond those being compressed and filled.
constexpr uint32_t SPARE_BANDS = 2;
constexpr uint32_t MAX_BANDS = MAX_THREADS + SPARE_BANDS;
// No image row may be longer than this, nor a band.
constexpr uint64_t MAX_ROW_BYTES = uint64_t{1} << 28;

enum BandState { BAND_FREE, BAND_QUEUED, BAND_WORKING, BAND_DONE };

// One band of rows: first held as they came, each after a byte for its
// filter, then filtered in place and compressed into `packed`.
struct Band {
  uint8_t* rows;
  uint8_t* above;  // the row before the band, as it came; zeros for the first
  uint8_t* packed;
  size_t packed_size;
  uint32_t count;  // rows held
  uint32_t adler;  // of the filtered rows
  bool first;      // starts the image: `packed` begins with the zlib header
  bool last;       // ends it: the stream is finished, not flushed
  bool failed;     // compressing failed
  BandState state;
};

void put_be32(uint8_t* to, uint32_t value) {
  to[0] = static_cast<uint8_t>(value >> 24);
  to[1] = static_cast<uint8_t>(value >> 16);
  to[2] = static_cast<uint8_t>(value >> 8);
  to[3] = static_cast<uint8_t>(value);
}

}  // namespace

struct PngEncoder {
  uint32_t width;
  uint32_t height;
  uint32_t channels;
  size_t stride;  // bytes of a row's samples
  PngEncoderOptions options;
  PngSinkWrite write;
  void* context;

  uint32_t band_rows;
  size_t packed_capacity;
  uint32_t band_count;
  Band bands[MAX_BANDS];
  uint8_t* carry;  // the last row of the band before the one being filled
  z_stream inline_stream;
  bool inline_ready;

  uint32_t rows_in;    // rows handed in
  uint64_t filling;    // sequence number of the band being filled
  uint64_t submitted;  // bands handed to be compressed
  uint64_t taken;      // bands a worker has taken
  uint64_t written;    // bands written
  uint32_t adler;      // of every band written
  bool sink_failed;
  int sink_error;

  pthread_mutex_t lock;
  pthread_cond_t changed;
  bool stopping;
  pthread_t workers[MAX_THREADS];
  uint32_t worker_count;
};

namespace {

Band& band_at(PngEncoder* encoder, uint64_t sequence) {
  return encoder->bands[sequence % encoder->band_count];
}

// Filters the band's rows in place, bottom row first, so that each row's
// neighbour above is still as it came.
void filter_band(const PngEncoder& encoder, Band* band) {
  const size_t stride = encoder.stride;
  const size_t bpp = encoder.channels;
  for (uint32_t y = band->count; y-- > 0;) {
    uint8_t* line = band->rows + y * (stride + 1);
    line[0] = encoder.options.filter;
    uint8_t* row = line + 1;
    if (encoder.options.filter == ROW_FILTER_UP) {
      const uint8_t* above = y > 0 ? row - (stride + 1) : band->above;
      for (size_t i = 0; i < stride; ++i) row[i] = static_cast<uint8_t>(row[i] - above[i]);
    } else if (encoder.options.filter == ROW_FILTER_SUB) {
      for (size_t i = stride; i-- > bpp;) row[i] = static_cast<uint8_t>(row[i] - row[i - bpp]);
    }
  }
}

bool start_stream(z_stream* stream, const PngEncoderOptions& options) {
  *stream = z_stream{};
  return deflateInit2(stream, options.level, Z_DEFLATED, -15, 8,
                      options.runs_only ? Z_RLE : Z_DEFAULT_STRATEGY) == Z_OK;
}

// Filters and compresses one band with `stream`, a raw deflate stream.
void compress_band(const PngEncoder& encoder, z_stream* stream, Band* band) {
  filter_band(encoder, band);
  const size_t size = band->count * (encoder.stride + 1);
  band->adler = static_cast<uint32_t>(adler32(1, band->rows, static_cast<uInt>(size)));
  size_t header = 0;
  if (band->first) {
    // Deflate, a 32 KiB window, the fastest compression: 0x78 0x01.
    band->packed[0] = 0x78;
    band->packed[1] = 0x01;
    header = 2;
  }
  band->failed = deflateReset(stream) != Z_OK;
  stream->next_in = band->rows;
  stream->avail_in = static_cast<uInt>(size);
  stream->next_out = band->packed + header;
  stream->avail_out = static_cast<uInt>(encoder.packed_capacity - header);
  const int result = deflate(stream, band->last ? Z_FINISH : Z_FULL_FLUSH);
  band->failed = band->failed || stream->avail_in != 0 ||
                 (band->last ? result != Z_STREAM_END : result != Z_OK || stream->avail_out == 0);
  band->packed_size = encoder.packed_capacity - stream->avail_out;
}

void* work(void* argument) {
  auto* encoder = static_cast<PngEncoder*>(argument);
  z_stream stream;
  const bool ready = start_stream(&stream, encoder->options);
  pthread_mutex_lock(&encoder->lock);
  for (;;) {
    while (!encoder->stopping && encoder->taken == encoder->submitted) {
      pthread_cond_wait(&encoder->changed, &encoder->lock);
    }
    if (encoder->stopping) break;
    Band& band = band_at(encoder, encoder->taken++);
    band.state = BAND_WORKING;
    pthread_mutex_unlock(&encoder->lock);
    if (ready) {
      compress_band(*encoder, &stream, &band);
    } else {
      band.failed = true;
    }
    pthread_mutex_lock(&encoder->lock);
    band.state = BAND_DONE;
    pthread_cond_broadcast(&encoder->changed);
  }
  pthread_mutex_unlock(&encoder->lock);
  if (ready) deflateEnd(&stream);
  return nullptr;
}

bool sink(PngEncoder* encoder, const void* data, size_t size) {
  if (encoder->sink_failed) return false;
  errno = 0;
  if (encoder->write(encoder->context, data, size)) return true;
  encoder->sink_failed = true;
  encoder->sink_error = errno;
  return false;
}

bool write_chunk(PngEncoder* encoder, const char* type, const uint8_t* data, size_t size) {
  uint8_t head[8];
  put_be32(head, static_cast<uint32_t>(size));
  std::memcpy(head + 4, type, 4);
  uLong crc = crc32(0, head + 4, 4);
  if (size > 0) crc = crc32(crc, data, static_cast<uInt>(size));
  uint8_t tail[4];
  put_be32(tail, static_cast<uint32_t>(crc));
  return sink(encoder, head, sizeof head) && (size == 0 || sink(encoder, data, size)) &&
         sink(encoder, tail, sizeof tail);
}

// Writes the oldest compressed band as an IDAT chunk. Called without the lock.
bool write_band(PngEncoder* encoder, Band* band) {
  if (band->failed) {
    encoder->sink_failed = true;
    encoder->sink_error = ENOMEM;
    return false;
  }
  const size_t size = band->count * (encoder->stride + 1);
  encoder->adler = static_cast<uint32_t>(
      adler32_combine(encoder->adler, band->adler, static_cast<z_off_t>(size)));
  if (band->last) {
    put_be32(band->packed + band->packed_size, encoder->adler);
    band->packed_size += 4;
  }
  return write_chunk(encoder, "IDAT", band->packed, band->packed_size);
}

// Writes compressed bands in order: those already done, or, when `until` is
// above what is written, waiting for the bands before it.
bool write_done(PngEncoder* encoder, uint64_t until) {
  while (encoder->written < encoder->submitted) {
    Band& band = band_at(encoder, encoder->written);
    if (encoder->worker_count > 0) {
      pthread_mutex_lock(&encoder->lock);
      while (band.state != BAND_DONE && encoder->written < until) {
        pthread_cond_wait(&encoder->changed, &encoder->lock);
      }
      const bool done = band.state == BAND_DONE;
      pthread_mutex_unlock(&encoder->lock);
      if (!done) break;
    }
    const bool written = write_band(encoder, &band);
    band.state = BAND_FREE;
    ++encoder->written;
    if (!written) return false;
  }
  return !encoder->sink_failed;
}

// Hands the band being filled to be compressed, and starts the next one.
bool submit(PngEncoder* encoder) {
  Band& band = band_at(encoder, encoder->filling);
  band.last = encoder->rows_in == encoder->height;
  // The next band's rows are filtered against this band's last row as it came.
  std::memcpy(encoder->carry, band.rows + (band.count - 1) * (encoder->stride + 1) + 1,
              encoder->stride);
  if (encoder->worker_count == 0) {
    compress_band(*encoder, &encoder->inline_stream, &band);
    band.state = BAND_DONE;
    ++encoder->submitted;
  } else {
    pthread_mutex_lock(&encoder->lock);
    band.state = BAND_QUEUED;
    ++encoder->submitted;
    pthread_cond_broadcast(&encoder->changed);
    pthread_mutex_unlock(&encoder->lock);
  }
  ++encoder->filling;
  // A band is free to fill again only once it has been written.
  const uint64_t free_from =
      encoder->filling >= encoder->band_count ? encoder->filling - encoder->band_count + 1 : 0;
  if (!write_done(encoder, free_from)) return false;
  if (band.last) return true;
  Band& next = band_at(encoder, encoder->filling);
  next.count = 0;
  next.first = false;
  std::memcpy(next.above, encoder->carry, encoder->stride);
  return true;
}

void stop_workers(PngEncoder* encoder) {
  pthread_mutex_lock(&encoder->lock);
  encoder->stopping = true;
  pthread_cond_broadcast(&encoder->changed);
  pthread_mutex_unlock(&encoder->lock);
  for (uint32_t i = 0; i < encoder->worker_count; ++i) pthread_join(encoder->workers[i], nullptr);
  encoder->worker_count = 0;
}

}  // namespace

PngEncoder* png_encoder_start(uint32_t width, uint32_t height, bool grey,
                              const PngEncoderOptions& options, PngSinkWrite write, void* context) {
  const uint32_t channels = grey ? 1 : 3;
  const uint64_t stride = uint64_t{width} * channels;
  if (width == 0 || height == 0 || width > 0x7fffffffU || height > 0x7fffffffU ||
      stride > MAX_ROW_BYTES) {
    errno = EINVAL;
    return nullptr;
  }
  auto* encoder = static_cast<PngEncoder*>(std::calloc(1, sizeof(PngEncoder)));
  if (encoder == nullptr) return nullptr;
  encoder->width = width;
  encoder->height = height;
  encoder->channels = channels;
  encoder->stride = static_cast<size_t>(stride);
  encoder->options = options;
  if (encoder->options.level < 1 || encoder->options.level > 9) encoder->options.level = 1;
  if (encoder->options.threads > MAX_THREADS) encoder->options.threads = MAX_THREADS;
  encoder->write = write;
  encoder->context = context;
  encoder->adler = 1;
  const uint64_t rows = options.band_bytes / stride;
  encoder->band_rows = static_cast<uint32_t>(rows < 1 ? 1 : rows > height ? height : rows);
  const size_t band_size = encoder->band_rows * (encoder->stride + 1);
  pthread_mutex_init(&encoder->lock, nullptr);
  pthread_cond_init(&encoder->changed, nullptr);

  encoder->inline_ready = start_stream(&encoder->inline_stream, encoder->options);
  // Room for the zlib header, the flush's empty block and the Adler-32.
  encoder->packed_capacity =
      encoder->inline_ready
          ? deflateBound(&encoder->inline_stream, static_cast<uLong>(band_size)) + 16
          : 0;
  encoder->band_count = encoder->options.threads + SPARE_BANDS;
  encoder->carry = static_cast<uint8_t*>(std::malloc(encoder->stride));
  bool ready = encoder->inline_ready && encoder->carry != nullptr;
  for (uint32_t i = 0; ready && i < encoder->band_count; ++i) {
    Band& band = encoder->bands[i];
    band.rows = static_cast<uint8_t*>(std::malloc(band_size));
    band.above = static_cast<uint8_t*>(std::calloc(1, encoder->stride));
    band.packed = static_cast<uint8_t*>(std::malloc(encoder->packed_capacity + 4));
    ready = band.rows != nullptr && band.above != nullptr && band.packed != nullptr;
  }
  // Fewer threads than asked, down to none, when the system has no more.
  for (uint32_t i = 0; ready && i < encoder->options.threads; ++i) {
    if (pthread_create(&encoder->workers[i], nullptr, work, encoder) != 0) break;
    ++encoder->worker_count;
  }
  encoder->bands[0].first = true;

  uint8_t header[13];
  put_be32(header, width);
  put_be32(header + 4, height);
  header[8] = 8;
  header[9] = grey ? 0 : 2;
  header[10] = 0;
  header[11] = 0;
  header[12] = 0;
  static const uint8_t SIGNATURE[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  if (!ready) errno = ENOMEM;
  if (!ready || !sink(encoder, SIGNATURE, sizeof SIGNATURE) ||
      !write_chunk(encoder, "IHDR", header, sizeof header)) {
    const int error = errno;
    png_encoder_free(encoder);
    errno = error;
    return nullptr;
  }
  return encoder;
}

bool png_encoder_rows(PngEncoder* encoder, const uint8_t* rows, uint32_t count) {
  if (encoder->sink_failed) {
    errno = encoder->sink_error;
    return false;
  }
  if (count > encoder->height - encoder->rows_in) {
    errno = EINVAL;
    return false;
  }
  while (count > 0) {
    Band& band = band_at(encoder, encoder->filling);
    const uint32_t room = encoder->band_rows - band.count;
    const uint32_t take = count < room ? count : room;
    for (uint32_t y = 0; y < take; ++y) {
      std::memcpy(band.rows + (band.count + y) * (encoder->stride + 1) + 1,
                  rows + y * encoder->stride, encoder->stride);
    }
    band.count += take;
    encoder->rows_in += take;
    rows += take * encoder->stride;
    count -= take;
    if ((band.count == encoder->band_rows || encoder->rows_in == encoder->height) &&
        !submit(encoder)) {
      errno = encoder->sink_error;
      return false;
    }
  }
  return true;
}

bool png_encoder_finish(PngEncoder* encoder) {
  if (encoder->rows_in != encoder->height) {
    errno = EINVAL;
    return false;
  }
  if (!write_done(encoder, encoder->submitted) || !write_chunk(encoder, "IEND", nullptr, 0)) {
    errno = encoder->sink_error;
    return false;
  }
  return true;
}

void png_encoder_free(PngEncoder* encoder) {
  if (encoder == nullptr) return;
  stop_workers(encoder);
  for (Band& band : encoder->bands) {
    std::free(band.rows);
    std::free(band.above);
    std::free(band.packed);
  }
  std::free(encoder->carry);
  if (encoder->inline_ready) deflateEnd(&encoder->inline_stream);
  pthread_cond_destroy(&encoder->changed);
  pthread_mutex_destroy(&encoder->lock);
  std::free(encoder);
}
