#include "app/server.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace {

std::string temporary_state() {
  char name[] = "/tmp/ravo-state-XXXXXX";
  const int fd = mkstemp(name);
  if (fd >= 0) close(fd);
  return name;
}

std::string read_all(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

struct RequeueCase {
  const char* label;
  const char* saved;
  const char* requeued;
};

// PAPPL's state as it writes it: one line per object, each value in double
// quotes. Only a job's own state 5 (printing) becomes 3 (pending).
TEST(ServerTest, RequeuesTheJobsSavedAsPrinting) {
  const RequeueCase cases[] = {
      {"one job printing, the last attribute", "Job id=\"1\" state=\"5\"\n",
       "Job id=\"1\" state=\"3\"\n"},
      {"one job printing, more after", "Job id=\"2\" state=\"5\" username=\"guest\"\n",
       "Job id=\"2\" state=\"3\" username=\"guest\"\n"},
      {"no newline at the end", "Job id=\"3\" state=\"5\"", "Job id=\"3\" state=\"3\""},
      {"two jobs printing among others",
       "<Printer jetto>\nJob id=\"4\" state=\"9\"\nJob id=\"5\" state=\"5\"\n"
       "Job id=\"6\" state=\"5\" x=\"y\"\n</Printer>\n",
       "<Printer jetto>\nJob id=\"4\" state=\"9\"\nJob id=\"5\" state=\"3\"\n"
       "Job id=\"6\" state=\"3\" x=\"y\"\n</Printer>\n"},
      {"pending and completed jobs", "Job id=\"7\" state=\"3\"\nJob id=\"8\" state=\"9\"\n",
       "Job id=\"7\" state=\"3\"\nJob id=\"8\" state=\"9\"\n"},
      {"a printer's state is no job's", "Printer state=\"5\"\nJob id=\"9\" state=\"4\"\n",
       "Printer state=\"5\"\nJob id=\"9\" state=\"4\"\n"},
      {"a state only starting with 5", "Job id=\"10\" state=\"50\"\n",
       "Job id=\"10\" state=\"50\"\n"},
      {"state=5 of the next line is not this job's", "Job id=\"11\"\nX state=\"5\"\n",
       "Job id=\"11\"\nX state=\"5\"\n"},
  };
  for (const RequeueCase& c : cases) {
    const std::string path = temporary_state();
    {
      std::ofstream out(path);
      out << c.saved;
    }
    requeue_interrupted_jobs(path.c_str());
    EXPECT_EQ(read_all(path), c.requeued) << c.label;
    EXPECT_NE(access((path + ".requeued").c_str(), F_OK), 0) << c.label << ": temporary left";
    static_cast<void>(std::remove(path.c_str()));
  }
}

TEST(ServerTest, LeavesAMissingStateFileMissing) {
  const std::string path = temporary_state();
  static_cast<void>(std::remove(path.c_str()));
  requeue_interrupted_jobs(path.c_str());
  EXPECT_NE(access(path.c_str(), F_OK), 0);
}

// A state that cannot be written whole (the disk is full: here the
// temporary file is /dev/full) leaves the saved one as it was.
TEST(ServerTest, KeepsTheStateWhenTheRequeuedOneCannotBeWritten) {
  const std::string path = temporary_state();
  {
    std::ofstream out(path);
    out << "Job id=\"1\" state=\"5\"\n";
  }
  const std::string temporary = path + ".requeued";
  ASSERT_EQ(symlink("/dev/full", temporary.c_str()), 0);
  requeue_interrupted_jobs(path.c_str());
  struct stat status {};
  EXPECT_EQ(lstat(path.c_str(), &status), 0);
  if (S_ISREG(status.st_mode)) {
    EXPECT_EQ(read_all(path), "Job id=\"1\" state=\"5\"\n");
  } else {
    ADD_FAILURE() << "the state is no longer a file of its own";
  }
  EXPECT_NE(access(temporary.c_str(), F_OK), 0) << "temporary left";
  static_cast<void>(std::remove(temporary.c_str()));
  static_cast<void>(std::remove(path.c_str()));
}

TEST(ServerTest, TakesTheJobTimeLimitInSeconds) {
  const struct {
    const char* text;
    int seconds;
  } cases[] = {
      {"3", 3}, {"10", 10},  {"2147483647", 2147483647}, {"2147483648", 0}, {"0", 0}, {"-1", 0},
      {"", 0},  {"soon", 0},
  };
  for (const auto& c : cases) EXPECT_EQ(job_time_limit_from(c.text), c.seconds) << c.text;
}

}  // namespace
