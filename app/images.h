// The documents the app takes in itself. JPEG and PNG documents, decoded by the app itself so that
// a document that is not what its format says, or ends early, stops the job at once with a reason.
// The image is turned when its orientation differs from the page's, scaled to fit the page (or to
// fill it, cropping), centred, and encoded through the PNG writer at exactly the page's size.
// Memory stays within PAGE_BUDGET whatever the image declares: a large image is sampled down as its
// lines are decoded, never held whole.

#ifndef RAVO_APP_IMAGES_H_
#define RAVO_APP_IMAGES_H_

#include <pappl/pappl.h>

#include <cstddef>
#include <cstdint>

#include "app/png_writer.h"

enum class ImageKind { JPEG, PNG };

// The kind of image a MIME type names; false for any other type.
bool image_kind(const char* mime_type, ImageKind* kind);

// Images declaring more pixels than this are refused before decoding.
inline constexpr uint64_t MAX_IMAGE_PIXELS = uint64_t{1} << 28;

// Where an image of width x height goes on `page`. The source is sampled
// on a grid of grid_width x grid_height pixels, of the image as decoded.
struct ImagePlan {
  bool turn;               // a quarter anticlockwise: the image's right edge on top
  uint32_t width, height;  // the scaled image on the page
  int64_t left, top;       // its corner on the page; negative when it is cropped
  uint32_t grid_width, grid_height;
};

// Plans an image of width x height (both above 0) on `page`, to fit or to
// fill it, holding at most `budget` bytes of `channels` a pixel.
ImagePlan plan_image(uint32_t width, uint32_t height, const OutputPage& page, bool fill,
                     int channels, uint64_t budget);

// Decodes the image of `kind` read from descriptor `input`, from where it
// stands, and writes one PNG of `page` to `sink`. False, with `message`
// saying why, when the image cannot be decoded, is too large, or the sink
// fails; nothing is then left half-written that the caller must not discard.
bool print_image(int input, ImageKind kind, const OutputPage& page, bool fill, PngSink sink,
                 char* message, size_t size);

// The raster that PAPPL hands the raster callbacks, checked before any line:
// `given` is the page's header as the callbacks see it, `own` the header
// PAPPL makes for the job itself, which it hands on in place of a page of
// 1 bit a pixel. Only the types the printer offers, 8-bit sRGB and grey, are
// taken, with lines as long as their width says. False with `message`
// saying why.
bool check_raster_header(const cups_page_header2_t& given, const cups_page_header2_t& own,
                         LineFormat* format, char* message, size_t size);

// check_raster_header for a page of `job`.
bool check_raster_page(pappl_job_t* job, const cups_page_header2_t& given, LineFormat* format,
                       char* message, size_t size);

#endif  // RAVO_APP_IMAGES_H_
