#include "gs/runner.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/stat.h>
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
// `wrapped`, when not null, is gs's words run through stdbuf, tried first.
[[noreturn]] void exec_gs(const char* const* words, const char* const* wrapped, int input,
                          int output, int report, bool stderr_taken, pid_t parent) {
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
  if (wrapped != nullptr) execvp(wrapped[0], const_cast<char* const*>(wrapped));
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
constexpr size_t PASS_BYTES = size_t{1} << 16;
// A read that took less than half of READ_BYTES found gs behind: the next
// waits this long, so that gs's small writes gather in the pipe rather than
// each waking the reader.
constexpr int GATHER_MILLISECONDS = 1;

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
  // The unnamed file that holds the images until they may go, or -1; what
  // it holds, what of that is whole images, and what has gone on.
  int held;
  off_t held_bytes;
  off_t whole_bytes;
  off_t passed_bytes;
  bool hold_failed;
  uint32_t made;     // whole images encoded
  bool waiting;      // for the document's check: whole images stay held
  uint8_t* passing;  // PASS_BYTES, for passing held images on
};

// Takes the encoder's bytes: into the holding file, or without one straight
// to the job's `write`.
bool hold(void* context, const void* data, size_t size) {
  auto* page = static_cast<Page*>(context);
  if (page->held < 0) return page->job->write(page->job->context, data, size);
  if (gs_write_descriptor(&page->held, data, size)) {
    page->held_bytes += static_cast<off_t>(size);
    return true;
  }
  page->hold_failed = true;
  return false;
}

// Passes on what is held up to `to`, the end of a whole image; once all that
// is held has gone, empties the file.
bool pass_held(Page* page, off_t to) {
  const GsJob& job = *page->job;
  while (page->passed_bytes < to) {
    const off_t left = to - page->passed_bytes;
    const size_t want =
        left < static_cast<off_t>(PASS_BYTES) ? static_cast<size_t>(left) : PASS_BYTES;
    const ssize_t got = pread(page->held, page->passing, want, page->passed_bytes);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      if (got == 0) errno = EIO;
      page->hold_failed = true;
      return false;
    }
    errno = 0;
    if (!job.write(job.context, page->passing, static_cast<size_t>(got))) return false;
    page->passed_bytes += got;
  }
  if (page->passed_bytes < page->held_bytes) return true;
  page->held_bytes = page->whole_bytes = page->passed_bytes = 0;
  if (ftruncate(page->held, 0) == 0 && lseek(page->held, 0, SEEK_SET) == 0) return true;
  page->hold_failed = true;
  return false;
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

// Passes on the whole images encoded and not yet passed on. A caller that
// holds the pieces itself gets them as they come from then on, once the file
// holds nothing more.
bool release(Page* page) {
  const GsJob& job = *page->job;
  if (page->made == page->run->pages) return true;
  if (page->held >= 0) {
    if (!pass_held(page, page->whole_bytes)) return fail_write(page);
    if (job.unheld && page->held_bytes == 0) {
      close(page->held);
      page->held = -1;
    }
  }
  page->run->pages = page->made;
  if (job.page_done != nullptr) job.page_done(job.context, page->run->pages);
  return true;
}

// Hands the whole rows gathered to the row observer and the encoder.
bool hand_on_rows(Page* page) {
  const auto count = static_cast<uint32_t>(page->gathered_bytes / page->stride);
  if (count == 0) return true;
  const GsJob& job = *page->job;
  if (job.rows_seen != nullptr) {
    job.rows_seen(job.context, page->made + 1, page->y, page->gathered, count);
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
      if (!finished) return fail_write(page);
      ++page->made;
      page->whole_bytes = page->held_bytes;
      return page->waiting || release(page);
    }
    default:
      return true;
  }
}

// The document's check, run beside the drawing: a gs that draws nothing,
// whose verdict says whether the images drawn meanwhile may go.
struct Check {
  pid_t pid = -1;
  int output = -1;       // its standard output, which stays empty
  bool pending = false;  // still running, its verdict not yet known
  GsRun run{};           // its outcome, once known
};

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

// Waits for gs and takes its exit status as the run's outcome.
void end_gs(const GsJob& job, pid_t child, GsRun* run) {
  wait_for(job, child, run);
  if (run->outcome == GS_PRINTED &&
      (!WIFEXITED(run->wait_status) || WEXITSTATUS(run->wait_status) != 0)) {
    run->outcome = GS_FAILED;
  }
}

// Takes the check's verdict once its output has ended.
void end_check(const GsJob& job, Check* check) {
  close(check->output);
  check->output = -1;
  end_gs(job, check->pid, &check->run);
  check->pending = false;
}

// Reads what the check wrote, which ends it: nothing but the end of its
// output is allowed.
void read_check(const GsJob& job, Check* check) {
  char stray[64];
  ssize_t got = 0;
  do {
    got = read(check->output, stray, sizeof stray);
  } while (got < 0 && errno == EINTR);
  if (got > 0) {
    check->run.outcome = GS_BAD_OUTPUT;
    check->run.fault = "output while the document was checked";
    kill(check->pid, SIGTERM);
  }
  end_check(job, check);
}

// Encodes gs's raw pages as PNG images while the stream is sound, and passes
// them on. Returns when the output ends, or stops gs and returns at the
// first fault or cancellation. While `checking`, gs draws nothing, and any
// output at all is a fault. With a `check` beside, whole images stay in
// `held` until it has passed the document, and the run goes on until its
// verdict is known; it is stopped when the run is. `held` is the holding
// file, or -1, and is closed here.
void pass_on(const GsJob& job, bool checking, int output, pid_t child, Check* check, int held,
             GsRun* run) {
  Page page{};
  page.job = &job;
  page.run = run;
  page.width = static_cast<uint32_t>(job.conf->width);
  page.height = static_cast<uint32_t>(job.conf->height);
  page.grey = job.conf->ink == INK_MONO;
  page.stride = size_t{page.width} * (page.grey ? 1 : 3);
  const size_t rows = page.stride > 0 ? GATHER_BYTES / page.stride : 0;
  page.gather_capacity = (rows > 0 ? rows : 1) * page.stride;
  page.held = held;
  page.waiting = check != nullptr;
  RawStream stream;
  raw_stream_start(&stream, page.width, page.height, page.grey);
  auto* buffer = static_cast<uint8_t*>(std::malloc(READ_BYTES));
  page.gathered = static_cast<uint8_t*>(std::malloc(page.gather_capacity));
  page.passing = static_cast<uint8_t*>(std::malloc(PASS_BYTES));
  if (buffer == nullptr || page.gathered == nullptr || page.passing == nullptr) {
    run->outcome = GS_WRITE_FAILED;
    run->error = ENOMEM;
  }
  bool drawing = run->outcome == GS_PRINTED;  // gs's output is open and sound
  bool received = false;
  while (drawing || (check != nullptr && check->pending)) {
    if (asked_to_stop(job)) {
      if (run->outcome == GS_PRINTED) run->outcome = GS_CANCELLED;
      break;
    }
    pollfd ready[2] = {{output, POLLIN, 0}, {-1, POLLIN, 0}};
    if (!drawing) ready[0].fd = -1;
    if (check != nullptr && check->pending) ready[1].fd = check->output;
    const int events = poll(ready, 2, POLL_MILLISECONDS);
    if (events == 0 || (events < 0 && errno == EINTR)) continue;
    if (events < 0) {
      // The reads below then say what is wrong.
      ready[0].revents = ready[1].revents = POLLIN;
    }
    if (ready[1].fd >= 0 && ready[1].revents != 0) {
      read_check(job, check);
      if (check->run.outcome == GS_CANCELLED) {
        if (run->outcome == GS_PRINTED) run->outcome = GS_CANCELLED;
        break;
      }
      if (check->run.outcome != GS_PRINTED) break;
      page.waiting = false;
      if (run->outcome == GS_PRINTED && !release(&page)) break;
    }
    if (ready[0].fd < 0 || ready[0].revents == 0) continue;
    const ssize_t got = read(output, buffer, READ_BYTES);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      drawing = false;
      if (checking) continue;
      if (!received) {
        run->outcome = GS_NO_PAGES;
      } else if (!raw_stream_finish(&stream)) {
        run->outcome = GS_BAD_OUTPUT;
        run->fault = stream.fault;
      }
      continue;
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
    if (run->outcome != GS_PRINTED) {
      // The check's verdict still decides what the run ends with.
      drawing = false;
      kill(child, SIGTERM);
    } else if (static_cast<size_t>(got) < READ_BYTES / 2) {
      pause_briefly(GATHER_MILLISECONDS);
    }
  }
  png_encoder_free(page.encoder);
  if (page.held >= 0) close(page.held);
  std::free(page.passing);
  std::free(page.gathered);
  std::free(buffer);
  if (run->outcome != GS_PRINTED || (check != nullptr && check->run.outcome != GS_PRINTED)) {
    kill(child, SIGTERM);
  }
  if (check != nullptr && check->pending) {
    // Its verdict no longer counts, and it draws nothing: it need not end
    // in order, nor hold up the drawing's end.
    kill(check->pid, SIGKILL);
    check->run.outcome = GS_CANCELLED;
    end_check(job, check);
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

// gs writes its standard output through the C library's stream, whose
// buffer for a pipe is 4 KiB: for raw pages that is hundreds of thousands of
// writes a document, each waking the reader, which cost several times the
// drawing itself. stdbuf gives the stream a buffer as large as the pipe; gs
// still flushes it at the end of each page.
constexpr char GS_OUTPUT_BUFFER[] = "--output=1M";

// Whether `name` is an executable file in a directory of $PATH.
bool on_path(const char* name) {
  const char* path = std::getenv("PATH");
  if (path == nullptr) path = "/bin:/usr/bin";
  char candidate[4096];
  for (;;) {
    const char* end = std::strchr(path, ':');
    const size_t length = end != nullptr ? static_cast<size_t>(end - path) : std::strlen(path);
    const int written = std::snprintf(candidate, sizeof candidate, "%.*s%s%s",
                                      static_cast<int>(length), path, length > 0 ? "/" : "", name);
    if (written > 0 && static_cast<size_t>(written) < sizeof candidate &&
        access(candidate, X_OK) == 0) {
      return true;
    }
    if (end == nullptr) return false;
    path = end + 1;
  }
}

// Starts gs with `words` on `input`, its standard output a pipe whose read
// end comes back in `*output`; with `wide_writes`, through stdbuf where it
// can be had. Returns its process ID, or -1 with `run` saying why it did not
// start.
pid_t start_gs(const char* const* words, bool wide_writes, int input, int* output, GsRun* run) {
  // Where gs itself is missing, it is run directly, so that the error is
  // exec's and not stdbuf's.
  const char* wrapped[GS_MAX_WORDS + 2] = {"stdbuf", GS_OUTPUT_BUFFER};
  const bool wrap = wide_writes && on_path(words[0]);
  for (size_t word = 0; wrap && words[word] != nullptr; ++word) wrapped[word + 2] = words[word];
  int raster[2];
  int report[2];
  if (pipe2(raster, O_CLOEXEC) != 0) {
    run->outcome = GS_NOT_STARTED;
    run->error = errno;
    return -1;
  }
  if (pipe2(report, O_CLOEXEC) != 0) {
    run->outcome = GS_NOT_STARTED;
    run->error = errno;
    close(raster[0]);
    close(raster[1]);
    return -1;
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
  if (child == 0) {
    exec_gs(words, wrap ? wrapped : nullptr, input, raster[1], report[1], stderr_taken, parent);
  }
  const int fork_error = errno;
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  close(raster[1]);
  close(report[1]);
  int exec_error = 0;
  ssize_t got = 0;
  if (child > 0) {
    do {
      got = read(report[0], &exec_error, sizeof exec_error);
    } while (got < 0 && errno == EINTR);
  }
  close(report[0]);
  if (child > 0 && got != sizeof exec_error) {
    *output = raster[0];
    return child;
  }
  close(raster[0]);
  run->outcome = GS_NOT_STARTED;
  run->error = child < 0 ? fork_error : exec_error;
  if (child > 0) {
    while (waitpid(child, &run->wait_status, 0) < 0 && errno == EINTR) {
    }
  }
  return -1;
}

// Runs gs once with `words` on the job's input, passing on what it writes,
// and waits for it.
void run_once(const GsJob& job, bool checking, const char* const* words, GsRun* run) {
  int output = -1;
  const pid_t child = start_gs(words, !checking, job.input, &output, run);
  if (child < 0) return;
  const int held = checking || job.unheld ? -1 : open_holding_file();
  pass_on(job, checking, output, child, nullptr, held, run);
  close(output);
  end_gs(job, child, run);
  if (run->outcome == GS_NO_PAGES && run->wait_status != 0) run->outcome = GS_FAILED;
}

// A description of the job's file of its own, with its own offset at
// `start`, for the check to read beside the drawing; -1 when the input is no
// regular file or cannot be opened again.
int open_again(int input, off_t start) {
  struct stat status {};
  if (fstat(input, &status) != 0 || !S_ISREG(status.st_mode)) return -1;
  char path[40];
  static_cast<void>(std::snprintf(path, sizeof path, "/proc/self/fd/%d", input));
  const int again = open(path, O_RDONLY | O_CLOEXEC);
  if (again >= 0 && lseek(again, start, SEEK_SET) != start) {
    close(again);
    return -1;
  }
  return again;
}

// The document's check interprets it at this resolution, on a page of the
// same size: what makes gs fail does not hang on it, while at the printer's
// resolution gs renders every image into nothing, at 720 dpi four times the
// time of the whole check on a photo page.
constexpr int32_t CHECK_RESOLUTION = 72;

Conf conf_for_check(const Conf& conf) {
  if (conf.resolution <= CHECK_RESOLUTION) return conf;
  const auto scale = [&conf](int32_t pixels) {
    const int64_t scaled =
        (int64_t{pixels} * CHECK_RESOLUTION + conf.resolution / 2) / conf.resolution;
    return static_cast<int32_t>(scaled > 0 ? scaled : 1);
  };
  return Conf{conf.ink, CHECK_RESOLUTION, scale(conf.width), scale(conf.height)};
}

// Runs the check on `check_input` and the drawing on the job's input at
// once; the images wait in `held` until the check has passed the document.
// A document the check fails ends the run with the check's outcome, and
// nothing was passed on.
void run_beside(const GsJob& job, const char* const* check_words, int check_input,
                const char* const* words, int held, GsRun* run) {
  Check check;
  check.pid = start_gs(check_words, false, check_input, &check.output, &check.run);
  if (check.pid < 0) {
    close(held);
    *run = check.run;
    return;
  }
  check.pending = true;
  int output = -1;
  const pid_t child = start_gs(words, true, job.input, &output, run);
  if (child < 0) {
    close(held);
    kill(check.pid, SIGKILL);
    check.run.outcome = GS_CANCELLED;
    end_check(job, &check);
    return;
  }
  pass_on(job, false, output, child, &check, held, run);
  close(output);
  end_gs(job, child, run);
  if (run->outcome == GS_NO_PAGES && run->wait_status != 0) run->outcome = GS_FAILED;
  if (run->outcome != GS_CANCELLED && check.run.outcome != GS_PRINTED &&
      check.run.outcome != GS_CANCELLED) {
    *run = check.run;
  }
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
    GsArguments checking;
    compose_gs_drawing(conf_for_check(*job.conf), input, GS_DRAW_NOTHING, job.first_page,
                       job.last_page, &checking);
    compose_gs_drawing(*job.conf, input, GS_DRAW_RAW, job.first_page, job.last_page, &arguments);
    // Beside the drawing where the check can have a description of the file
    // of its own and the images a file to wait in; otherwise before it.
    const int again = open_again(job.input, start);
    const int held = again >= 0 ? open_holding_file() : -1;
    if (held >= 0) {
      run_beside(job, checking.words, again, arguments.words, held, run);
      close(again);
      return run->outcome == GS_PRINTED;
    }
    if (again >= 0) close(again);
    run_once(job, true, checking.words, run);
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
