// The last job as the printer received it. As a job's pages are encoded,
// their rows pass through here and are box-averaged down to thumbnails of at
// most THUMBNAIL_SIZE pixels on the longer side, kept in memory, and
// shown on a page linked from the printer's web page. A job replaces the one
// before once it has been sent, and nothing is written to disk, so the
// thumbnails go when the server stops. They show what was printed, so only
// loopback clients and authenticated administrators may see them.

#ifndef RAVO_APP_PREVIEW_H_
#define RAVO_APP_PREVIEW_H_

#include <pappl/pappl.h>

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

inline constexpr uint32_t THUMBNAIL_SIZE = 512;
// Pixels sampled across and down each thumbnail pixel's box, at most: enough
// for a faithful small picture, and few enough to cost the job next to
// nothing (about 5 ms an A4 page at 360 dpi, against some 100 ms to encode
// the page).
inline constexpr uint32_t TAPS = 4;

// Pages past this many are not shown, which bounds the memory a job's
// thumbnails take (at most 768 KiB a page).
inline constexpr size_t MAX_SHOWN_PAGES = 100;

// A page's thumbnail, 8-bit RGB or grey, row after row. It is encoded as PNG
// only when someone looks at it, which keeps that cost off the job.
struct Thumbnail {
  uint32_t width;
  uint32_t height;
  bool grey;
  std::vector<uint8_t> pixels;
  std::vector<uint8_t> png;  // once encoded
};

// The thumbnail as PNG; empty when encoding failed.
std::vector<uint8_t> encode_thumbnail(const Thumbnail& thumbnail);

// Makes the thumbnails of one job, page by page, never holding a whole page.
class ThumbnailMaker {
 public:
  void start_job(bool grey);
  // A page of `width` x `height` pixels; `turn` turns its thumbnail a
  // quarter anticlockwise, as the printer's image of such a page is. Pages
  // past MAX_SHOWN_PAGES are skipped.
  void start_page(uint32_t width, uint32_t height, bool turn);
  // `count` rows from row `y` on, each `width` pixels of 3 bytes (colour) or
  // 1 byte (grey). Rows past the page's end are dropped.
  void rows(uint32_t y, const uint8_t* data, uint32_t count);
  // Ends the page's thumbnail; false when there was none (past
  // MAX_SHOWN_PAGES, or an empty page).
  bool end_page();
  // The job's thumbnails so far, handed over.
  std::vector<Thumbnail> take();

 private:
  void flush_band();

  bool grey_ = false;
  bool turn_ = false;
  bool in_page_ = false;
  uint32_t width_ = 0;
  uint32_t height_ = 0;
  uint32_t scale_ = 1;  // page pixels a thumbnail pixel, each way
  uint32_t thumb_width_ = 0;
  uint32_t thumb_height_ = 0;
  uint32_t band_ = 0;           // the thumbnail row being summed
  uint32_t band_rows_ = 0;      // page rows summed into it
  std::vector<uint32_t> sums_;  // the band's taps, by thumbnail sample
  std::vector<uint32_t> taps_;  // the columns sampled, TAPS a box
  std::vector<bool> tap_row_;   // the rows of a band sampled
  uint32_t taps_per_box_ = 1;
  std::vector<uint8_t> pixels_;  // the thumbnail
  std::vector<Thumbnail> done_;
};

// One printer's last job. The job path feeds the maker; the web page reads
// what was published.
struct Preview {
  pappl_printer_t* printer = nullptr;
  ThumbnailMaker maker;  // used by the one job running
  std::mutex lock;       // guards what follows
  std::vector<Thumbnail> pages;
  int job_id = 0;
  char job_name[256] = "";
};

// The printer's preview, made and its pages registered on first use.
Preview* printer_preview(pappl_printer_t* printer);

// The job path's calls. A null preview is ignored.
void preview_start_job(Preview* preview, bool grey);
void preview_start_page(Preview* preview, uint32_t width, uint32_t height, bool turn);
void preview_rows(Preview* preview, uint32_t y, const uint8_t* data, uint32_t count);
void preview_end_page(Preview* preview);
// Publishes the job's thumbnails when it was sent; forgets them otherwise.
void preview_end_job(Preview* preview, pappl_job_t* job, bool sent);

#endif  // RAVO_APP_PREVIEW_H_
