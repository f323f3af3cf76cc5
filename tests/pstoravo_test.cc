// pstoravo run directly as CUPS runs it: arguments, $PPD, the job on standard
// input or in a file, and a stand-in gs first on PATH that records what it
// was given; then with the real gs on jobs that try to print something else.

#include <gtest/gtest.h>
#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/files.h"
#include "tests/support/filter_process.h"
#include "tests/support/private_etc.h"

namespace ravo_test {
namespace {

const std::string JOB = "%!PS\nshowpage\n";
const std::string LOG = scratch_dir() + "/pstoravo-gs";

// The PPD with the lines that match `from` replaced by `to`, or cut short.
std::string altered_ppd(const std::string& name, const std::string& from, const std::string& to,
                        size_t length = std::string::npos) {
  std::string ppd = read_file(RAVO_PPD).substr(0, length);
  if (!from.empty()) ppd.replace(ppd.find(from), from.size(), to);
  return write_scratch_file(name, ppd);
}

// The words gs was given that say what it makes and how it reads.
std::string gs_words() {
  std::istringstream in(read_file(LOG + "/args"));
  std::string words;
  for (std::string word; std::getline(in, word);) {
    if (word.starts_with("-r") || word.starts_with("-g") || word.starts_with("-sDEVICE") ||
        word == "-_" || word == "-") {
      words += (words.empty() ? "" : " ") + word;
    }
  }
  return words;
}

pid_t gs_pid() { return std::atoi(read_file(LOG + "/pid").c_str()); }

bool running(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string ignored;
  char state = 'X';
  stat >> ignored >> ignored >> state;
  return stat && state != 'Z';
}

// Sends `signal_number` to the filter alone once gs runs, or after a while.
std::function<void(pid_t)> send(int signal_number, bool once_gs_runs = true) {
  return [=](pid_t filter) {
    for (int tries = 0; tries < (once_gs_runs ? 500 : 30) && (!once_gs_runs || gs_pid() == 0);
         ++tries)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    kill(filter, signal_number);
  };
}

const std::string DEFAULT_WORDS = "-r360 -g2976x4209 -sDEVICE=ppmraw -_";
const std::string NOT_RUN;

struct Case {
  const char* label;
  std::vector<std::string> options_and_file;  // argv[5] and on
  int status;                                 // -1: killed
  std::string words;                          // NOT_RUN: gs is not run
  std::string message;                        // what the messages hold
  FilterRun run = {};                         // input, the stand-in's settings, signals
  std::string ppd = RAVO_PPD;                 // empty: $PPD unset
};

TEST(Pstoravo, CalledAsCupsCallsIt) {
  const std::string fifo = scratch_dir() + "/fifo";
  mkfifo(fifo.c_str(), 0600);
  const std::string file = write_scratch_file("job.ps", JOB);
  const auto stand_in = [](const char* name, const char* value) {
    return FilterRun{.environment = {{name, value}}};
  };
  const auto hang_and = [](int signal_number) {
    return FilterRun{.environment = {{"RAVO_FAKE_GS_HANG", "1"}},
                     .while_running = send(signal_number)};
  };
  // clang-format off
  const Case cases[] = {
      {"defaults", {""}, 0, DEFAULT_WORDS, ""},
      {"A6 grey at 180 dpi", {"PageSize=A6 ColorModel=Gray Resolution=180dpi"}, 0, "-r180 -g744x1049 -sDEVICE=pcxgray -_", ""},
      {"IPP media and colour mode", {"media=iso_a5_148x210mm print-color-mode=monochrome"}, 0, "-r360 -g2098x2976 -sDEVICE=pcxgray -_", ""},
      {"a file, standard input closed", {"", file}, 0, DEFAULT_WORDS, "", {.input = Input::CLOSED}},
      {"signals ignored", {""}, 0, DEFAULT_WORDS, "", {.ignored_signals = {SIGCHLD, SIGPIPE, SIGHUP, SIGTERM}}},
      {"usage", {}, 1, NOT_RUN, "Usage: "},
      {"no PPD", {""}, 1, NOT_RUN, "ERROR: No PPD file", {}, ""},
      {"a truncated PPD", {""}, 1, NOT_RUN, "lacks these options: InputSlot Resolution ColorModel\n", {},
       altered_ppd("short.ppd", "", "", 5000)},
      {"a size the source lacks", {"PageSize=NC"}, 1, NOT_RUN, "printed: the paper source does not take this paper size\n"},
      {"a colour mode not RGB or Gray", {"ColorModel=CMYK"}, 1, NOT_RUN, "printed: the colour mode is neither RGB nor Gray\n", {},
       altered_ppd("cmyk.ppd", "*ColorModel Gray", "*ColorModel CMYK")},
      {"a resolution not in dpi", {"Resolution=fine"}, 1, NOT_RUN, "printed: the resolution is not a number of dots per inch\n", {},
       altered_ppd("fine.ppd", "*Resolution 180dpi", "*Resolution fine")},
      {"a size the PPD lacks", {"PageSize=Letter"}, 1, NOT_RUN, "ERROR: PageSize=Letter is not a choice of this printer: A4, A5, "},
      {"a custom size", {"PageSize=Custom.100x200"}, 1, NOT_RUN, ", A3+ (Super A3), B5 (JIS), B4 (JIS), PC (Postcard), "},
      {"a resolution the PPD lacks", {"Resolution=1200dpi"}, 1, NOT_RUN, "ERROR: Resolution=1200dpi is not a choice of this printer: 180dpi (180 dpi), "},
      {"a source the PPD lacks", {"InputSlot=Tray9"}, 1, NOT_RUN, "ERROR: InputSlot=Tray9 is not a choice of this printer: AUTO (Sheet Feeder), "},
      {"a colour mode the PPD lacks", {"ColorModel=CMYK"}, 1, NOT_RUN, "ERROR: ColorModel=CMYK is not a choice of this printer: RGB (Color), Gray (Grayscale)\n"},
      {"gs fails", {""}, 1, DEFAULT_WORDS, "ERROR: gs exited with status 1\n", stand_in("RAVO_FAKE_GS_STATUS", "1")},
      {"gs exits 130", {""}, 1, DEFAULT_WORDS, "ERROR: gs exited with status 130\n", stand_in("RAVO_FAKE_GS_STATUS", "130")},
      {"gs is killed", {""}, 1, DEFAULT_WORDS, "ERROR: gs was ended by signal 9 (Killed)\n", stand_in("RAVO_FAKE_GS_SIGNAL", "KILL")},
      {"gs is missing", {""}, 1, NOT_RUN, "ERROR: gs was not found\n", {.search_path = "/nonexistent"}},
      {"gs writes something else", {""}, 1, DEFAULT_WORDS, "ERROR: gs wrote something other than the expected PNG images",
       stand_in("RAVO_FAKE_GS_OUTPUT", "png+text")},
      {"gs writes a page a row short", {""}, 1, DEFAULT_WORDS, "ERROR: gs wrote something other than the expected PNG images (a page cut short)\n",
       stand_in("RAVO_FAKE_GS_OUTPUT", "raw-short")},
      {"gs writes a page of another size", {""}, 1, DEFAULT_WORDS, "ERROR: gs wrote something other than the expected PNG images (a page of another size)\n",
       stand_in("RAVO_FAKE_GS_OUTPUT", "raw-size")},
      {"cancelled", {""}, 1, DEFAULT_WORDS, "INFO: Job cancelled\n", hang_and(SIGTERM)},
      {"the filter killed", {""}, -1, DEFAULT_WORDS, "", hang_and(SIGKILL)},
      {"cancelled opening a FIFO", {"", fifo}, 1, NOT_RUN, "INFO: Job cancelled\n", {.while_running = send(SIGTERM, false)}},
  };
  // clang-format on
  for (Case c : cases) {
    SCOPED_TRACE(c.label);
    std::filesystem::remove_all(LOG);
    mkdir(LOG.c_str(), 0755);
    c.run.job = JOB;
    c.run.wrapper = {};
    c.run.command = {PSTORAVO_PATH, "1", "user", "title", "1"};
    c.run.command.insert(c.run.command.end(), c.options_and_file.begin(), c.options_and_file.end());
    if (c.run.search_path.empty())
      c.run.search_path = std::string(FAKE_GS_DIR) + ":" + std::getenv("PATH");
    c.run.environment.emplace_back("RAVO_FAKE_GS_LOG", LOG);
    c.run.environment.insert(c.run.environment.begin(), {"RAVO_FAKE_GS_OUTPUT", "png"});
    if (!c.ppd.empty()) c.run.environment.emplace_back("PPD", c.ppd);
    const FilterResult got = run_filter(c.run);

    EXPECT_EQ(got.status, c.status);
    EXPECT_EQ(gs_words(), c.words);
    EXPECT_NE(got.messages.find(c.message), std::string::npos) << got.messages;
    if (!c.words.empty()) {
      EXPECT_EQ(read_file(LOG + "/job"), JOB);
      EXPECT_EQ(read_file(LOG + "/signals"), "Blk 00000000\nIgn 00000000\n");
    }
    if (c.status == 0) {
      EXPECT_TRUE(got.output.starts_with("\x89PNG")) << got.output;
    }
    // Only whole images leave the filter, whatever happened.
    EXPECT_TRUE(got.output.empty() || got.output.ends_with("IEND\xae\x42\x60\x82"));
    EXPECT_EQ(got.output.find("text"), std::string::npos);
    // gs ends with its filter.
    const pid_t gs = gs_pid();
    for (int tries = 0; gs > 0 && running(gs) && tries < 100; ++tries)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(gs > 0 && running(gs));
    if (gs > 0 && running(gs)) kill(gs, SIGKILL);
  }
}

// A job that switches gs to a device writing something else to standard
// output, from its first page or after one: nothing but whole PNG images of
// the size asked for reaches the printer.
TEST(Pstoravo, PassesOnNothingButThePngAskedFor) {
  RAVO_REQUIRE(std::system("command -v gs >/dev/null 2>&1") == 0, "gs is not installed");
  for (const std::string device : {"txtwrite", "pdfwrite", "pxlcolor"}) {
    for (const std::string first_page : {"", "showpage\n"}) {
      SCOPED_TRACE(device + (first_page.empty() ? "" : " after a page"));
      const FilterResult got = run_filter({
          .job = "%!PS\n" + first_page + "mark /OutputFile (-) (" + device +
                 ") finddevice putdeviceprops setdevice\n"
                 "/Courier findfont 12 scalefont setfont 9 9 moveto (switched) show showpage\n",
          .environment = {{"PPD", RAVO_PPD}},
          .command = {PSTORAVO_PATH, "1", "user", "title", "1", "PageSize=A6 Resolution=180dpi"},
          .wrapper = {},
      });
      EXPECT_EQ(got.status, 1);
      EXPECT_NE(got.messages.find("ERROR: gs wrote something other than the expected PNG images"),
                std::string::npos)
          << got.messages;
      // A page and what followed may have come in one read, which is held back.
      const bool one_png = got.output.starts_with("\x89PNG") &&
                           got.output.ends_with("IEND\xae\x42\x60\x82") &&
                           got.output.find("\x89PNG", 1) == std::string::npos;
      EXPECT_TRUE(got.output.empty() || (!first_page.empty() && one_png)) << got.output.size();
    }
  }
}

// The images back to back in `stream`, each decoded to 8-bit samples of
// `format`; an empty image for one that libpng refuses.
std::vector<std::string> decode_all(std::string stream, uint32_t format) {
  std::vector<std::string> images;
  while (!stream.empty()) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    std::string pixels;
    const size_t end = stream.find("IEND");
    const size_t size = end == std::string::npos ? stream.size() : end + 8;
    if (png_image_begin_read_from_memory(&image, stream.data(), size) != 0) {
      image.format = format;
      pixels.resize(PNG_IMAGE_SIZE(image));
      if (png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr) == 0) pixels.clear();
    }
    images.push_back(pixels);
    stream.erase(0, size);
  }
  return images;
}

// What pstoravo prints, decoded, is exactly what gs draws into PNG itself.
TEST(Pstoravo, PrintsThePixelsGsDrawsIntoPng) {
  RAVO_REQUIRE(std::system("command -v gs >/dev/null 2>&1") == 0, "gs is not installed");
  const std::string job =
      "%!PS\n"
      "0 1 1 { /p exch def 0 1 99 { /i exch def i 100 div p 0.5 mul 0.3 setrgbcolor\n"
      "  i 3 mul 0 moveto 0 420 rlineto 3 0 rlineto 0 -420 rlineto fill } for\n"
      "  0 setgray /Times-Roman findfont 31 scalefont setfont 20 200 moveto\n"
      "  (Page ) show p 1 add 1 string cvs show showpage } for\n";
  const std::string job_file = write_scratch_file("pixels.ps", job);
  const struct {
    const char* options;
    const char* gs_words;
    uint32_t format;
  } cases[] = {
      {"PageSize=A6 Resolution=180dpi ColorModel=RGB", "-r180 -g744x1049 -sDEVICE=png16m",
       PNG_FORMAT_RGB},
      {"PageSize=A6 Resolution=180dpi ColorModel=Gray", "-r180 -g744x1049 -sDEVICE=pnggray",
       PNG_FORMAT_GRAY},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.options);
    const FilterResult got = run_filter({
        .job = job,
        .environment = {{"PPD", RAVO_PPD}},
        .command = {PSTORAVO_PATH, "1", "user", "title", "1", c.options},
        .wrapper = {},
    });
    ASSERT_EQ(got.status, 0) << got.messages;
    const std::string direct = scratch_dir() + "/direct-%d.png";
    ASSERT_EQ(std::system(("gs -q -dNOPAUSE -dBATCH -dSAFER " + std::string(c.gs_words) +
                           " -sOutputFile=" + direct + " " + job_file + " 2>/dev/null")
                              .c_str()),
              0);
    const std::vector<std::string> printed = decode_all(got.output, c.format);
    ASSERT_EQ(printed.size(), 2U);
    for (size_t page = 0; page < printed.size(); ++page) {
      const std::vector<std::string> drawn = decode_all(
          read_file(scratch_dir() + "/direct-" + std::to_string(page + 1) + ".png"), c.format);
      ASSERT_EQ(drawn.size(), 1U);
      EXPECT_FALSE(printed[page].empty());
      EXPECT_TRUE(printed[page] == drawn[0]) << "page " << page + 1;
    }
    EXPECT_NE(printed[0], printed[1]);
  }
}

// A printer connection that goes away or fills up fails the job with the
// reason, rather than killing the filter with a signal that CUPS reports
// without one.
TEST(Pstoravo, SaysWhyWritingToThePrinterFailed) {
  const struct {
    const char* label;
    Output output;
    std::string output_path;
    const char* message;
  } cases[] = {
      {"the reader gone", Output::CLOSED_PIPE, "",
       "ERROR: writing to the printer failed (Broken pipe)\n"},
      {"a full device", Output::FILE, "/dev/full",
       "ERROR: writing to the printer failed (No space left on device)\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    std::filesystem::remove_all(LOG);
    mkdir(LOG.c_str(), 0755);
    const FilterResult got = run_filter({
        .job = JOB,
        .output = c.output,
        .output_path = c.output_path,
        .search_path = std::string(FAKE_GS_DIR) + ":" + std::getenv("PATH"),
        .environment = {{"RAVO_FAKE_GS_OUTPUT", "png"},
                        {"RAVO_FAKE_GS_LOG", LOG},
                        {"PPD", RAVO_PPD}},
        .command = {PSTORAVO_PATH, "1", "user", "title", "1", ""},
        .wrapper = {},
    });
    EXPECT_EQ(got.status, 1);
    EXPECT_NE(got.messages.find(c.message), std::string::npos) << got.messages;
  }
}

// The PPD's writer as the build runs it: the PPD on standard output, or a
// status that stops the build.
TEST(Ravoppd, WritesThePpdOrFails) {
  const std::string ravoppd =
      std::filesystem::path(PSTORAVO_PATH).parent_path().append("ravoppd").string();
  const struct {
    const char* label;
    std::vector<std::string> arguments;
    std::string output_path;
    int status;
    std::string messages;
    std::string output;  // a line of it
  } cases[] = {
      {"a version", {"9.9"}, "", 0, "", "*FileVersion: \"9.9\"\n"},
      {"no version", {}, "", 2, "usage: ravoppd VERSION\n", ""},
      {"two versions", {"9.9", "9.10"}, "", 2, "usage: ravoppd VERSION\n", ""},
      {"a full disk", {"9.9"}, "/dev/full", 1, "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    FilterRun run{.output_path = c.output_path, .command = {ravoppd}, .wrapper = {}};
    run.command.insert(run.command.end(), c.arguments.begin(), c.arguments.end());
    const FilterResult got = run_filter(run);
    EXPECT_EQ(got.status, c.status);
    EXPECT_EQ(got.messages, c.messages);
    EXPECT_NE(got.output.find(c.output), std::string::npos);
    if (c.output.empty() && c.output_path.empty()) {
      EXPECT_EQ(got.output, "");
    }
  }
}

// The choices a job prints with are a DEBUG line; choices that cannot be
// printed are an ERROR, which CUPS shows the user.
TEST(Pstoravo, SaysWhichChoicesItPrintsWith) {
  const struct {
    const char* options;
    int status;
    const char* line;
  } cases[] = {
      {"", 0, "DEBUG: PageSize=A4 InputSlot=AUTO Resolution=360dpi ColorModel=RGB\n"},
      {"PageSize=NC", 1,
       "ERROR: PageSize=NC InputSlot=AUTO Resolution=360dpi ColorModel=RGB cannot be printed: the "
       "paper source does not take this paper size\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.options);
    std::filesystem::remove_all(LOG);
    mkdir(LOG.c_str(), 0755);
    const FilterResult got = run_filter({
        .job = JOB,
        .search_path = std::string(FAKE_GS_DIR) + ":" + std::getenv("PATH"),
        .environment = {{"RAVO_FAKE_GS_OUTPUT", "png"},
                        {"RAVO_FAKE_GS_LOG", LOG},
                        {"PPD", RAVO_PPD}},
        .command = {PSTORAVO_PATH, "1", "user", "title", "1", c.options},
        .wrapper = {},
    });
    EXPECT_EQ(got.status, c.status);
    EXPECT_NE(got.messages.find(c.line), std::string::npos) << got.messages;
    EXPECT_EQ(got.messages.find("ERROR:") == std::string::npos, c.status == 0) << got.messages;
  }
}

}  // namespace
}  // namespace ravo_test
