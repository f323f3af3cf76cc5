#include "app/preview.h"

#include <png.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <utility>

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
  // Rows never sent stay white, as the printer's padding is.
  pixels_.assign(size_t{thumb_width_} * thumb_height_ * channels, 255);
  in_page_ = width > 0 && height > 0;
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
    const uint8_t* pixel = data + row * stride;
    uint32_t* sum = sums_.data();
    for (uint32_t column = 0; column < thumb_width_; ++column, sum += channels) {
      const uint32_t span = std::min(scale_, width_ - column * scale_);
      for (uint32_t x = 0; x < span; ++x) {
        for (size_t c = 0; c < channels; ++c) sum[c] += *pixel++;
      }
    }
    ++band_rows_;
  }
}

void ThumbnailMaker::flush_band() {
  if (band_rows_ == 0 || band_ >= thumb_height_) return;
  const size_t channels = grey_ ? 1 : 3;
  uint8_t* out = pixels_.data() + size_t{band_} * thumb_width_ * channels;
  for (uint32_t column = 0; column < thumb_width_; ++column) {
    const uint32_t count = std::min(scale_, width_ - column * scale_) * band_rows_;
    for (size_t c = 0; c < channels; ++c) {
      const size_t at = column * channels + c;
      out[at] = static_cast<uint8_t>((sums_[at] + count / 2) / count);
      sums_[at] = 0;
    }
  }
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

bool encode_png(const std::vector<uint8_t>& pixels, uint32_t width, uint32_t height, bool grey,
                std::vector<uint8_t>* png) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = width;
  image.height = height;
  image.format = grey ? PNG_FORMAT_GRAY : PNG_FORMAT_RGB;
  png_alloc_size_t size = 0;
  if (png_image_write_to_memory(&image, nullptr, &size, 0, pixels.data(), 0, nullptr) == 0) {
    return false;
  }
  png->resize(size);
  const bool written =
      png_image_write_to_memory(&image, png->data(), &size, 0, pixels.data(), 0, nullptr) != 0;
  png->resize(size);
  return written;
}

}  // namespace

bool ThumbnailMaker::end_page() {
  if (!in_page_) return false;
  in_page_ = false;
  flush_band();
  const size_t channels = grey_ ? 1 : 3;
  Thumbnail thumbnail{thumb_width_, thumb_height_, grey_, {}};
  if (turn_) {
    pixels_ = turn_anticlockwise(pixels_, thumb_width_, thumb_height_, channels);
    std::swap(thumbnail.width, thumbnail.height);
  }
  if (!encode_png(pixels_, thumbnail.width, thumbnail.height, grey_, &thumbnail.png)) return false;
  done_.push_back(std::move(thumbnail));
  return true;
}

std::vector<Thumbnail> ThumbnailMaker::take() { return std::exchange(done_, {}); }

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
      png = preview->pages[static_cast<size_t>(page) - 1].png;
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
