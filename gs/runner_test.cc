#include "gs/runner.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <set>
#include <sstream>
#include <string>
#include <thread>

#include "tests/support/files.h"

namespace {

struct Collected {
  std::string bytes;
  int polls = 0;
  int cancel_after = -1;  // polls before the job is cancelled; -1 never
};

bool collect(void* context, const void* data, size_t size) {
  static_cast<Collected*>(context)->bytes.append(static_cast<const char*>(data), size);
  return true;
}

bool cancel_when_due(void* context) {
  auto* collected = static_cast<Collected*>(context);
  return collected->cancel_after >= 0 && collected->polls++ >= collected->cancel_after;
}

GsRun run_on(const std::string& job, Collected* collected) {
  const std::string path = ravo_test::write_scratch_file("job.ps", job);
  const int input = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  const Conf conf = {INK_MONO, 18, 149, 210};  // A4 at 18 dpi
  const GsJob gs_job = {&conf, true, input, collect, cancel_when_due, collected};
  GsRun run;
  run_gs_job(gs_job, &run);
  close(input);
  return run;
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
       GS_BAD_OUTPUT, 0,
       "gs wrote something other than the expected PNG images (no PNG signature)"},
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

TEST(GsRunner, StopsAnEndlessJobWhenCancelled) {
  Collected collected;
  collected.cancel_after = 3;
  const auto start = std::chrono::steady_clock::now();
  const GsRun run = run_on("{} loop", &collected);
  EXPECT_EQ(run.outcome, GS_CANCELLED);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
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

// Runs the job with a stand-in gs, the shell script `script`, first on PATH.
GsRun run_stand_in(const std::string& script, Collected* collected) {
  const std::string dir = ravo_test::scratch_dir() + "/stand-in";
  mkdir(dir.c_str(), 0755);
  const std::string gs = dir + "/gs";
  ravo_test::write_scratch_file("stand-in/gs", "#!/bin/sh\n" + script);
  chmod(gs.c_str(), 0755);
  const char* path = std::getenv("PATH");
  const std::string saved = path != nullptr ? path : "";
  setenv("PATH", (dir + ":" + saved).c_str(), 1);
  const GsRun run = run_on("showpage", collected);
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
    const GsRun run = run_on("showpage", &collected);
    setrlimit(RLIMIT_NOFILE, &saved);
    char message[GS_MESSAGE_SIZE] = "";
    describe_gs_run(run, message);
    EXPECT_EQ(run.outcome, c.outcome);
    EXPECT_STREQ(message, c.message);
    EXPECT_EQ(open_descriptors(), before);
  }
}

void take_signal(int /*signal*/) {}

// A signal that interrupts the runner while it waits for gs's output does
// not keep it from reading what comes after. (A runner that spun instead
// would ask `cancelled` often enough to be cancelled.)
TEST(GsRunner, GoesOnAfterASignalInterruptsIt) {
  const auto be32 = [](uint32_t n) {
    return std::string{static_cast<char>(n >> 24), static_cast<char>(n >> 16),
                       static_cast<char>(n >> 8), static_cast<char>(n)};
  };
  const std::string page = ravo_test::write_scratch_file(
      "page.png", std::string("\x89PNG\r\n\x1a\n", 8) + be32(13) + "IHDR" + be32(149) + be32(210) +
                      std::string{8, 0, 0, 0, 0} + "CRC!" + be32(0) + "IENDCRC!");
  struct sigaction handler {};
  struct sigaction saved {};
  handler.sa_handler = take_signal;
  sigaction(SIGUSR1, &handler, &saved);
  const pthread_t runner = pthread_self();
  std::thread interrupter([runner] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    pthread_kill(runner, SIGUSR1);
  });
  Collected collected;
  collected.cancel_after = 10000;
  const GsRun run = run_stand_in("sleep 1\ncat " + page + "\n", &collected);
  interrupter.join();
  sigaction(SIGUSR1, &saved, nullptr);
  EXPECT_EQ(run.outcome, GS_PRINTED);
  EXPECT_EQ(run.pages, 1U);
}

}  // namespace
