#include "app/preview.h"

#include <sys/socket.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <utility>

#include "app/png_writer.h"

void ThumbnailMaker::start_job(bool grey) {
  grey_ = grey;
  in_page_ = false;
  done_.clear();
}

void ThumbnailMaker::start_page(uint32_t width, uint32_t height, bool turn) {
  const size_t channels = grey_ ? 1 : 3;
  width_ = width;
  height_ = height;
  turn_ = turn;
  const uint32_t longer = std::max(width, height);
  scale_ = std::max<uint32_t>(1, (longer + THUMBNAIL_SIZE - 1) / THUMBNAIL_SIZE);
  thumb_width_ = (width + scale_ - 1) / scale_;
  thumb_height_ = (height + scale_ - 1) / scale_;
  band_ = 0;
  band_rows_ = 0;
  sums_.assign(size_t{thumb_width_} * channels, 0);
  // Each box is sampled at up to TAPS x TAPS pixels spread evenly across it.
  taps_per_box_ = std::min(scale_, TAPS);
  tap_row_.assign(scale_, false);
  taps_.clear();
  for (uint32_t t = 0; t < taps_per_box_; ++t) {
    tap_row_[(2 * t + 1) * scale_ / (2 * taps_per_box_)] = true;
  }
  for (uint32_t column = 0; column < thumb_width_; ++column) {
    for (uint32_t t = 0; t < taps_per_box_; ++t) {
      const uint32_t x = column * scale_ + (2 * t + 1) * scale_ / (2 * taps_per_box_);
      taps_.push_back(std::min(x, width - 1));
    }
  }
  // Rows never sent stay white, as the printer's padding is.
  pixels_.assign(size_t{thumb_width_} * thumb_height_ * channels, 255);
  in_page_ = width > 0 && height > 0 && done_.size() < MAX_SHOWN_PAGES;
}

void ThumbnailMaker::rows(uint32_t y, const uint8_t* data, uint32_t count) {
  if (!in_page_) return;
  const size_t channels = grey_ ? 1 : 3;
  const size_t stride = size_t{width_} * channels;
  for (uint32_t row = 0; row < count && y + row < height_; ++row) {
    const uint32_t band = (y + row) / scale_;
    if (band != band_) {
      flush_band();
      band_ = band;
    }
    if (!tap_row_[(y + row) % scale_]) continue;
    const uint8_t* line = data + row * stride;
    uint32_t* sum = sums_.data();
    const uint32_t* tap = taps_.data();
    for (uint32_t column = 0; column < thumb_width_; ++column, sum += channels) {
      for (uint32_t t = 0; t < taps_per_box_; ++t, ++tap) {
        const uint8_t* pixel = line + size_t{*tap} * channels;
        for (size_t c = 0; c < channels; ++c) sum[c] += pixel[c];
      }
    }
    ++band_rows_;
  }
}

void ThumbnailMaker::flush_band() {
  if (band_rows_ == 0 || band_ >= thumb_height_) return;
  const size_t channels = grey_ ? 1 : 3;
  uint8_t* out = pixels_.data() + size_t{band_} * thumb_width_ * channels;
  const uint32_t count = taps_per_box_ * band_rows_;
  for (size_t at = 0; at < sums_.size(); ++at) {
    out[at] = static_cast<uint8_t>((sums_[at] + count / 2) / count);
  }
  std::fill(sums_.begin(), sums_.end(), 0);
  band_rows_ = 0;
}

namespace {

// Turns `pixels` (width x height) a quarter anticlockwise.
std::vector<uint8_t> turn_anticlockwise(const std::vector<uint8_t>& pixels, uint32_t width,
                                        uint32_t height, size_t channels) {
  std::vector<uint8_t> turned(pixels.size());
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x) {
      const size_t from = (size_t{y} * width + x) * channels;
      const size_t to = (size_t{width - 1 - x} * height + y) * channels;
      std::copy_n(pixels.data() + from, channels, turned.data() + to);
    }
  }
  return turned;
}

bool append(void* context, const void* data, size_t size) {
  const auto* bytes = static_cast<const uint8_t*>(data);
  auto* png = static_cast<std::vector<uint8_t>*>(context);
  png->insert(png->end(), bytes, bytes + size);
  return true;
}

}  // namespace

bool ThumbnailMaker::end_page() {
  if (!in_page_) return false;
  in_page_ = false;
  flush_band();
  Thumbnail thumbnail{thumb_width_, thumb_height_, grey_, {}, {}};
  if (turn_) {
    thumbnail.pixels = turn_anticlockwise(pixels_, thumb_width_, thumb_height_, grey_ ? 1 : 3);
    std::swap(thumbnail.width, thumbnail.height);
  } else {
    thumbnail.pixels = std::move(pixels_);
  }
  done_.push_back(std::move(thumbnail));
  return true;
}

std::vector<Thumbnail> ThumbnailMaker::take() { return std::exchange(done_, {}); }

// Encoded as the printer's pages are.
std::vector<uint8_t> encode_thumbnail(const Thumbnail& thumbnail) {
  std::vector<uint8_t> png;
  PngWriter writer;
  const uint32_t width = thumbnail.width;
  const uint32_t height = thumbnail.height;
  const InputPage in{thumbnail.grey ? LineFormat::GREY8 : LineFormat::RGB8, width, height};
  const OutputPage page{width, height, thumbnail.grey, PNG_ZLIB_LEVEL};
  if (!writer.start(in, page, PngSink{append, &png})) return {};
  const size_t stride = size_t{width} * (thumbnail.grey ? 1 : 3);
  for (uint32_t y = 0; y < height; ++y) {
    if (!writer.line(thumbnail.pixels.data() + y * stride)) return {};
  }
  if (!writer.finish()) return {};
  return png;
}

namespace {

// The previews by printer name. Entries live as long as the program; a
// printer made again under the same name takes its old entry.
struct Registry {
  std::mutex lock;
  std::map<std::string, std::unique_ptr<Preview>> previews;
};

Registry& registry() {
  static Registry made;
  return made;
}

// Loopback or a local socket, or an administrator's credentials.
bool allowed(pappl_client_t* client) {
  http_addr_t* address = httpGetAddress(papplClientGetHTTP(client));
  if (address != nullptr &&
      (httpAddrFamily(address) == AF_LOCAL || httpAddrLocalhost(address) != 0)) {
    return true;
  }
  const http_status_t status = papplClientIsAuthorized(client);
  if (status == HTTP_STATUS_CONTINUE) return true;
  papplClientRespond(client, status, nullptr, nullptr, 0, 0);
  return false;
}

// The page: one thumbnail per page of the last job.
bool serve_page(pappl_client_t* client, void* data) {
  auto* preview = static_cast<Preview*>(data);
  if (!allowed(client)) return false;
  papplClientHTMLPrinterHeader(client, preview->printer, "Last Job", 0, nullptr, nullptr);
  const std::lock_guard<std::mutex> hold(preview->lock);
  papplClientHTMLPuts(client, "      <div class=\"row\">\n        <div class=\"col-12\">\n");
  if (preview->pages.empty()) {
    papplClientHTMLPuts(client,
                        "          <p>No job has been printed since the server started.</p>\n");
  } else {
    papplClientHTMLPrintf(client, "          <p>Job %d, &ldquo;", preview->job_id);
    papplClientHTMLEscape(client, preview->job_name, 0);
    // PAPPL's printf knows no size_t.
    const int count = static_cast<int>(preview->pages.size());
    papplClientHTMLPrintf(client, "&rdquo;: %d page%s as the printer received %s.</p>\n", count,
                          count == 1 ? "" : "s", count == 1 ? "it" : "them");
    char path[256];
    papplPrinterGetPath(preview->printer, "preview.png", path, sizeof path);
    int number = 0;
    for (const Thumbnail& page : preview->pages) {
      ++number;
      papplClientHTMLPrintf(client,
                            "          <img class=\"preview\" src=\"%s?job=%d&amp;page=%d\" "
                            "width=\"%u\" height=\"%u\" alt=\"page %d\" "
                            "style=\"border: thin solid #888; margin: 4px;\">\n",
                            path, preview->job_id, number, page.width, page.height, number);
    }
  }
  papplClientHTMLPuts(client, "        </div>\n      </div>\n");
  papplClientHTMLPrinterFooter(client);
  return true;
}

// One thumbnail as PNG: `page=N` in the query, counted from 1.
bool serve_image(pappl_client_t* client, void* data) {
  auto* preview = static_cast<Preview*>(data);
  if (!allowed(client)) return false;
  const char* query = papplClientGetOptions(client);
  const char* page_text = query != nullptr ? std::strstr(query, "page=") : nullptr;
  const long page = page_text != nullptr ? std::strtol(page_text + 5, nullptr, 10) : 0;
  std::vector<uint8_t> png;
  {
    const std::lock_guard<std::mutex> hold(preview->lock);
    if (page >= 1 && static_cast<size_t>(page) <= preview->pages.size()) {
      Thumbnail& shown = preview->pages[static_cast<size_t>(page) - 1];
      if (shown.png.empty()) shown.png = encode_thumbnail(shown);
      png = shown.png;
    }
  }
  if (png.empty()) return papplClientRespond(client, HTTP_STATUS_NOT_FOUND, nullptr, nullptr, 0, 0);
  if (!papplClientRespond(client, HTTP_STATUS_OK, nullptr, "image/png", 0, png.size())) {
    return false;
  }
  http_t* http = papplClientGetHTTP(client);
  return httpWrite2(http, reinterpret_cast<const char*>(png.data()), png.size()) ==
             static_cast<ssize_t>(png.size()) &&
         httpFlushWrite(http) >= 0;
}

}  // namespace

Preview* printer_preview(pappl_printer_t* printer) {
  if (printer == nullptr) return nullptr;
  Registry& all = registry();
  const std::lock_guard<std::mutex> hold(all.lock);
  std::unique_ptr<Preview>& entry = all.previews[papplPrinterGetName(printer)];
  if (entry == nullptr) entry = std::make_unique<Preview>();
  if (entry->printer != printer) {
    entry->printer = printer;
    pappl_system_t* system = papplPrinterGetSystem(printer);
    char path[256];
    papplSystemAddResourceCallback(system,
                                   papplPrinterGetPath(printer, "preview", path, sizeof path),
                                   "text/html", serve_page, entry.get());
    papplSystemAddResourceCallback(system,
                                   papplPrinterGetPath(printer, "preview.png", path, sizeof path),
                                   "image/png", serve_image, entry.get());
    papplPrinterAddLink(printer, "Last Job",
                        papplPrinterGetPath(printer, "preview", path, sizeof path),
                        PAPPL_LOPTIONS_STATUS);
  }
  return entry.get();
}

void preview_start_job(Preview* preview, bool grey) {
  if (preview != nullptr) preview->maker.start_job(grey);
}

void preview_start_page(Preview* preview, uint32_t width, uint32_t height, bool turn) {
  if (preview != nullptr) preview->maker.start_page(width, height, turn);
}

void preview_rows(Preview* preview, uint32_t y, const uint8_t* data, uint32_t count) {
  if (preview != nullptr) preview->maker.rows(y, data, count);
}

void preview_end_page(Preview* preview) {
  if (preview != nullptr) static_cast<void>(preview->maker.end_page());
}

void preview_end_job(Preview* preview, pappl_job_t* job, bool sent) {
  if (preview == nullptr) return;
  std::vector<Thumbnail> pages = preview->maker.take();
  if (!sent || pages.empty()) return;
  const std::lock_guard<std::mutex> hold(preview->lock);
  preview->pages = std::move(pages);
  preview->job_id = papplJobGetID(job);
  static_cast<void>(std::snprintf(preview->job_name, sizeof preview->job_name, "%s",
                                  papplJobGetName(job) != nullptr ? papplJobGetName(job) : ""));
}
