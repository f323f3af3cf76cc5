// The built filter on real job files, with a stand-in interpreter first on
// PATH that records what it was given.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <csignal>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/files.h"
#include "tests/support/filter_process.h"
#include "tests/support/private_etc.h"

namespace ravo_test {
namespace {

const std::string MARKER = "RASTER FROM STAND-IN\n";
const std::string POSTSCRIPT_JOB =
    "%!PS-Adobe-3.0\n/Helvetica findfont 12 scalefont setfont\nshowpage\n";
const std::string NO_SETTINGS = "/etc/ravorc : No such file\n";
const std::string NOT_READ = "ravorc not read\n";

std::string gs_words(const std::string& resolution, const std::string& size,
                     const std::string& device) {
  return "-r" + resolution + "\n-g" + size +
         "\n-q\n-dNOPROMPT\n-dNOPAUSE\n-dSAFER\n-sstdout=%stderr\n" + "-sDEVICE=" + device +
         "\n-sOutputFile=-\n-\n-c\nquit\n";
}
const std::string DEFAULT_WORDS = gs_words("360", "2976x4209", "png16m");

class FilterTest : public PrivateEtcTest {
 protected:
  void SetUp() override {
    PrivateEtcTest::SetUp();
    log_dir_ = scratch_dir() + "/gs-log";
    mkdir(log_dir_.c_str(), 0755);
  }

  // Runs the filter with the stand-in interpreter first on PATH.
  FilterResult filter(FilterRun run) {
    if (run.search_path.empty()) {
      run.search_path = std::string(FAKE_GS_DIR) + ":" + std::getenv("PATH");
    }
    run.environment.emplace_back("RAVO_FAKE_GS_LOG", log_dir_);
    std::remove((log_dir_ + "/args").c_str());
    std::remove((log_dir_ + "/job").c_str());
    return run_filter(run);
  }

  FilterResult filter(const std::string& job) { return filter(FilterRun{.job = job}); }

  bool interpreter_ran() const {
    struct stat ignored {};
    return stat((log_dir_ + "/args").c_str(), &ignored) == 0;
  }
  std::string interpreter_words() const { return read_file(log_dir_ + "/args"); }
  std::string interpreter_input() const { return read_file(log_dir_ + "/job"); }

  std::string log_dir_;
};

TEST_F(FilterTest, PostScriptGoesToTheInterpreterWithTheDefaults) {
  const FilterResult got = filter(POSTSCRIPT_JOB);
  EXPECT_EQ(got.status, 0);
  EXPECT_EQ(got.output, MARKER);
  EXPECT_EQ(got.messages, NO_SETTINGS);
  EXPECT_EQ(interpreter_words(), DEFAULT_WORDS);
  EXPECT_EQ(interpreter_input(), POSTSCRIPT_JOB);
}

TEST_F(FilterTest, LeadingControlDReachesTheInterpreter) {
  const std::string job = "\x04" + POSTSCRIPT_JOB;
  const FilterResult got = filter(job);
  EXPECT_EQ(got.status, 0);
  EXPECT_EQ(got.output, MARKER);
  EXPECT_EQ(interpreter_input(), job);
}

TEST_F(FilterTest, OtherJobsPassThroughUntouched) {
  std::string large = arbitrary_bytes(3 * 65534 + 100);
  large.replace(70000, 5000, 5000, '\0');
  large[0] = 'x';
  const std::vector<std::string> jobs = {
      "",
      "%",
      "!",
      "%x",
      " %!PS-Adobe-3.0\n",
      "\x04%",
      "\x04%x",
      "plain text\n",
      std::string("\0\0\0", 3),
      large,
  };
  for (const std::string& job : jobs) {
    SCOPED_TRACE(job.substr(0, 16));
    const FilterResult got = filter(job);
    EXPECT_EQ(got.status, 0);
    EXPECT_TRUE(got.output == job) << got.output.size() << " bytes of " << job.size();
    EXPECT_EQ(got.messages, "");
    EXPECT_FALSE(interpreter_ran());
  }
}

TEST_F(FilterTest, InputThatCannotBeMappedIsRefused) {
  for (const Input input : {Input::PIPE, Input::DEV_NULL}) {
    for (const std::string& job : {POSTSCRIPT_JOB, std::string("plain text\n")}) {
      const FilterResult got = filter(FilterRun{.input = input, .job = job});
      EXPECT_EQ(got.status, 1);
      EXPECT_EQ(got.output, "");
      EXPECT_EQ(got.messages, "");
      EXPECT_FALSE(interpreter_ran());
    }
  }
}

TEST_F(FilterTest, ClassifiesByTheFirstBytesAndReadsFromThePosition) {
  // A PostScript file whose position was moved on.
  FilterResult got = filter(FilterRun{.job = POSTSCRIPT_JOB, .start = 15});
  EXPECT_EQ(got.status, 0);
  EXPECT_EQ(got.output, MARKER);
  EXPECT_EQ(interpreter_input(), POSTSCRIPT_JOB.substr(15));

  // A text file whose position stands on a signature.
  const std::string text = "text\n" + POSTSCRIPT_JOB;
  got = filter(FilterRun{.job = text, .start = 5});
  EXPECT_EQ(got.status, 0);
  EXPECT_EQ(got.output, POSTSCRIPT_JOB);
  EXPECT_FALSE(interpreter_ran());
}

TEST_F(FilterTest, AnInterpreterThatFailsFailsTheJob) {
  const std::string empty_dir = scratch_dir() + "/no-programs";
  mkdir(empty_dir.c_str(), 0755);
  // A broken job exits 3, which has the spooler remove it rather than print
  // it again; what may pass when retried exits 1.
  const struct {
    FilterRun run;
    int status;
    const char* message;
  } cases[] = {
      {{.environment = {{"RAVO_FAKE_GS_STATUS", "1"}}},
       3,
       "rasterising : gs exited with status 1\n"},
      {{.environment = {{"RAVO_FAKE_GS_STATUS", "3"}}},
       3,
       "rasterising : gs exited with status 3\n"},
      {{.environment = {{"RAVO_FAKE_GS_SIGNAL", "KILL"}}},
       1,
       "rasterising : gs was ended by signal 9 (Killed)\n"},
      {{.search_path = empty_dir}, 1, "rasterising : gs was not found\n"},
  };
  for (auto c : cases) {
    SCOPED_TRACE(c.message);
    c.run.job = POSTSCRIPT_JOB;
    const FilterResult got = filter(c.run);
    EXPECT_EQ(got.status, c.status);
    EXPECT_TRUE(got.messages.ends_with(c.message)) << got.messages;
  }
}

TEST_F(FilterTest, AnIgnoredChildSignalIsRestoredForTheInterpreter) {
  const FilterResult got = filter(FilterRun{.job = POSTSCRIPT_JOB, .ignored_signals = {SIGCHLD}});
  EXPECT_EQ(got.status, 0);
  EXPECT_EQ(got.messages, NO_SETTINGS);
  EXPECT_EQ(read_file(log_dir_ + "/signals"), "Blk 00000000\nIgn 00000000\n");
}

TEST_F(FilterTest, LostOutputIsAFailure) {
  const struct {
    FilterRun run;
    const char* messages;
  } cases[] = {
      {{.job = "plain text\n", .output_path = "/dev/full"},
       "writing standard output : No space left on device\n"},
      {{.job = "plain text\n", .output = Output::CLOSED_PIPE},
       "writing standard output : Broken pipe\n"},
      {{.job = std::string(70000, 'x'),
        .output_path = scratch_dir() + "/limited",
        .file_size_limit = 4096},
       "writing standard output : File too large\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.messages);
    const FilterResult got = filter(c.run);
    EXPECT_EQ(got.status, 1);
    EXPECT_EQ(got.messages, c.messages);
  }
}

struct SettingsCase {
  const char* label;
  const char* settings;  // null: no settings file
  std::string words;
  std::string messages;
};

TEST_F(FilterTest, TheSettingsFileChoosesTheCommand) {
  const SettingsCase cases[] = {
      {"missing", nullptr, DEFAULT_WORDS, NO_SETTINGS},
      {"monochrome A4 at 720 dpi",
       "[Marven Jetto 412_519]\nink = MONO\nresolution = 720\nmediasize = A4\n",
       gs_words("720", "5952x8418", "pnggray"), ""},
      {"roll paper",
       "[Marven Jetto 412_519]\nink=COLOR\nresolution=360\nmediasize=NC\npapersource=ROLL\n",
       gs_words("360", "1261x779", "png16m"), ""},
      {"comment before any header", "# printers\n", DEFAULT_WORDS, NOT_READ},
      {"leading-part header", "[Marven]\nink=MONO\nresolution=180\nmediasize=A6\n",
       gs_words("180", "744x1049", "pnggray"), ""},
      {"rejected", "[Marven Jetto 412_519]\nink=MONO\nresolution=720\n", DEFAULT_WORDS, NOT_READ},
      {"negative resolution", "[Marven Jetto 412_519]\nink=MONO\nresolution=-720\nmediasize=A4\n",
       DEFAULT_WORDS, NOT_READ},
      {"another model", "[Marven Jetto 999]\nink=MONO\nresolution=720\nmediasize=A4\n",
       DEFAULT_WORDS, ""},
  };
  for (const SettingsCase& c : cases) {
    SCOPED_TRACE(c.label);
    if (c.settings == nullptr) {
      remove_settings();
    } else {
      put_settings(c.settings);
    }
    const FilterResult got = filter(POSTSCRIPT_JOB);
    EXPECT_EQ(got.status, 0);
    EXPECT_EQ(got.output, MARKER);
    EXPECT_EQ(got.messages, c.messages);
    EXPECT_EQ(interpreter_words(), c.words);
  }
}

TEST_F(FilterTest, TextJobsNeverReadTheSettings) {
  put_settings("# malformed\n");
  const FilterResult got = filter("plain text\n");
  EXPECT_EQ(got.output, "plain text\n");
  EXPECT_EQ(got.messages, "");
}

}  // namespace
}  // namespace ravo_test
