// A job's way to the printer, for documents and raster jobs alike: the
// encoded pages are held in an unnamed file in the temporary directory, each
// page goes to the printer as soon as it is whole, and the other copies are
// then sent from the file, collated (1 2 1 2). The printer only ever gets
// whole PNG images, and a cancelled job stops between two pages.

#ifndef RAVO_APP_PAGE_SENDER_H_
#define RAVO_APP_PAGE_SENDER_H_

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

// Where the pages go.
struct PageOutlet {
  // Writes to the printer; false when that failed.
  bool (*write)(void* context, const void* data, size_t size);
  // True once the job is cancelled. May be null.
  bool (*cancelled)(void* context);
  // Called after each page that reached the printer whole; `copy` counts
  // from 0. May be null.
  void (*page_sent)(void* context, int copy);
  void* context;  // handed to all three
};

enum class SendFault {
  NONE,
  HOLD_FAILED,     // the holding file could not be made or written (error())
  PRINTER_FAILED,  // `write` failed
  CANCELLED,       // `cancelled` said so; what was sent is whole pages
};

// How many times the pages a job makes must be sent: PAPPL makes the copies
// of JPEG and PNG jobs itself, and ravo those of the others.
int copies_to_send(std::string_view format, int copies);

class PageSender {
 public:
  explicit PageSender(const PageOutlet& outlet) : outlet_(outlet) {}
  PageSender(const PageSender&) = delete;
  PageSender& operator=(const PageSender&) = delete;
  ~PageSender();

  // Makes the holding file in `directory`; false (HOLD_FAILED) when it
  // cannot.
  bool open(const char* directory);
  // Holds the next bytes of the page being made; false once anything
  // failed or the job was cancelled.
  bool hold(const void* data, size_t size);
  // What was held since the last call is `pages` whole pages: sends them,
  // unless anything failed before.
  void page_done(uint32_t pages = 1);
  // Sends the pages sent so far `copies - 1` more times. False when
  // anything failed or the job was cancelled; fault() says which.
  bool send_copies(int copies);

  SendFault fault() const { return fault_; }
  int error() const { return error_; }           // errno, for HOLD_FAILED
  uint32_t pages_sent() const { return sent_; }  // pages, copies included
  uint32_t pages_made() const { return made_; }  // whole pages held

 private:
  bool send_range(off_t from, off_t to);
  void count_sent(uint32_t pages, int copy);
  bool cancelled();

  PageOutlet outlet_;
  int held_ = -1;
  off_t end_ = 0;         // bytes held
  off_t page_start_ = 0;  // where the page being made begins
  // What to send again for each copy: where each run of whole pages begins
  // and ends, and how many pages it holds.
  struct Pages {
    off_t from;
    off_t to;
    uint32_t count;
  };
  std::vector<Pages> pages_;
  uint32_t made_ = 0;
  uint32_t sent_ = 0;
  SendFault fault_ = SendFault::NONE;
  int error_ = 0;
};

// `write` for GsJob and PngSink: `context` is a PageSender.
bool hold_pages(void* context, const void* data, size_t size);

#endif  // RAVO_APP_PAGE_SENDER_H_
