#include "app/page_sender.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <string>
#include <vector>

namespace {

// A printer that keeps what it gets, a job that may be cancelled after a
// number of pages, and the pages counted as sent.
struct FakeJob {
  std::string printed;
  bool printer_fails = false;
  int cancel_after = -1;  // pages, -1 for never
  std::vector<int> sent;  // the copy of each page sent
};

bool fake_write(void* context, const void* data, size_t size) {
  auto* job = static_cast<FakeJob*>(context);
  if (job->printer_fails) return false;
  job->printed.append(static_cast<const char*>(data), size);
  return true;
}

bool fake_cancelled(void* context) {
  const auto* job = static_cast<FakeJob*>(context);
  return job->cancel_after >= 0 && static_cast<int>(job->sent.size()) >= job->cancel_after;
}

void fake_page_sent(void* context, int copy) {
  static_cast<FakeJob*>(context)->sent.push_back(copy);
}

// Makes the job's pages, "A", "B", ..., each in two pieces, then sends the
// copies; returns what the printer got.
std::string print(FakeJob& job, int pages, int copies) {
  PageSender sender(PageOutlet{fake_write, fake_cancelled, fake_page_sent, &job});
  EXPECT_TRUE(sender.open("/tmp"));
  for (int page = 0; page < pages; ++page) {
    const std::string text(1, static_cast<char>('A' + page));
    sender.hold(text.data(), 1);
    sender.hold("-", 1);
    sender.page_done();
  }
  sender.send_copies(copies);
  return job.printed;
}

TEST(PageSender, SendsEachPageWhenWholeThenTheOtherCopiesCollated) {
  struct Case {
    int pages;
    int copies;
    const char* printed;
  };
  const Case cases[] = {
      {1, 1, "A-"},           {2, 1, "A-B-"},   {2, 2, "A-B-A-B-"},
      {3, 2, "A-B-C-A-B-C-"}, {1, 3, "A-A-A-"}, {2, 0, "A-B-"},
  };
  for (const Case& c : cases) {
    FakeJob job;
    EXPECT_EQ(print(job, c.pages, c.copies), c.printed) << c.pages << " pages x " << c.copies;
    EXPECT_EQ(job.sent.size(), job.printed.size() / 2);
  }
}

TEST(PageSender, APageReachesThePrinterOnlyOnceWhole) {
  FakeJob job;
  PageSender sender(PageOutlet{fake_write, fake_cancelled, fake_page_sent, &job});
  ASSERT_TRUE(sender.open("/tmp"));
  sender.hold("A", 1);
  EXPECT_EQ(job.printed, "");
  sender.page_done();
  EXPECT_EQ(job.printed, "A");
  sender.hold("B", 1);
  EXPECT_EQ(job.printed, "A");
}

// gs may find several pages whole at once: each is counted, and the copies
// hold them all.
TEST(PageSender, CountsEachOfPagesMadeWholeTogether) {
  FakeJob job;
  PageSender sender(PageOutlet{fake_write, fake_cancelled, fake_page_sent, &job});
  ASSERT_TRUE(sender.open("/tmp"));
  sender.hold("A-B-", 4);
  sender.page_done(2);
  sender.hold("C-", 2);
  sender.page_done();
  EXPECT_TRUE(sender.send_copies(2));
  EXPECT_EQ(job.printed, "A-B-C-A-B-C-");
  EXPECT_EQ(job.sent, (std::vector<int>{0, 0, 0, 1, 1, 1}));
  EXPECT_EQ(sender.pages_sent(), 6U);
}

// A cancelled job stops between two pages, each copy's included, and what
// went out is whole pages.
TEST(PageSender, ACancelledJobStopsBetweenPages) {
  struct Case {
    int cancel_after;
    const char* printed;
  };
  const Case cases[] = {
      {0, ""}, {1, "A-"}, {2, "A-B-"}, {3, "A-B-A-"}, {4, "A-B-A-B-"},
  };
  for (const Case& c : cases) {
    FakeJob job;
    job.cancel_after = c.cancel_after;
    PageSender sender(PageOutlet{fake_write, fake_cancelled, fake_page_sent, &job});
    ASSERT_TRUE(sender.open("/tmp"));
    for (const char* page : {"A-", "B-"}) {
      sender.hold(page, 2);
      sender.page_done();
    }
    const bool sent = sender.send_copies(3);
    EXPECT_EQ(job.printed, c.printed) << "cancelled after " << c.cancel_after;
    EXPECT_FALSE(sent);
    EXPECT_EQ(sender.fault(), SendFault::CANCELLED);
  }
}

TEST(PageSender, TellsAFailedHoldFromAFailedPrinter) {
  FakeJob job;
  PageSender missing(PageOutlet{fake_write, nullptr, nullptr, &job});
  EXPECT_FALSE(missing.open("/nonexistent-directory"));
  EXPECT_EQ(missing.fault(), SendFault::HOLD_FAILED);
  EXPECT_EQ(missing.error(), ENOENT);
  EXPECT_FALSE(missing.hold("A", 1));

  job.printer_fails = true;
  PageSender failing(PageOutlet{fake_write, nullptr, nullptr, &job});
  ASSERT_TRUE(failing.open("/tmp"));
  EXPECT_TRUE(failing.hold("A", 1));
  failing.page_done();
  EXPECT_EQ(failing.fault(), SendFault::PRINTER_FAILED);
  EXPECT_FALSE(failing.hold("B", 1)) << "the pages went on being made for a failed printer";
  EXPECT_FALSE(failing.send_copies(2));
}

// A holding file that cannot grow, as on a full disk: the file size limit
// stands in for the full temporary directory.
TEST(PageSender, AHoldingFileThatCannotGrowIsAFailedHold) {
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  const sighandler_t handler = std::signal(SIGXFSZ, SIG_IGN);
  FakeJob job;
  PageSender sender(PageOutlet{fake_write, nullptr, nullptr, &job});
  ASSERT_TRUE(sender.open("/tmp"));
  rlimit small = saved;
  small.rlim_cur = 4;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const bool held = sender.hold("ABCDEFGH", 8);
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, handler);
  EXPECT_FALSE(held);
  EXPECT_EQ(sender.fault(), SendFault::HOLD_FAILED);
  EXPECT_EQ(sender.error(), EFBIG);
  sender.page_done();
  EXPECT_EQ(job.printed, "") << "part of a page reached the printer";
}

size_t open_descriptors() {
  size_t count = 0;
  DIR* dir = opendir("/proc/self/fd");
  if (dir == nullptr) return 0;
  while (readdir(dir) != nullptr) ++count;
  closedir(dir);
  return count;
}

TEST(PageSender, ClosesItsHoldingFile) {
  const size_t before = open_descriptors();
  for (int run = 0; run < 3; ++run) {
    FakeJob job;
    print(job, 2, 2);
  }
  EXPECT_EQ(open_descriptors(), before);
}

// The holding file found among the descriptors: the one unnamed file open.
int holding_descriptor() {
  char link[256];
  for (int fd = 3; fd < 1024; ++fd) {
    const std::string name = "/proc/self/fd/" + std::to_string(fd);
    const ssize_t size = readlink(name.c_str(), link, sizeof link - 1);
    if (size > 0 &&
        std::string(link, static_cast<size_t>(size)).find("(deleted)") != std::string::npos) {
      return fd;
    }
  }
  return -1;
}

// The printer's write empties the holding file and leaves errno at EINTR, as
// an interrupted call inside it may: the next copy finds nothing to send and
// fails, rather than reading the empty file for ever.
TEST(PageSender, FailsAHoldingFileThatLostItsPages) {
  struct Emptying {
    int held = -1;
    std::string printed;
  } emptying;
  const auto write_then_empty = [](void* context, const void* data, size_t size) {
    auto* printer = static_cast<Emptying*>(context);
    printer->printed.append(static_cast<const char*>(data), size);
    if (printer->held >= 0) {
      EXPECT_EQ(ftruncate(printer->held, 0), 0);
    }
    errno = EINTR;
    return true;
  };
  PageSender sender(PageOutlet{write_then_empty, nullptr, nullptr, &emptying});
  ASSERT_TRUE(sender.open("/tmp"));
  emptying.held = holding_descriptor();
  ASSERT_GE(emptying.held, 0);
  ASSERT_TRUE(sender.hold("A", 1));
  alarm(10);  // with the fault, it would never end
  sender.page_done();
  EXPECT_FALSE(sender.send_copies(2));
  alarm(0);
  EXPECT_EQ(sender.fault(), SendFault::HOLD_FAILED);
  EXPECT_EQ(sender.error(), EIO);
  EXPECT_EQ(emptying.printed, "A");
}

TEST(PageSender, CopiesWhatPapplDoesNotCopyItself) {
  struct Case {
    const char* format;
    int copies;
    int sent;
  };
  const Case cases[] = {
      {"image/pwg-raster", 3, 3},       {"image/urf", 2, 2},  {"application/pdf", 2, 2},
      {"application/postscript", 4, 4}, {"image/jpeg", 3, 1}, {"image/png", 2, 1},
      {"image/pwg-raster", 0, 1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(copies_to_send(c.format, c.copies), c.sent) << c.format << " x " << c.copies;
  }
}

}  // namespace
