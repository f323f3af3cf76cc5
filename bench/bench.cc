// Measures the filters against the programs they stand beside in a queue:
// the pass-through against cat, start-up against cat, the PostScript path
// against the same gs command run directly, the CUPS filter on a job with a
// photo against gs run directly and against the lpd filter, and the peak
// memory of each; and, given a photo PDF and a text PDF, the pipeline that
// has gs draw raw pages and ravo encode them (pstoravo on the PDF) against gs
// writing PNG itself, with the bytes each writes, and what checking a whole
// document with gs's nullpage device costs. Runs of the two sides alternate,
// and each figure is the median of its runs. With RAVO_BENCH_PDF_ONLY set,
// only the PDF cases run.
//
// Usage: ravo_bench RAVOFILTER PSTORAVO PPD POSTSCRIPT-JOB [RUNS [PHOTO-PDF TEXT-PDF]]

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct Sample {
  double seconds;      // wall clock
  double cpu_seconds;  // user and system time of the program and its children
  long peak_kib;       // largest resident set of the program or a child
  double bytes;        // written into the pipe
};

enum class Output { DEV_NULL, PIPE };

// Runs `argv` with standard input from `input` and standard output to
// /dev/null or a pipe that this process drains, and measures it.
Sample run(const std::vector<std::string>& argv, const std::string& input, Output output) {
  int pipe_ends[2] = {-1, -1};
  if (output == Output::PIPE && pipe(pipe_ends) != 0) std::abort();
  const auto start = std::chrono::steady_clock::now();
  const pid_t child = fork();
  if (child == 0) {
    const int in = open(input.c_str(), O_RDONLY);
    const int out = output == Output::PIPE ? pipe_ends[1] : open("/dev/null", O_WRONLY);
    const int err = open("/dev/null", O_WRONLY);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    if (pipe_ends[0] >= 0) close(pipe_ends[0]);
    std::vector<char*> words;
    for (const std::string& word : argv) words.push_back(const_cast<char*>(word.c_str()));
    words.push_back(nullptr);
    execvp(words[0], words.data());
    _exit(127);
  }
  double bytes = 0;
  if (output == Output::PIPE) {
    close(pipe_ends[1]);
    static char sink[1 << 17];
    for (ssize_t got = 0; (got = read(pipe_ends[0], sink, sizeof sink)) > 0;) {
      bytes += static_cast<double>(got);
    }
    close(pipe_ends[0]);
  }
  int status = 0;
  rusage usage{};
  wait4(child, &status, 0, &usage);
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "%s exited with status %d\n", argv[0].c_str(), status);
  }
  const double cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                     static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  return {elapsed.count(), cpu, usage.ru_maxrss, bytes};
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t mid = values.size() / 2;
  return values.size() % 2 == 1 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

struct Comparison {
  std::vector<double> seconds[2];
  std::vector<double> cpu_seconds[2];
  std::vector<double> peak_kib[2];
  std::vector<double> bytes[2];
};

// Alternates the two sides `runs` times each, after one unmeasured warm-up.
Comparison compare(const std::vector<std::string> sides[2], const std::string& input, Output output,
                   int runs) {
  Comparison result;
  for (const auto& side : {sides[0], sides[1]}) run(side, input, output);
  for (int i = 0; i < runs; ++i) {
    for (int s = 0; s < 2; ++s) {
      const int side = (i % 2 == 0) ? s : 1 - s;
      const Sample sample = run(sides[side], input, output);
      result.seconds[side].push_back(sample.seconds);
      result.cpu_seconds[side].push_back(sample.cpu_seconds);
      result.peak_kib[side].push_back(static_cast<double>(sample.peak_kib));
      result.bytes[side].push_back(sample.bytes);
    }
  }
  return result;
}

void report(const char* what, const char* names[2], const Comparison& c, double scale,
            const char* unit) {
  double time[2];
  double cpu[2];
  double peak[2];
  for (int side = 0; side < 2; ++side) {
    time[side] = median(c.seconds[side]) * scale;
    cpu[side] = median(c.cpu_seconds[side]) * scale;
    peak[side] = median(c.peak_kib[side]);
    std::printf("%-34s %-6s wall %9.3f %-2s  cpu %9.3f %-2s  peak %7.0f KiB\n",
                side == 0 ? what : "", names[side], time[side], unit, cpu[side], unit, peak[side]);
  }
  std::printf("%-34s %-6s wall %9.4f     cpu %9.4f     peak %7.3f  (%zu runs each)\n", "", "ratio",
              time[0] / time[1], cpu[0] / cpu[1], peak[0] / peak[1], c.seconds[0].size());
  const double bytes[2] = {median(c.bytes[0]), median(c.bytes[1])};
  if (bytes[1] > 0) {
    std::printf("%-34s %-6s %.0f against %.0f bytes, ratio %.3f\n", "", "output", bytes[0],
                bytes[1], bytes[0] / bytes[1]);
  }
  std::printf("\n");
}

// gs's words for a page of `size` at `dpi` on `device`, the job read from
// standard input.
std::vector<std::string> gs_words(const char* dpi, const char* size, const char* device) {
  return {"gs",
          std::string("-r") + dpi,
          std::string("-g") + size,
          "-q",
          "-dNOPROMPT",
          "-dNOPAUSE",
          "-dSAFER",
          "-sstdout=%stderr",
          std::string("-sDEVICE=") + device,
          "-sOutputFile=-",
          "-_",
          "-c",
          "quit"};
}

// The PDF pipeline: pstoravo on `pdf` against gs writing PNG itself, and
// gs's check of the whole document against the whole of pstoravo's run.
void compare_pdf(const char* what, const std::string& pstoravo, const std::string& pdf,
                 const char* dpi, const char* size, int runs) {
  const std::vector<std::string> sides[2] = {
      {pstoravo, "1", "bench", "pdf", "1", std::string("Resolution=") + dpi + "dpi"},
      gs_words(dpi, size, "png16m")};
  const char* names[2] = {"ravo", "gs png"};
  report(what, names, compare(sides, pdf, Output::PIPE, runs), 1, "s");
  const std::vector<std::string> check[2] = {gs_words(dpi, size, "nullpage"), sides[0]};
  const char* check_names[2] = {"check", "ravo"};
  report("  its check (nullpage) against ravo", check_names,
         compare(check, pdf, Output::DEV_NULL, runs), 1, "s");
}

// Makes a new empty file under $TMPDIR (or /tmp) whose name starts with
// `prefix`, and returns its descriptor; `path` receives its name.
int make_temp_file(const char* prefix, std::string* path) {
  const char* tmp = std::getenv("TMPDIR");
  *path = std::string(tmp != nullptr && *tmp ? tmp : "/tmp") + "/" + prefix + "-XXXXXX";
  const int fd = mkstemp(path->data());
  if (fd < 0) std::abort();
  return fd;
}

std::string make_job(size_t bytes) {
  std::string path;
  const int fd = make_temp_file("ravo-bench", &path);
  std::vector<unsigned char> chunk(1 << 20);
  unsigned state = 1;
  for (unsigned char& byte : chunk) {
    state = state * 1103515245u + 12345u;
    byte = static_cast<unsigned char>(state >> 16);
  }
  chunk[0] = 'x';  // not PostScript
  for (size_t written = 0; written < bytes; written += chunk.size()) {
    if (write(fd, chunk.data(), chunk.size()) != static_cast<ssize_t>(chunk.size())) std::abort();
    chunk[0] = static_cast<unsigned char>(written >> 20);
  }
  close(fd);
  return path;
}

// Writes a one-page PostScript job holding a 1200 x 900 colour photo in
// ASCII hex, about 6.5 MB, and returns its path.
std::string make_photo_job() {
  std::string path;
  FILE* out = fdopen(make_temp_file("ravo-photo", &path), "w");
  std::fputs(
      "%!PS-Adobe-3.0\n%%Pages: 1\n%%EndComments\n%%Page: 1 1\n"
      "gsave 40 200 translate 515 386 scale\n"
      "1200 900 8 [1200 0 0 -900 0 900] currentfile /ASCIIHexDecode filter false 3 colorimage\n",
      out);
  unsigned state = 7;
  for (int y = 0; y < 900; ++y) {
    for (int x = 0; x < 1200; ++x) {
      state = state * 1103515245u + 12345u;
      const unsigned noise = (state >> 16) & 31u;
      std::fprintf(out, "%02x%02x%02x", (x * 200 / 1200 + noise) & 255u,
                   (y * 200 / 900 + noise) & 255u, ((x + y) * 100 / 2100 + noise) & 255u);
      if (x % 13 == 12) std::fputc('\n', out);
    }
    std::fputc('\n', out);
  }
  std::fputs(">\ngrestore showpage\n%%EOF\n", out);
  if (std::fclose(out) != 0) std::abort();
  return path;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr,
                 "usage: %s RAVOFILTER PSTORAVO PPD POSTSCRIPT-JOB [RUNS [PHOTO-PDF TEXT-PDF]]\n",
                 argv[0]);
    return 2;
  }
  const std::string filter = argv[1];
  const std::string pstoravo = argv[2];
  setenv("PPD", argv[3], 1);  // as CUPS gives it
  const std::string postscript = argv[4];
  const int runs = argc > 5 ? std::max(5, std::atoi(argv[5])) : 9;
  if (access("/etc/ravorc", F_OK) == 0) {
    std::printf("note: /etc/ravorc exists; gs below runs with the built-in defaults\n\n");
  }
  if (argc > 7) {
    const int pdf_runs = std::min(runs, 5);
    compare_pdf("4-page photo PDF, A4 at 720 dpi", pstoravo, argv[6], "720", "5952x8418", pdf_runs);
    compare_pdf("20-page text PDF, A4 at 360 dpi", pstoravo, argv[7], "360", "2976x4209", pdf_runs);
    if (std::getenv("RAVO_BENCH_PDF_ONLY") != nullptr) return 0;
  }
  const char* names[2] = {"ravo", "cat"};

  const std::string big = make_job(512u << 20);
  const std::string tiny = make_job(1u << 20);
  truncate(tiny.c_str(), 100);
  const std::vector<std::string> copy[2] = {{filter}, {"cat"}};
  report("pass-through 512 MiB to /dev/null", names, compare(copy, big, Output::DEV_NULL, runs), 1,
         "s");
  report("pass-through 512 MiB into a pipe", names, compare(copy, big, Output::PIPE, runs), 1, "s");
  report("start-up, 100-byte job", names, compare(copy, tiny, Output::DEV_NULL, 40 * runs), 1e3,
         "ms");
  unlink(big.c_str());
  unlink(tiny.c_str());

  const char* gs_names[2] = {"ravo", "gs"};
  const std::vector<std::string> raster[2] = {
      {filter},
      {"gs", "-r360", "-g2976x4209", "-q", "-dNOPROMPT", "-dNOPAUSE", "-dSAFER", "-sstdout=%stderr",
       "-sDEVICE=png16m", "-sOutputFile=-", "-", "-c", "quit"}};
  report("PostScript page, A4 at 360 dpi", gs_names,
         compare(raster, postscript, Output::DEV_NULL, runs), 1, "s");

  // The CUPS filter, called as CUPS calls it, on a job with a photo.
  const std::string photo = make_photo_job();
  const std::vector<std::string> cups[2] = {
      {pstoravo, "1", "bench", "photo", "1", ""},
      {"gs", "-r360", "-g2976x4209", "-q", "-dNOPROMPT", "-dNOPAUSE", "-dSAFER", "-sstdout=%stderr",
       "-sDEVICE=png16m", "-sOutputFile=-", "-_", "-c", "quit"}};
  const char* cups_names[2] = {"cups", "gs -_"};
  report("CUPS filter, 6.5 MB photo job", cups_names, compare(cups, photo, Output::PIPE, runs), 1,
         "s");
  const std::vector<std::string> lpd[2] = {cups[0], {filter}};
  const char* lpd_names[2] = {"cups", "lpd"};
  report("CUPS against lpd filter, photo", lpd_names, compare(lpd, photo, Output::DEV_NULL, 5), 1,
         "s");
  unlink(photo.c_str());
  return 0;
}
