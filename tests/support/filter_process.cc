#include "tests/support/filter_process.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "tests/support/files.h"

namespace ravo_test {

namespace {

[[noreturn]] void fail_in_child(const char* what) {
  std::perror(what);
  _exit(127);
}

int open_input(const FilterRun& run, const std::string& job_path) {
  if (run.input == Input::DEV_NULL) return open("/dev/null", O_RDONLY);
  if (run.input == Input::JOB_FILE) {
    const int fd = open(job_path.c_str(), O_RDONLY);
    if (fd >= 0 && lseek(fd, run.start, SEEK_SET) != run.start) return -1;
    return fd;
  }
  int ends[2];
  if (pipe(ends) != 0) return -1;
  // Small jobs fit in the pipe's buffer; the filter refuses a pipe unread.
  const size_t size = run.job.size() < 4096 ? run.job.size() : 4096;
  if (write(ends[1], run.job.data(), size) != static_cast<ssize_t>(size)) return -1;
  close(ends[1]);
  return ends[0];
}

int open_output(const FilterRun& run, const std::string& output_path) {
  if (run.output == Output::FILE)
    return open(output_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  int ends[2];
  if (pipe(ends) != 0) return -1;
  close(ends[0]);
  return ends[1];
}

}  // namespace

std::vector<std::string> wrapper_from_environment() {
  std::vector<std::string> words;
  const char* wrapper = std::getenv("RAVO_FILTER_WRAPPER");
  std::istringstream in(wrapper == nullptr ? "" : wrapper);
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

FilterResult run_filter(const FilterRun& run) {
  const std::string job_path = write_scratch_file("job", run.job);
  const std::string output_path =
      run.output_path.empty() ? scratch_dir() + "/output" : run.output_path;
  const std::string messages_path = scratch_dir() + "/messages";
  std::fflush(nullptr);

  const pid_t child = fork();
  if (child == 0) {
    const int input = run.input == Input::CLOSED ? 0 : open_input(run, job_path);
    const int output = open_output(run, output_path);
    const int messages = open(messages_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (input < 0 || output < 0 || messages < 0) fail_in_child("opening the filter's streams");
    if (dup2(input, 0) < 0 || dup2(output, 1) < 0 || dup2(messages, 2) < 0) fail_in_child("dup2");
    if (run.input == Input::CLOSED) close(0);
    // The filter starts with default signal dispositions, as a spooler gives
    // it, but for those the test chooses to ignore.
    std::signal(SIGPIPE, SIG_DFL);
    std::signal(SIGXFSZ, SIG_DFL);
    for (const int number : run.ignored_signals) std::signal(number, SIG_IGN);
    const rlimit limit{run.file_size_limit, run.file_size_limit};
    if (run.file_size_limit > 0 && setrlimit(RLIMIT_FSIZE, &limit) != 0) fail_in_child("setrlimit");
    if (!run.search_path.empty()) setenv("PATH", run.search_path.c_str(), 1);
    for (const auto& [name, value] : run.environment) setenv(name.c_str(), value.c_str(), 1);
    std::vector<char*> words;
    for (const std::string& word : run.wrapper) words.push_back(const_cast<char*>(word.c_str()));
    if (run.command.empty()) words.push_back(const_cast<char*>(RAVOFILTER_PATH));
    for (const std::string& word : run.command) words.push_back(const_cast<char*>(word.c_str()));
    words.push_back(nullptr);
    execv(words[0], words.data());
    fail_in_child("exec");
  }

  if (child > 0 && run.while_running) run.while_running(child);
  FilterResult result;
  int wait_status = 0;
  if (child > 0 && waitpid(child, &wait_status, 0) == child && WIFEXITED(wait_status)) {
    result.status = WEXITSTATUS(wait_status);
  }
  if (run.output_path.empty()) result.output = read_file(output_path);
  result.messages = read_file(messages_path);
  return result;
}

}  // namespace ravo_test
