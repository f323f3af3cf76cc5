#include "filter/rasterise.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <string>

#include "filter/filter.h"

namespace {

const std::string OPTIONS = " -q -dNOPROMPT -dNOPAUSE -dSAFER -sstdout=%stderr -sDEVICE=";
const std::string OUTPUT = " -sOutputFile=- - -c quit";

TEST(FormatGsCommand, OneCommandPerInkWithThePageInPixels) {
  const struct {
    Conf conf;
    std::string expected;
  } cases[] = {
      {Def_Conf, "gs -r360 -g2976x4209" + OPTIONS + "png16m" + OUTPUT},
      {{2, 720, 5952, 8418}, "gs -r720 -g5952x8418" + OPTIONS + "pnggray" + OUTPUT},
      {{1, 300, 2480, 3507}, "gs -r300 -g2480x3507" + OPTIONS + "png16m" + OUTPUT},
      {{1, -300, -2480, -3507}, "gs -r-300 -g-2480x-3507" + OPTIONS + "png16m" + OUTPUT},
      {{2, 2147483647, 2147483647, 2147483647},
       "gs -r2147483647 -g2147483647x2147483647" + OPTIONS + "pnggray" + OUTPUT},
      // The longest command there can be.
      {{2, INT32_MIN, INT32_MIN, INT32_MIN},
       "gs -r-2147483648 -g-2147483648x-2147483648" + OPTIONS + "pnggray" + OUTPUT},
  };
  for (const auto& c : cases) {
    char command[COMMAND_SIZE + 1];
    std::memset(command, '#', sizeof command);
    const size_t length = format_gs_command(c.conf, command);
    EXPECT_EQ(std::string(command), c.expected);
    EXPECT_EQ(length, c.expected.size());
    EXPECT_EQ(command[COMMAND_SIZE], '#');
  }
}

// The shell's codes (126, 127, 128 + a signal's number) mean nothing from gs
// run directly; only a plain exit status is the job's refusal.
TEST(DescribeGsFailure, ReadsTheShellsCodesOnlyThroughAShell) {
  constexpr int EXIT = 256;  // the wait status of exit status 1
  const struct {
    int wait_status;
    const char* through_shell;  // null: success
    const char* direct;
  } cases[] = {
      {0, nullptr, nullptr},
      {1 * EXIT, "gs exited with status 1", "gs exited with status 1"},
      {126 * EXIT, "gs could not be run", "gs exited with status 126"},
      {127 * EXIT, "gs was not found", "gs exited with status 127"},
      {128 * EXIT, "gs exited with status 128", "gs exited with status 128"},
      {130 * EXIT, "gs was ended by signal 2 (Interrupt)", "gs exited with status 130"},
      {(128 + NSIG - 1) * EXIT, "gs was ended by signal 64 (Real-time signal 30)",
       "gs exited with status 192"},
      {(128 + NSIG) * EXIT, "gs exited with status 193", "gs exited with status 193"},
      {SIGKILL, "gs was ended by signal 9 (Killed)", "gs was ended by signal 9 (Killed)"},
  };
  for (const auto& c : cases) {
    for (const bool shell : {true, false}) {
      SCOPED_TRACE(std::to_string(c.wait_status) + (shell ? " through the shell" : " directly"));
      const char* expected = shell ? c.through_shell : c.direct;
      char text[GS_FAILURE_SIZE] = "";
      EXPECT_EQ(describe_gs_failure(c.wait_status, shell, text), expected != nullptr);
      EXPECT_STREQ(text, expected != nullptr ? expected : "");
      EXPECT_EQ(gs_refused_job(c.wait_status, shell),
                expected != nullptr && std::string(expected).starts_with("gs exited"));
    }
  }
}

}  // namespace
