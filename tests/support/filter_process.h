// Runs the built filter as a print spooler would: the job in a file on
// standard input, standard output and standard error captured.

#ifndef RAVO_TESTS_SUPPORT_FILTER_PROCESS_H_
#define RAVO_TESTS_SUPPORT_FILTER_PROCESS_H_

#include <sys/resource.h>
#include <sys/types.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace ravo_test {

// The words of $RAVO_FILTER_WRAPPER, such as a memory checker's command line
// to run every filter under.
std::vector<std::string> wrapper_from_environment();

enum class Input { JOB_FILE, PIPE, DEV_NULL, CLOSED };
// Standard output goes to a file, or to a pipe whose reader has gone away.
enum class Output { FILE, CLOSED_PIPE };

struct FilterRun {
  Input input = Input::JOB_FILE;
  std::string job;  // the job's bytes
  off_t start = 0;  // where standard input stands when the filter starts
  Output output = Output::FILE;
  std::string output_path;     // standard output goes here; empty: captured
  rlim_t file_size_limit = 0;  // bytes the filter may write to a file; 0: no limit
  std::string search_path;     // PATH for the filter; empty: unchanged
  std::vector<std::pair<std::string, std::string>> environment;
  std::vector<int> ignored_signals;  // ignored when the filter starts
  // Another filter, with its arguments after its name; empty: ravofilter.
  std::vector<std::string> command;
  // Called with the filter's process ID once it has started.
  std::function<void(pid_t)> while_running;
  // A program, with its arguments, that runs the filter; its first word is
  // an absolute path.
  std::vector<std::string> wrapper = wrapper_from_environment();
};

struct FilterResult {
  int status = -1;  // exit status, or -1 when the filter did not exit
  std::string output;
  std::string messages;
};

FilterResult run_filter(const FilterRun& run);

}  // namespace ravo_test

#endif  // RAVO_TESTS_SUPPORT_FILTER_PROCESS_H_
