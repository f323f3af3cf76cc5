#include "gs/runner.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <png.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/files.h"

namespace {

// The stand-in gs of tests/fake-gs, and its folder.
std::string fake_gs_dir() { return std::string(EXAMPLES_DIR) + "/../tests/fake-gs"; }
std::string fake_gs_path() { return fake_gs_dir() + "/gs"; }

struct Collected {
  std::string bytes;
  std::vector<size_t> page_ends;  // the size of `bytes` at each page_done
  std::string pages_done;         // page_done's counts, each followed by a blank
  int polls = 0;
  int cancel_after = -1;  // polls before the job is cancelled; -1 never
  size_t cancel_at = 0;   // pages passed on before the job is cancelled; 0 never
};

bool collect(void* context, const void* data, size_t size) {
  static_cast<Collected*>(context)->bytes.append(static_cast<const char*>(data), size);
  return true;
}

void note_page(void* context, uint32_t pages) {
  auto* collected = static_cast<Collected*>(context);
  collected->pages_done += std::to_string(pages) + " ";
  collected->page_ends.push_back(collected->bytes.size());
}

bool cancel_when_due(void* context) {
  auto* collected = static_cast<Collected*>(context);
  if (collected->cancel_at > 0 && collected->page_ends.size() >= collected->cancel_at) return true;
  return collected->cancel_after >= 0 && collected->polls++ >= collected->cancel_after;
}

// How a job is run beyond the defaults.
struct Range {
  int32_t first_page = 0;
  int32_t last_page = 0;
  bool precheck = false;
  bool unheld = false;
};

// Runs gs on the job file at `path`.
GsRun run_on_file(const std::string& path, Collected* collected, const Range& range = {}) {
  const int input = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  const Conf conf = {INK_MONO, 18, 149, 210};  // A4 at 18 dpi
  const GsJob gs_job = {&conf,           true,           input,     collect,
                        cancel_when_due, collected,      note_page, range.first_page,
                        range.last_page, range.precheck, nullptr,   range.unheld};
  GsRun run;
  run_gs_job(gs_job, &run);
  close(input);
  return run;
}

GsRun run_on(const std::string& job, Collected* collected, const Range& range = {}) {
  return run_on_file(ravo_test::write_scratch_file("job.ps", job), collected, range);
}

TEST(GsRunner, PassesOnWholeImagesAndSaysWhatWentWrong) {
  const struct {
    const char* job;
    GsOutcome outcome;
    uint32_t pages;
    const char* message;
  } cases[] = {
      {"showpage showpage", GS_PRINTED, 2, ""},
      {"(to the log) print flush showpage", GS_PRINTED, 1, ""},
      {"showpage nosuchoperator", GS_FAILED, 1, "gs exited with status 1"},
      {"", GS_NO_PAGES, 0, "gs rendered no page"},
      {"mark /OutputFile (-) (txtwrite) finddevice putdeviceprops setdevice "
       "/Courier findfont 12 scalefont setfont 10 10 moveto (text) show showpage",
       GS_BAD_OUTPUT, 0, "gs wrote something other than the expected PNG images (no PCX header)"},
  };
  for (const auto& c : cases) {
    Collected collected;
    const GsRun run = run_on(c.job, &collected);
    char message[GS_MESSAGE_SIZE] = "";
    describe_gs_run(run, message);
    EXPECT_EQ(run.outcome, c.outcome) << c.job;
    EXPECT_EQ(run.pages, c.pages) << c.job;
    EXPECT_STREQ(message, c.message) << c.job;
    EXPECT_EQ(collected.bytes.find("to the log"), std::string::npos);
  }
}

// Checked beside the drawing, a document with no page, or one that fails
// after its first, is still told for what it is.
TEST(GsRunner, SaysWhatWentWrongWithACheckedDocument) {
  const struct {
    const char* job;
    GsOutcome outcome;
    const char* message;
  } cases[] = {
      {"", GS_NO_PAGES, "gs rendered no page"},
      {"showpage nosuchoperator", GS_FAILED, "gs exited with status 1"},
  };
  for (const auto& c : cases) {
    Collected collected;
    Range range;
    range.precheck = true;
    const GsRun run = run_on(c.job, &collected, range);
    char message[GS_MESSAGE_SIZE] = "";
    describe_gs_run(run, message);
    EXPECT_EQ(run.outcome, c.outcome) << c.job;
    EXPECT_EQ(run.pages, 0U) << c.job;
    EXPECT_STREQ(message, c.message) << c.job;
    EXPECT_TRUE(collected.bytes.empty()) << c.job;
  }
}

// Three pages, each blacker than the one before.
const char* const THREE_PAGES = "1 -0.3 0.1 { setgray clippath fill showpage } for";

TEST(GsRunner, DrawsTheRangeAskedForAndChecksFirstWhenAsked) {
  Collected whole;
  ASSERT_EQ(run_on(THREE_PAGES, &whole).outcome, GS_PRINTED);
  // Checked, the pages may come together, once the check has passed them.
  const struct {
    const char* job;
    Range range;
    GsOutcome outcome;
    uint32_t pages;
  } cases[] = {
      {THREE_PAGES, {}, GS_PRINTED, 3},
      {THREE_PAGES, {2, 0}, GS_PRINTED, 2},
      {THREE_PAGES, {2, 2}, GS_PRINTED, 1},
      {THREE_PAGES, {0, 1}, GS_PRINTED, 1},
      {THREE_PAGES, {0, 0, true}, GS_PRINTED, 3},
      {"showpage nosuchoperator", {0, 0, true}, GS_FAILED, 0},
      {"showpage showpage nosuchoperator", {2, 2, true}, GS_FAILED, 0},
      {"mark /OutputFile (-) (txtwrite) finddevice putdeviceprops setdevice "
       "/Courier findfont 12 scalefont setfont 10 10 moveto (text) show showpage",
       {0, 0, true},
       GS_BAD_OUTPUT,
       0},
  };
  for (const auto& c : cases) {
    Collected collected;
    const GsRun run = run_on(c.job, &collected, c.range);
    EXPECT_EQ(run.outcome, c.outcome) << c.job << " " << c.range.first_page;
    EXPECT_EQ(run.pages, c.pages) << c.job << " " << c.range.first_page;
    const std::string last = c.pages > 0 ? std::to_string(c.pages) + " " : "";
    EXPECT_TRUE(collected.pages_done.ends_with(last)) << collected.pages_done;
    if (c.outcome != GS_PRINTED) {
      EXPECT_EQ(collected.bytes, "") << c.job;
    }
  }
  Collected checked;
  run_on(THREE_PAGES, &checked, {0, 0, true});
  EXPECT_EQ(checked.bytes, whole.bytes);
  // The range starts at the page asked for: page 2 alone is the middle of the
  // whole document.
  Collected second;
  run_on(THREE_PAGES, &second, {2, 2});
  Collected first_two;
  run_on(THREE_PAGES, &first_two, {1, 2});
  EXPECT_EQ(first_two.bytes.substr(first_two.bytes.size() - second.bytes.size()), second.bytes);
  EXPECT_NE(first_two.bytes.substr(0, second.bytes.size()), second.bytes);
}

TEST(GsRunner, StopsAnEndlessJobWhenCancelled) {
  Collected collected;
  collected.cancel_after = 3;
  const auto start = std::chrono::steady_clock::now();
  const GsRun run = run_on("{} loop", &collected);
  EXPECT_EQ(run.outcome, GS_CANCELLED);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

// Runs the stand-in gs, with `settings` in its environment, in place of gs.
struct StandIn {
  explicit StandIn(const std::vector<std::pair<const char*, const char*>>& settings)
      : settings_(settings) {
    const char* path = std::getenv("PATH");
    saved_path_ = path != nullptr ? path : "";
    setenv("PATH", (fake_gs_dir() + ":" + saved_path_).c_str(), 1);
    log_ = ravo_test::scratch_dir() + "/runner-gs";
    std::system(("rm -rf " + log_ + " && mkdir " + log_).c_str());
    setenv("RAVO_FAKE_GS_LOG", log_.c_str(), 1);
    for (const auto& [name, value] : settings_) setenv(name, value, 1);
  }
  ~StandIn() {
    setenv("PATH", saved_path_.c_str(), 1);
    for (const auto& [name, value] : settings_) unsetenv(name);
  }
  // The devices of its runs, in order of their names: a check runs beside
  // the drawing.
  std::string runs() const {
    std::istringstream lines(ravo_test::read_file(log_ + "/runs"));
    std::multiset<std::string> devices;
    for (std::string line; std::getline(lines, line);) devices.insert(line);
    std::string sorted;
    for (const std::string& device : devices) sorted += device + "\n";
    return sorted;
  }

 private:
  std::vector<std::pair<const char*, const char*>> settings_;
  std::string saved_path_;
  std::string log_;
};

// The grey images back to back in `bytes`, each as its samples' first byte;
// "?" for bytes that are not a whole image.
std::string first_samples(const std::string& bytes, const std::vector<size_t>& ends) {
  std::string seen;
  size_t start = 0;
  for (const size_t end : ends) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    std::string pixels;
    if (png_image_begin_read_from_memory(&image, bytes.data() + start, end - start) != 0) {
      image.format = PNG_FORMAT_GRAY;
      pixels.resize(PNG_IMAGE_SIZE(image));
      if (png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr) == 0) pixels.clear();
    }
    seen += pixels.empty() || pixels.find_first_not_of(pixels[0]) != std::string::npos
                ? "?"
                : std::to_string(pixels[0]);
    start = end;
  }
  return seen;
}

TEST(GsRunner, TakesOnlyWholeRawPagesOfTheSizeAskedFor) {
  const struct {
    const char* output;  // RAVO_FAKE_GS_OUTPUT
    const char* status;  // RAVO_FAKE_GS_STATUS
    GsOutcome outcome;
    const char* pages;  // each image passed on, as its samples' value
    const char* message;
  } cases[] = {
      {"png", "0", GS_PRINTED, "123", ""},
      {"png", "1", GS_FAILED, "123", "gs exited with status 1"},
      {"raw-short", "0", GS_BAD_OUTPUT, "12",
       "gs wrote something other than the expected PNG images (a page cut short)"},
      {"raw-size", "0", GS_BAD_OUTPUT, "12",
       "gs wrote something other than the expected PNG images (a page of another size)"},
      {"png+text", "0", GS_BAD_OUTPUT, "123",
       "gs wrote something other than the expected PNG images (no PCX header)"},
  };
  for (const auto& c : cases) {
    const StandIn stand_in({{"RAVO_FAKE_GS_OUTPUT", c.output},
                            {"RAVO_FAKE_GS_STATUS", c.status},
                            {"RAVO_FAKE_GS_PAGES", "3"}});
    Collected collected;
    const GsRun run = run_on("%!PS", &collected);
    char message[GS_MESSAGE_SIZE] = "";
    describe_gs_run(run, message);
    EXPECT_EQ(run.outcome, c.outcome) << c.output;
    EXPECT_STREQ(message, c.message) << c.output;
    EXPECT_EQ(first_samples(collected.bytes, collected.page_ends), c.pages) << c.output;
    EXPECT_EQ(collected.bytes.size(), collected.page_ends.empty() ? 0 : collected.page_ends.back())
        << "part of an image was passed on after " << c.output;
    EXPECT_EQ(stand_in.runs(), "pcxgray\n");
  }
}

// The grey images back to back in `bytes`, as first_samples sees them,
// wherever page_done fell.
std::string images_in(const std::string& bytes) {
  std::vector<size_t> ends;
  for (size_t at = bytes.find("IEND"); at != std::string::npos; at = bytes.find("IEND", at + 1)) {
    ends.push_back(at + 8);
  }
  return first_samples(bytes, ends);
}

TEST(GsRunner, ChecksTheDocumentBesideTheDrawingAndHoldsThePagesUntilItPasses) {
  const struct {
    const char* order;  // RAVO_FAKE_GS_ORDER
    const char* check_status;
    const char* status;
    const char* delay;  // between the drawing's pages
    GsOutcome outcome;
    const char* pages_done;
    const char* images;
  } cases[] = {
      // Pages drawn after the check has passed go out one by one.
      {"check-first", "0", "0", "1", GS_PRINTED, "1 2 ", "12"},
      // Pages drawn before it wait for it, and then go out together.
      {"check-last", "0", "0", "", GS_PRINTED, "2 ", "12"},
      // A document the check fails puts nothing out, however far the drawing got.
      {"check-last", "1", "0", "", GS_FAILED, "", ""},
      {"check-first", "1", "0", "", GS_FAILED, "", ""},
      {"check-last", "1", "1", "", GS_FAILED, "", ""},
      // The drawing's own failure once the check has passed, as without a check.
      {"check-last", "0", "1", "", GS_FAILED, "2 ", "12"},
  };
  for (const auto& c : cases) {
    // Held by the runner, or by the caller until page_done.
    for (const bool unheld : {false, true}) {
      const StandIn stand_in({{"RAVO_FAKE_GS_OUTPUT", "png"},
                              {"RAVO_FAKE_GS_ORDER", c.order},
                              {"RAVO_FAKE_GS_CHECK_STATUS", c.check_status},
                              {"RAVO_FAKE_GS_STATUS", c.status},
                              {"RAVO_FAKE_GS_DELAY", c.delay},
                              {"RAVO_FAKE_GS_PAGES", "2"}});
      Collected collected;
      const GsRun run = run_on("%!PS", &collected, {0, 0, true, unheld});
      const std::string label =
          std::string(c.order) + " " + c.check_status + " " + c.status + (unheld ? " unheld" : "");
      EXPECT_EQ(run.outcome, c.outcome) << label;
      EXPECT_EQ(stand_in.runs(), "nullpage\npcxgray\n") << label;
      EXPECT_EQ(collected.pages_done, c.pages_done) << label;
      const size_t whole = collected.page_ends.empty() ? 0 : collected.page_ends.back();
      EXPECT_EQ(images_in(collected.bytes.substr(0, whole)), c.images) << label;
      if (!unheld) {
        EXPECT_EQ(collected.bytes.size(), whole) << label;
      }
    }
  }
}

TEST(GsRunner, CancelledMidStreamStopsAtOnceWithWholeImagesOnly) {
  const StandIn stand_in({{"RAVO_FAKE_GS_OUTPUT", "png"},
                          {"RAVO_FAKE_GS_PAGES", "100"},
                          {"RAVO_FAKE_GS_DELAY", "0.2"}});
  Collected collected;
  collected.cancel_at = 2;
  const auto start = std::chrono::steady_clock::now();
  const GsRun run = run_on("%!PS", &collected);
  EXPECT_EQ(run.outcome, GS_CANCELLED);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_EQ(run.pages, 2U);
  EXPECT_EQ(collected.page_ends.size(), run.pages);
  // Nothing of a page cut short.
  EXPECT_EQ(collected.page_ends.back(), collected.bytes.size());
  EXPECT_EQ(first_samples(collected.bytes, collected.page_ends).find('?'), std::string::npos);
}

// Cancelled while the check still runs, the run ends, both gs runs with it,
// and the pages drawn meanwhile stay held.
TEST(GsRunner, CancelledWhileTheCheckRunsPassesNothingOn) {
  const StandIn stand_in(
      {{"RAVO_FAKE_GS_OUTPUT", "png"}, {"RAVO_FAKE_GS_PAGES", "2"}, {"RAVO_FAKE_GS_HANG", "1"}});
  for (const bool unheld : {false, true}) {
    Collected collected;
    collected.cancel_after = 10;
    const GsRun run = run_on("%!PS", &collected, {0, 0, true, unheld});
    EXPECT_EQ(run.outcome, GS_CANCELLED) << unheld;
    EXPECT_EQ(run.pages, 0U) << unheld;
    EXPECT_EQ(collected.pages_done, "") << unheld;
    if (!unheld) {
      EXPECT_EQ(collected.bytes, "");
    }
  }
}

// Each page's rows, as the row observer saw them: "page:first-row+rows=value".
struct SeenRows {
  std::string runs;
  uint32_t next_y = 0;
  bool in_order = true;
};

void see_rows(void* context, uint32_t page, uint32_t y, const uint8_t* rows, uint32_t count) {
  auto* seen = static_cast<SeenRows*>(context);
  if (y == 0) seen->next_y = 0;
  seen->in_order = seen->in_order && y == seen->next_y;
  seen->next_y = y + count;
  const std::string samples(reinterpret_cast<const char*>(rows), size_t{count} * 1000 * 3);
  const bool even = samples.find_first_not_of(samples[0]) == std::string::npos;
  seen->runs += std::to_string(page) + ":" + std::to_string(y) + "+" + std::to_string(count) + "=" +
                (even ? std::to_string(rows[0]) : "?") + " ";
}

bool keep_nothing(void* /*context*/, const void* /*data*/, size_t /*size*/) { return true; }

TEST(GsRunner, ShowsEachPagesRowsInOrderBeforeEncodingThem) {
  // Also while the pages wait for a check that ends after the drawing.
  for (const bool precheck : {false, true}) {
    const StandIn stand_in({{"RAVO_FAKE_GS_OUTPUT", "png"},
                            {"RAVO_FAKE_GS_PAGES", "2"},
                            {"RAVO_FAKE_GS_ORDER", precheck ? "check-last" : ""}});
    const std::string path = ravo_test::write_scratch_file("job.ps", "%!PS");
    const int input = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    const Conf conf = {INK_COLOUR, 18, 1000, 300};
    SeenRows seen;
    GsJob job = {&conf, true, input, keep_nothing, nullptr, &seen};
    job.rows_seen = see_rows;
    job.precheck = precheck;
    GsRun run;
    EXPECT_TRUE(run_gs_job(job, &run));
    close(input);
    // 256 KiB of rows at a time: 87 rows of 1000 RGB pixels.
    EXPECT_EQ(seen.runs,
              "1:0+87=1 1:87+87=1 1:174+87=1 1:261+39=1 2:0+87=2 2:87+87=2 2:174+87=2 2:261+39=2 ")
        << precheck;
    EXPECT_TRUE(seen.in_order);
  }
}

TEST(GsRunner, SaysWhenGsIsMissing) {
  const char* path = std::getenv("PATH");
  const std::string saved = path != nullptr ? path : "";
  setenv("PATH", ravo_test::scratch_dir().c_str(), 1);
  Collected collected;
  const GsRun run = run_on("showpage", &collected);
  setenv("PATH", saved.c_str(), 1);
  char message[GS_MESSAGE_SIZE];
  ASSERT_TRUE(describe_gs_run(run, message));
  EXPECT_STREQ(message, "gs was not found");
}

// gs is run through stdbuf where both are found, and on its own otherwise.
TEST(GsRunner, RunsGsWithOrWithoutStdbuf) {
  const struct {
    const char* programs;  // on PATH
    GsOutcome outcome;
  } cases[] = {
      {"gs stdbuf", GS_PRINTED},
      {"gs", GS_PRINTED},
      {"stdbuf", GS_NOT_STARTED},
  };
  const char* path = std::getenv("PATH");
  const std::string saved = path != nullptr ? path : "";
  for (const auto& c : cases) {
    const std::string dir = ravo_test::scratch_dir() + "/programs";
    std::system(("rm -rf " + dir + " && mkdir " + dir).c_str());
    std::istringstream programs(c.programs);
    for (std::string program; programs >> program;) {
      if (program == "stdbuf") {
        // Notes how it was asked to buffer, then runs the rest.
        ravo_test::write_scratch_file("programs/stdbuf", "#!/bin/sh\necho \"$1\" >" + dir +
                                                             "/buffered\nshift\nexec \"$@\"\n");
        chmod((dir + "/stdbuf").c_str(), 0755);
        continue;
      }
      const std::string found = "command -v " + program + " >" + dir + "/found";
      ASSERT_EQ(std::system(found.c_str()), 0) << program;
      const std::string target = ravo_test::read_file(dir + "/found");
      symlink(target.substr(0, target.find('\n')).c_str(), (dir + "/" + program).c_str());
    }
    setenv("PATH", dir.c_str(), 1);
    Collected collected;
    const GsRun run = run_on(THREE_PAGES, &collected);
    setenv("PATH", saved.c_str(), 1);
    EXPECT_EQ(run.outcome, c.outcome) << c.programs;
    EXPECT_EQ(run.pages, c.outcome == GS_PRINTED ? 3U : 0U) << c.programs;
    if (c.outcome == GS_NOT_STARTED) {
      EXPECT_EQ(run.error, ENOENT);
    }
    // gs writes through a large buffer wherever stdbuf can give it one.
    const bool both = std::string(c.programs) == "gs stdbuf";
    EXPECT_EQ(both ? "--output=1M\n" : "", ravo_test::read_file(dir + "/buffered")) << c.programs;
  }
}

// An empty entry of PATH is the working directory, for the runner as for exec:
// a gs found only there is still run through stdbuf.
TEST(GsRunner, LooksForGsInTheWorkingDirectoryForAnEmptyPathEntry) {
  const std::string dir = ravo_test::scratch_dir() + "/empty-entry";
  std::system(("rm -rf " + dir + " && mkdir -p " + dir + "/here " + dir + "/tools").c_str());
  ASSERT_EQ(std::system(("ln -s \"$(command -v gs)\" " + dir + "/here/gs").c_str()), 0);
  ravo_test::write_scratch_file("empty-entry/tools/stdbuf", "#!/bin/sh\necho \"$1\" >" + dir +
                                                                "/buffered\nshift\nexec \"$@\"\n");
  chmod((dir + "/tools/stdbuf").c_str(), 0755);
  char saved_dir[4096];
  ASSERT_NE(getcwd(saved_dir, sizeof saved_dir), nullptr);
  const char* path = std::getenv("PATH");
  const std::string saved = path != nullptr ? path : "";
  ASSERT_EQ(chdir((dir + "/here").c_str()), 0);
  setenv("PATH", (dir + "/tools:").c_str(), 1);
  Collected collected;
  const GsRun run = run_on(THREE_PAGES, &collected);
  setenv("PATH", saved.c_str(), 1);
  ASSERT_EQ(chdir(saved_dir), 0);
  EXPECT_EQ(run.outcome, GS_PRINTED);
  EXPECT_EQ(ravo_test::read_file(dir + "/buffered"), "--output=1M\n");
}

// Runs the job with a stand-in gs, the shell script `script`, first on PATH.
GsRun run_stand_in(const std::string& script, Collected* collected, const Range& range = {}) {
  const std::string dir = ravo_test::scratch_dir() + "/stand-in";
  mkdir(dir.c_str(), 0755);
  const std::string gs = dir + "/gs";
  ravo_test::write_scratch_file("stand-in/gs", "#!/bin/sh\n" + script);
  chmod(gs.c_str(), 0755);
  const char* path = std::getenv("PATH");
  const std::string saved = path != nullptr ? path : "";
  setenv("PATH", (dir + ":" + saved).c_str(), 1);
  const GsRun run = run_on("showpage", collected, range);
  setenv("PATH", saved.c_str(), 1);
  return run;
}

// gs gets the job, its output pipe and standard error, and none of the
// descriptors the spooler or the server left open.
TEST(GsRunner, GivesGsNoDescriptorOfItsCaller) {
  const int null = open("/dev/null", O_RDONLY);
  const int left_open = dup2(null, 77);
  close(null);
  ASSERT_EQ(left_open, 77);
  const std::string listing = ravo_test::scratch_dir() + "/descriptors";
  Collected collected;
  run_stand_in("ls /proc/$$/fd >" + listing + "\n", &collected);
  close(left_open);
  std::set<int> descriptors;
  std::istringstream in(ravo_test::read_file(listing));
  for (int descriptor = 0; in >> descriptor;) descriptors.insert(descriptor);
  EXPECT_TRUE(descriptors.contains(2));
  EXPECT_FALSE(descriptors.contains(77));
}

// A cancelled gs that ends by itself soon after SIGTERM is let end so, and
// is not killed before its grace is over. The job is cancelled once the
// stand-in's page has come, when its trap is set.
TEST(GsRunner, LetsACancelledGsEndByItself) {
  const std::string log = ravo_test::scratch_dir() + "/graced";
  mkdir(log.c_str(), 0755);
  const std::string fake_gs = fake_gs_path();
  Collected collected;
  collected.cancel_at = 1;
  const GsRun run = run_stand_in(
      "trap 'kill $pid 2>/dev/null; sleep 0.1; exit 3' TERM\n"
      "RAVO_FAKE_GS_OUTPUT=png RAVO_FAKE_GS_LOG=" +
          log + " " + fake_gs + " \"$@\"\nsleep 10 >/dev/null & pid=$!\nwait\n",
      &collected);
  EXPECT_EQ(run.outcome, GS_CANCELLED);
  ASSERT_TRUE(WIFEXITED(run.wait_status)) << run.wait_status;
  EXPECT_EQ(WEXITSTATUS(run.wait_status), 3);
}

// A gs that ignores SIGTERM is killed once its grace after a cancellation
// is over, so that the job does not hang until it ends by itself.
TEST(GsRunner, KillsAGsThatIgnoresTheCancellation) {
  Collected collected;
  collected.cancel_after = 2;
  const GsRun run = run_stand_in("trap '' TERM\nexec sleep 10\n", &collected);
  EXPECT_EQ(run.outcome, GS_CANCELLED);
  EXPECT_TRUE(WIFSIGNALED(run.wait_status)) << run.wait_status;
  EXPECT_EQ(WTERMSIG(run.wait_status), SIGKILL);
}

// gs's messages go where the caller's own go, for the spooler's log.
TEST(GsRunner, LeavesGsMessagesOnTheCallersStandardError) {
  const std::string log = ravo_test::scratch_dir() + "/stderr";
  const int saved = dup(STDERR_FILENO);
  const int file = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  dup2(file, STDERR_FILENO);
  close(file);
  Collected collected;
  run_stand_in("echo 'a message from gs' >&2\n", &collected);
  dup2(saved, STDERR_FILENO);
  close(saved);
  EXPECT_EQ(ravo_test::read_file(log), "a message from gs\n");
}

// A caller that ignores SIGCHLD has gs reaped by the system: the run fails
// with the reason rather than waiting for ever.
TEST(GsRunner, SaysWhenGsCannotBeWaitedFor) {
  struct sigaction ignore {};
  struct sigaction saved {};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGCHLD, &ignore, &saved);
  Collected collected;
  const GsRun run = run_on("showpage", &collected);
  sigaction(SIGCHLD, &saved, nullptr);
  char message[GS_MESSAGE_SIZE] = "";
  describe_gs_run(run, message);
  EXPECT_EQ(run.outcome, GS_FAILED);
  EXPECT_STREQ(message, "gs could not be waited for (No child processes)");
}

std::set<int> open_descriptors() {
  std::set<int> open;
  for (int descriptor = 0; descriptor < 1024; ++descriptor) {
    if (fcntl(descriptor, F_GETFD) != -1) open.insert(descriptor);
  }
  return open;
}

// A process short of descriptors, with room for the job alone, for the job
// and one pipe, or for nothing beyond the job and both pipes, cannot start
// gs, says why, and keeps none open.
TEST(GsRunner, SaysWhenDescriptorsRunOut) {
  const struct {
    int room;
    GsOutcome outcome;
    const char* message;
  } cases[] = {
      {1, GS_NOT_STARTED, "gs could not be run (Too many open files)"},
      {3, GS_NOT_STARTED, "gs could not be run (Too many open files)"},
      {5, GS_FAILED, "gs exited with status 127"},
  };
  // Written while descriptors are to be had.
  const std::string job = ravo_test::write_scratch_file("job.ps", "showpage");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.room);
    const std::set<int> before = open_descriptors();
    rlimit saved{};
    getrlimit(RLIMIT_NOFILE, &saved);
    rlim_t limit = 0;
    for (int free = 0; free < c.room; ++limit) {
      if (!before.contains(static_cast<int>(limit))) ++free;
    }
    const rlimit low = {limit, saved.rlim_max};
    setrlimit(RLIMIT_NOFILE, &low);
    Collected collected;
    const GsRun run = run_on_file(job, &collected);
    setrlimit(RLIMIT_NOFILE, &saved);
    char message[GS_MESSAGE_SIZE] = "";
    describe_gs_run(run, message);
    EXPECT_EQ(run.outcome, c.outcome);
    EXPECT_STREQ(message, c.message);
    EXPECT_EQ(open_descriptors(), before);
  }
}

// Every way a job runs closes what it opened: the pipes, the holding file,
// and the check's own description of the document, also where no holding
// file could be made and the check runs first.
TEST(GsRunner, LeavesNoDescriptorOpenAfterAJob) {
  const char* saved = std::getenv("TMPDIR");
  const std::string tmpdir = saved != nullptr ? saved : "";
  const struct {
    const char* name;
    bool precheck;
    bool unheld;
    const char* tmpdir;  // null: as it is
  } cases[] = {
      {"drawn", false, false, nullptr},
      {"checked beside", true, false, nullptr},
      {"checked beside, unheld", true, true, nullptr},
      {"checked first, with nowhere to hold", true, false, "/nonexistent"},
      {"drawn, with nowhere to hold", false, false, "/nonexistent"},
  };
  const std::string job = ravo_test::write_scratch_file("job.ps", "showpage showpage");
  for (const auto& c : cases) {
    if (c.tmpdir != nullptr) setenv("TMPDIR", c.tmpdir, 1);
    const std::set<int> before = open_descriptors();
    Collected collected;
    Range range;
    range.precheck = c.precheck;
    range.unheld = c.unheld;
    const GsRun run = run_on_file(job, &collected, range);
    EXPECT_EQ(open_descriptors(), before) << c.name;
    EXPECT_EQ(run.outcome, GS_PRINTED) << c.name;
    EXPECT_EQ(run.pages, 2U) << c.name;
    if (saved != nullptr) {
      setenv("TMPDIR", tmpdir.c_str(), 1);
    } else {
      unsetenv("TMPDIR");
    }
  }
}

void take_signal(int /*signal*/) {}

// Interrupts the calling thread with SIGUSR1 once `ready` holds, and ends
// the test when the run has not ended within ten seconds of it.
class Interrupter {
 public:
  explicit Interrupter(std::function<bool()> ready) : runner_(pthread_self()) {
    struct sigaction handler {};
    handler.sa_handler = take_signal;
    sigaction(SIGUSR1, &handler, &saved_);
    thread_ = std::thread([this, ready] {
      while (!ready()) {
        if (ended_) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      pthread_kill(runner_, SIGUSR1);
      for (int waited = 0; !ended_; waited += 10) {
        if (waited > 10000) {
          std::fputs("the run did not end after the signal\n", stderr);
          std::abort();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
    });
  }
  ~Interrupter() {
    ended_ = true;
    thread_.join();
    sigaction(SIGUSR1, &saved_, nullptr);
  }

 private:
  pthread_t runner_;
  struct sigaction saved_ {};
  std::atomic<bool> ended_{false};
  std::thread thread_;
};

// A signal that interrupts the runner while it waits for gs's output does
// not keep it from reading what comes after. (A runner that spun instead
// would ask `cancelled` often enough to be cancelled.)
TEST(GsRunner, GoesOnAfterASignalInterruptsIt) {
  const std::string log = ravo_test::scratch_dir() + "/interrupted";
  mkdir(log.c_str(), 0755);
  const std::string fake_gs = fake_gs_path();
  Collected collected;
  collected.cancel_after = 10000;
  GsRun run;
  {
    // While the stand-in still sleeps, before it writes anything.
    Interrupter interrupter([] { return true; });
    run = run_stand_in("sleep 1\nRAVO_FAKE_GS_OUTPUT=png RAVO_FAKE_GS_LOG=" + log + " exec " +
                           fake_gs + " \"$@\"\n",
                       &collected);
  }
  EXPECT_EQ(run.outcome, GS_PRINTED);
  EXPECT_EQ(run.pages, 1U);
}

// The signal comes after the last image has gone, while gs (or the check)
// has yet to end: the error it leaves behind must not make the end of the
// output look interrupted, which would have the runner read the end for
// ever.
TEST(GsRunner, EndsWhenASignalCameJustBeforeTheEnd) {
  const std::string marks = ravo_test::scratch_dir() + "/marks";
  const std::string fake_gs = fake_gs_path();
  std::system(("rm -rf " + marks + " && mkdir -p " + marks + "/nullpage").c_str());
  const std::string draw = "RAVO_FAKE_GS_OUTPUT=png RAVO_FAKE_GS_LOG=" + marks + " " + fake_gs +
                           " \"$@\"\ntouch " + marks + "/drawn\n";
  const std::string drawn = marks + "/drawn";
  const struct {
    const char* name;
    std::string script;
    bool precheck;
  } cases[] = {
      {"the drawing ends a second after its page", draw + "sleep 1\n", false},
      {"the check ends a second after the drawing",
       "case \"$*\" in *nullpage*) while [ ! -e " + drawn +
           " ]; do sleep 0.05; done; sleep 1; "
           "exit 0;; esac\n" +
           draw,
       true},
  };
  for (const auto& c : cases) {
    std::remove(drawn.c_str());
    Collected collected;
    collected.cancel_after = 1000;
    GsRun run;
    {
      Interrupter interrupter([&drawn] { return access(drawn.c_str(), F_OK) == 0; });
      Range range;
      range.precheck = c.precheck;
      run = run_stand_in(c.script, &collected, range);
    }
    EXPECT_EQ(run.outcome, GS_PRINTED) << c.name;
    EXPECT_EQ(run.pages, 1U) << c.name;
  }
}

}  // namespace
