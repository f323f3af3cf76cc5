#include "gs/runner.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "gs/gs_command.h"
#include "gs/png_encoder.h"
#include "gs/raw_stream.h"

namespace {

// How often `cancelled` is asked, and how long a cancelled gs has to end
// before it is killed.
constexpr int POLL_MILLISECONDS = 50;
constexpr int KILL_AFTER_MILLISECONDS = 500;
constexpr int PIPE_BYTES = 1 << 20;

// Runs in the child between fork and exec, so it calls only what is safe
// there. Every descriptor it needs is first moved above the standard three,
// so that none is overwritten whatever the parent had open.
[[noreturn]] void exec_gs(const char* const* words, int input, int output, int report,
                          bool stderr_taken, pid_t parent) {
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  // The parent may have died before the line above; then stop here.
  if (getppid() != parent) _exit(127);
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  for (int signal_number = 1; signal_number < NSIG; ++signal_number) {
    sigaction(signal_number, &action, nullptr);
  }
  input = fcntl(input, F_DUPFD_CLOEXEC, 3);
  output = fcntl(output, F_DUPFD_CLOEXEC, 3);
  report = fcntl(report, F_DUPFD_CLOEXEC, 3);
  if (input < 0 || output < 0 || report < 0 || dup2(input, STDIN_FILENO) < 0 ||
      dup2(output, STDOUT_FILENO) < 0) {
    _exit(127);
  }
  // gs's messages never go into the raster's pipe.
  if (stderr_taken) {
    const int null = open("/dev/null", O_WRONLY);
    if (null >= 0) dup2(null, STDERR_FILENO);
  }
  close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  execvp(words[0], const_cast<char* const*>(words));
  const int error = errno;
  static_cast<void>(write(report, &error, sizeof error));
  _exit(127);
}

void pause_briefly(int milliseconds) {
  const timespec pause = {0, static_cast<long>(milliseconds) * 1000000L};
  nanosleep(&pause, nullptr);
}

bool asked_to_stop(const GsJob& job) {
  return job.cancelled != nullptr && job.cancelled(job.context);
}

// Bytes read from gs at a time, and of a page's rows gathered before they
// go to the encoder.
constexpr size_t READ_BYTES = size_t{1} << 18;
constexpr size_t GATHER_BYTES = size_t{1} << 18;

// A page on its way from gs's raw samples to a PNG image.
struct Page {
  const GsJob* job;
  GsRun* run;
  uint32_t width;
  uint32_t height;
  bool grey;
  size_t stride;
  uint8_t* gathered;  // whole rows, and then part of one
  size_t gathered_bytes;
  size_t gather_capacity;  // whole rows
  uint32_t y;              // of the first row gathered
  PngEncoder* encoder;
  int held;  // the unnamed file that holds the image until it is whole, or -1
  bool hold_failed;
};

// Takes the encoder's bytes: into the holding file, or without one straight
// to the job's `write`.
bool hold(void* context, const void* data, size_t size) {
  auto* page = static_cast<Page*>(context);
  if (page->held < 0) return page->job->write(page->job->context, data, size);
  if (gs_write_descriptor(&page->held, data, size)) return true;
  page->hold_failed = true;
  return false;
}

// Passes the whole image held on to the job's `write`, and empties the file.
bool pass_held_image(Page* page) {
  if (page->held < 0) return true;
  const GsJob& job = *page->job;
  if (lseek(page->held, 0, SEEK_SET) != 0) return false;
  for (;;) {
    const ssize_t got = read(page->held, page->gathered, page->gather_capacity);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) break;
    errno = 0;
    if (!job.write(job.context, page->gathered, static_cast<size_t>(got))) return false;
  }
  return ftruncate(page->held, 0) == 0 && lseek(page->held, 0, SEEK_SET) == 0;
}

// An unnamed file in $TMPDIR, or /tmp; -1 when there is none to be had.
int open_holding_file() {
  const char* directory = std::getenv("TMPDIR");
  return open(directory != nullptr && directory[0] != '\0' ? directory : "/tmp",
              O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
}

bool fail_write(Page* page) {
  page->run->outcome = page->hold_failed ? GS_HOLD_FAILED : GS_WRITE_FAILED;
  page->run->error = errno;
  return false;
}

// Hands the whole rows gathered to the row observer and the encoder.
bool hand_on_rows(Page* page) {
  const auto count = static_cast<uint32_t>(page->gathered_bytes / page->stride);
  if (count == 0) return true;
  const GsJob& job = *page->job;
  if (job.rows_seen != nullptr) {
    job.rows_seen(job.context, page->run->pages + 1, page->y, page->gathered, count);
  }
  if (!png_encoder_rows(page->encoder, page->gathered, count)) return fail_write(page);
  page->y += count;
  const size_t used = count * page->stride;
  page->gathered_bytes -= used;
  if (page->gathered_bytes > 0) {
    std::memmove(page->gathered, page->gathered + used, page->gathered_bytes);
  }
  return true;
}

// Takes the samples of one event of the raw stream.
bool take(Page* page, RawEvent event, const uint8_t* pixels, size_t count) {
  const GsJob& job = *page->job;
  switch (event) {
    case RAW_PAGE:
      page->y = 0;
      page->gathered_bytes = 0;
      page->encoder = png_encoder_start(page->width, page->height, page->grey, PNG_ENCODER_DEFAULTS,
                                        hold, page);
      return page->encoder != nullptr || fail_write(page);
    case RAW_PIXELS:
      while (count > 0) {
        const size_t room = page->gather_capacity - page->gathered_bytes;
        const size_t part = count < room ? count : room;
        std::memcpy(page->gathered + page->gathered_bytes, pixels, part);
        page->gathered_bytes += part;
        pixels += part;
        count -= part;
        if (page->gathered_bytes == page->gather_capacity && !hand_on_rows(page)) return false;
      }
      return true;
    case RAW_PAGE_END: {
      if (!hand_on_rows(page)) return false;
      const bool finished = png_encoder_finish(page->encoder);
      png_encoder_free(page->encoder);
      page->encoder = nullptr;
      if (!finished || !pass_held_image(page)) return fail_write(page);
      ++page->run->pages;
      if (job.page_done != nullptr) job.page_done(job.context, page->run->pages);
      return true;
    }
    default:
      return true;
  }
}

// Encodes gs's raw pages as PNG images while the stream is sound, and passes
// them on. Returns when the output ends, or stops gs and returns at the
// first fault or cancellation. While `checking`, gs draws nothing, and any
// output at all is a fault.
void pass_on(const GsJob& job, bool checking, int output, pid_t child, GsRun* run) {
  Page page{};
  page.job = &job;
  page.run = run;
  page.width = static_cast<uint32_t>(job.conf->width);
  page.height = static_cast<uint32_t>(job.conf->height);
  page.grey = job.conf->ink == INK_MONO;
  page.stride = size_t{page.width} * (page.grey ? 1 : 3);
  const size_t rows = page.stride > 0 ? GATHER_BYTES / page.stride : 0;
  page.gather_capacity = (rows > 0 ? rows : 1) * page.stride;
  page.held = checking || job.unheld ? -1 : open_holding_file();
  RawStream stream;
  raw_stream_start(&stream, page.width, page.height, page.grey);
  auto* buffer = static_cast<uint8_t*>(std::malloc(READ_BYTES));
  page.gathered = static_cast<uint8_t*>(std::malloc(page.gather_capacity));
  if (buffer == nullptr || page.gathered == nullptr) {
    run->outcome = GS_WRITE_FAILED;
    run->error = ENOMEM;
  }
  pollfd ready = {output, POLLIN, 0};
  bool received = false;
  while (run->outcome == GS_PRINTED) {
    if (asked_to_stop(job)) {
      run->outcome = GS_CANCELLED;
      break;
    }
    const int events = poll(&ready, 1, POLL_MILLISECONDS);
    if (events == 0 || (events < 0 && errno == EINTR)) continue;
    const ssize_t got = events < 0 ? -1 : read(output, buffer, READ_BYTES);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      if (checking) break;
      if (!received) {
        run->outcome = GS_NO_PAGES;
      } else if (!raw_stream_finish(&stream)) {
        run->outcome = GS_BAD_OUTPUT;
        run->fault = stream.fault;
      }
      break;
    }
    received = true;
    if (checking) {
      run->outcome = GS_BAD_OUTPUT;
      run->fault = "output while the document was checked";
      break;
    }
    const uint8_t* data = buffer;
    auto size = static_cast<size_t>(got);
    for (;;) {
      const uint8_t* pixels = nullptr;
      size_t count = 0;
      const RawEvent event = raw_stream_next(&stream, &data, &size, &pixels, &count);
      if (event == RAW_MORE) break;
      if (event == RAW_FAULT) {
        run->outcome = GS_BAD_OUTPUT;
        run->fault = stream.fault;
        break;
      }
      if (!take(&page, event, pixels, count)) break;
    }
  }
  png_encoder_free(page.encoder);
  if (page.held >= 0) close(page.held);
  std::free(page.gathered);
  std::free(buffer);
  if (run->outcome != GS_PRINTED) kill(child, SIGTERM);
}

// Waits for gs, still listening for a cancellation, and kills it when it
// does not end soon after being stopped.
void wait_for(const GsJob& job, pid_t child, GsRun* run) {
  bool stopping = run->outcome != GS_PRINTED;
  int waited = 0;
  int pause = 1;
  for (;;) {
    const pid_t ended = waitpid(child, &run->wait_status, WNOHANG);
    if (ended == child) return;
    if (ended < 0 && errno != EINTR) {
      // Started with SIGCHLD ignored, the system reaps gs itself.
      if (run->outcome == GS_PRINTED) {
        run->outcome = GS_FAILED;
        run->error = errno;
      }
      return;
    }
    if (!stopping && asked_to_stop(job)) {
      run->outcome = GS_CANCELLED;
      stopping = true;
      kill(child, SIGTERM);
    }
    if (stopping && waited >= KILL_AFTER_MILLISECONDS) kill(child, SIGKILL);
    pause_briefly(pause);
    waited += pause;
    if (pause < POLL_MILLISECONDS) pause *= 2;
  }
}

}  // namespace

bool gs_write_descriptor(void* context, const void* data, size_t size) {
  const int descriptor = *static_cast<const int*>(context);
  const auto* bytes = static_cast<const uint8_t*>(data);
  while (size > 0) {
    const ssize_t written = write(descriptor, bytes, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    bytes += written;
    size -= static_cast<size_t>(written);
  }
  return true;
}

namespace {

// Runs gs once with `words` on the job's input, passing on what it writes,
// and waits for it.
void run_once(const GsJob& job, bool checking, const char* const* words, GsRun* run) {
  int raster[2];
  int report[2];
  if (pipe2(raster, O_CLOEXEC) != 0) {
    run->outcome = GS_NOT_STARTED;
    run->error = errno;
    return;
  }
  if (pipe2(report, O_CLOEXEC) != 0) {
    run->outcome = GS_NOT_STARTED;
    run->error = errno;
    close(raster[0]);
    close(raster[1]);
    return;
  }
  // Room for gs to draw on while a page is encoded; the system may give less.
  static_cast<void>(fcntl(raster[1], F_SETPIPE_SZ, PIPE_BYTES));
  const bool stderr_taken = raster[0] == STDERR_FILENO || raster[1] == STDERR_FILENO ||
                            report[0] == STDERR_FILENO || report[1] == STDERR_FILENO;
  // No signal handler of this process may run in the child before exec.
  sigset_t all;
  sigset_t previous;
  sigfillset(&all);
  pthread_sigmask(SIG_BLOCK, &all, &previous);
  const pid_t parent = getpid();
  const pid_t child = fork();
  if (child == 0) exec_gs(words, job.input, raster[1], report[1], stderr_taken, parent);
  const int fork_error = errno;
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  close(raster[1]);
  close(report[1]);
  if (child < 0) {
    run->outcome = GS_NOT_STARTED;
    run->error = fork_error;
  } else {
    int exec_error = 0;
    ssize_t got = 0;
    do {
      got = read(report[0], &exec_error, sizeof exec_error);
    } while (got < 0 && errno == EINTR);
    if (got == sizeof exec_error) {
      run->outcome = GS_NOT_STARTED;
      run->error = exec_error;
    } else {
      pass_on(job, checking, raster[0], child, run);
    }
    close(raster[0]);
    wait_for(job, child, run);
    if (run->outcome == GS_PRINTED &&
        (!WIFEXITED(run->wait_status) || WEXITSTATUS(run->wait_status) != 0)) {
      run->outcome = GS_FAILED;
    }
  }
  if (run->outcome == GS_NO_PAGES && run->wait_status != 0) run->outcome = GS_FAILED;
  close(report[0]);
}

}  // namespace

bool run_gs_job(const GsJob& job, GsRun* run) {
  *run = GsRun{};
  const char* input = job.buffered ? GS_READ_BUFFERED : GS_READ_BYTEWISE;
  GsArguments arguments;
  if (job.precheck) {
    // The document is read twice from where it starts.
    const off_t start = lseek(job.input, 0, SEEK_CUR);
    if (start < 0) {
      run->outcome = GS_NOT_STARTED;
      run->error = errno;
      return false;
    }
    compose_gs_drawing(*job.conf, input, GS_DRAW_NOTHING, job.first_page, job.last_page,
                       &arguments);
    run_once(job, true, arguments.words, run);
    if (run->outcome != GS_PRINTED) return false;
    if (lseek(job.input, start, SEEK_SET) != start) {
      run->outcome = GS_NOT_STARTED;
      run->error = errno;
      return false;
    }
    *run = GsRun{};
  }
  compose_gs_drawing(*job.conf, input, GS_DRAW_RAW, job.first_page, job.last_page, &arguments);
  run_once(job, false, arguments.words, run);
  return run->outcome == GS_PRINTED;
}

// The texts always fit.
// NOLINTBEGIN(cert-err33-c)
bool describe_gs_run(const GsRun& run, char* text) {
  switch (run.outcome) {
    case GS_PRINTED:
      return false;
    case GS_CANCELLED:
      std::snprintf(text, GS_MESSAGE_SIZE, "the job was cancelled");
      break;
    case GS_NOT_STARTED:
      if (run.error == ENOENT) {
        std::snprintf(text, GS_MESSAGE_SIZE, "gs was not found");
      } else {
        std::snprintf(text, GS_MESSAGE_SIZE, "gs could not be run (%s)", std::strerror(run.error));
      }
      break;
    case GS_FAILED:
      if (run.error != 0) {
        std::snprintf(text, GS_MESSAGE_SIZE, "gs could not be waited for (%s)",
                      std::strerror(run.error));
      } else if (!describe_gs_failure(run.wait_status, false, text)) {
        std::snprintf(text, GS_MESSAGE_SIZE, "gs failed");
      }
      break;
    case GS_BAD_OUTPUT:
      std::snprintf(text, GS_MESSAGE_SIZE,
                    "gs wrote something other than the expected PNG images (%s)",
                    run.fault != nullptr ? run.fault : "unknown");
      break;
    case GS_NO_PAGES:
      std::snprintf(text, GS_MESSAGE_SIZE, "gs rendered no page");
      break;
    case GS_HOLD_FAILED:
      std::snprintf(text, GS_MESSAGE_SIZE, "holding a page in the temporary directory failed (%s)",
                    std::strerror(run.error));
      break;
    case GS_WRITE_FAILED:
      // Not every printer connection says why.
      if (run.error != 0) {
        std::snprintf(text, GS_MESSAGE_SIZE, "writing to the printer failed (%s)",
                      std::strerror(run.error));
      } else {
        std::snprintf(text, GS_MESSAGE_SIZE, "writing to the printer failed");
      }
      break;
  }
  return true;
}
// NOLINTEND(cert-err33-c)
