#include "filter/filter.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

#include "conf/settings.h"
#include "filter/rasterise.h"

const Conf Def_Conf = {INK_COLOUR, 360, 2976, 4209};

namespace {

// How many bytes of the peek view lie inside the job. Touching a mapped byte
// past the end of a file kills the process, so a short job is classified from
// the bytes it has.
size_t peekable_length(int fd) {
  struct stat job {};
  if (fstat(fd, &job) != 0) return 0;
  if (!S_ISREG(job.st_mode)) return PEEK_LENGTH;
  const auto size = static_cast<unsigned long long>(job.st_size);
  return size < PEEK_LENGTH ? static_cast<size_t>(size) : PEEK_LENGTH;
}

int report(const char* what, int error) {
  static_cast<void>(std::fprintf(stderr, "%s : %s\n", what, std::strerror(error)));
  return 1;
}

// Copies standard input to standard output and closes standard output.
int copy_job() {
  // A reader that goes away, or a file-size limit, then fails a write like any
  // other loss instead of killing the filter unannounced. Only the copy does
  // this: a child inherits ignored signals, and the interpreter must not.
  static_cast<void>(std::signal(SIGPIPE, SIG_IGN));
  static_cast<void>(std::signal(SIGXFSZ, SIG_IGN));
  // Unbuffered streams hand each chunk straight to one read and one write.
  // Should that fail, the copy is only slower.
  static_cast<void>(std::setvbuf(stdin, nullptr, _IONBF, 0));
  static_cast<void>(std::setvbuf(stdout, nullptr, _IONBF, 0));
  int status = pass_through(stdin, stdout);
  if (std::fclose(stdout) != 0 && status == 0) {
    status = report("closing standard output", errno);
  }
  return status;
}

// Turns the shell's outcome, as `system` reports it, into the filter's exit
// status: 0 when the interpreter succeeded, else, after one line saying what
// went wrong, 3 when the interpreter refused the job itself, and 1 otherwise.
// A job that did not print must not look printed to the spooler, and a broken
// one must be removed rather than printed again from its first page.
int rasteriser_status(int outcome) {
  if (outcome == -1) {
    static_cast<void>(std::fprintf(stderr, "rasterising : the shell could not be started (%s)\n",
                                   std::strerror(errno)));
    return 1;
  }
  char failure[GS_FAILURE_SIZE];
  if (!describe_gs_failure(outcome, true, failure)) return 0;
  static_cast<void>(std::fprintf(stderr, "rasterising : %s\n", failure));
  return gs_refused_job(outcome, true) ? 3 : 1;
}

}  // namespace

bool check_postscript(const unsigned char* head, size_t length) {
  if (length >= 2 && head[0] == '%' && head[1] == '!') return true;
  return length >= 3 && head[0] == 0x04 && head[1] == '%' && head[2] == '!';
}

int pass_through(FILE* in, FILE* out) {
  unsigned char buffer[COPY_BUFFER_SIZE];
  for (;;) {
    const size_t got = std::fread(buffer, 1, COPY_CHUNK, in);
    if (got == 0) break;
    if (std::fwrite(buffer, 1, got, out) != got) {
      return report("writing standard output", errno);
    }
  }
  if (std::ferror(in) != 0) return report("reading standard input", errno);
  if (std::fflush(out) != 0) return report("writing standard output", errno);
  return 0;
}

bool classify_job(int fd, bool* postscript) {
  void* peek = mmap(nullptr, PEEK_LENGTH, PROT_READ, MAP_PRIVATE, fd, 0);
  if (peek == MAP_FAILED) return false;
  *postscript = check_postscript(static_cast<const unsigned char*>(peek), peekable_length(fd));
  munmap(peek, PEEK_LENGTH);
  return true;
}

int filter_main() {
  bool postscript = false;
  if (!classify_job(STDIN_FILENO, &postscript)) return 1;
  if (!postscript) return copy_job();

  // With SIGCHLD ignored, the shell's end could not be waited for.
  static_cast<void>(std::signal(SIGCHLD, SIG_DFL));
  Conf conf;
  if (read_conf(&conf) != 0) conf = Def_Conf;
  return rasteriser_status(run_gs(&conf));
}
