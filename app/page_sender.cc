#include "app/page_sender.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace {

constexpr size_t CHUNK = 65536;

}  // namespace

int copies_to_send(std::string_view format, int copies) {
  const bool streamed = format == "image/pwg-raster" || format == "image/urf";
  const bool document = format == "application/pdf" || format == "application/postscript";
  return (streamed || document) && copies > 1 ? copies : 1;
}

PageSender::~PageSender() {
  if (held_ >= 0) close(held_);
}

bool PageSender::open(const char* directory) {
  held_ = ::open(directory, O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (held_ >= 0) return true;
  fault_ = SendFault::HOLD_FAILED;
  error_ = errno;
  return false;
}

bool PageSender::cancelled() {
  if (fault_ == SendFault::NONE && outlet_.cancelled != nullptr &&
      outlet_.cancelled(outlet_.context)) {
    fault_ = SendFault::CANCELLED;
  }
  return fault_ == SendFault::CANCELLED;
}

bool PageSender::hold(const void* data, size_t size) {
  if (fault_ != SendFault::NONE || held_ < 0) {
    errno = fault_ == SendFault::HOLD_FAILED ? error_ : ECANCELED;
    return false;
  }
  const auto* bytes = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t put = pwrite(held_, bytes, size, end_);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) {
      fault_ = SendFault::HOLD_FAILED;
      error_ = put < 0 ? errno : ENOSPC;
      errno = error_;
      return false;
    }
    bytes += put;
    size -= static_cast<size_t>(put);
    end_ += put;
  }
  return true;
}

bool PageSender::send_range(off_t from, off_t to) {
  char buffer[CHUNK];
  while (from < to) {
    const size_t want =
        static_cast<size_t>(to - from) < CHUNK ? static_cast<size_t>(to - from) : CHUNK;
    const ssize_t got = pread(held_, buffer, want, from);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      fault_ = SendFault::HOLD_FAILED;
      error_ = got < 0 ? errno : EIO;
      return false;
    }
    if (!outlet_.write(outlet_.context, buffer, static_cast<size_t>(got))) {
      fault_ = SendFault::PRINTER_FAILED;
      return false;
    }
    from += got;
  }
  return true;
}

void PageSender::count_sent(uint32_t pages, int copy) {
  sent_ += pages;
  if (outlet_.page_sent == nullptr) return;
  for (uint32_t page = 0; page < pages; ++page) outlet_.page_sent(outlet_.context, copy);
}

void PageSender::page_done(uint32_t pages) {
  const off_t start = page_start_;
  page_start_ = end_;
  if (fault_ != SendFault::NONE || pages == 0) return;
  made_ += pages;
  if (cancelled() || !send_range(start, end_)) return;
  pages_.push_back({start, end_, pages});
  count_sent(pages, 0);
}

bool PageSender::send_copies(int copies) {
  for (int copy = 1; copy < copies && fault_ == SendFault::NONE; ++copy) {
    for (const Pages& run : pages_) {
      if (cancelled() || !send_range(run.from, run.to)) break;
      count_sent(run.count, copy);
    }
  }
  return fault_ == SendFault::NONE;
}

bool hold_pages(void* context, const void* data, size_t size) {
  return static_cast<PageSender*>(context)->hold(data, size);
}
