#include "cups/pstoravo.h"

#include <cups/cups.h>
#include <cups/ppd.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "conf/set_conf.h"
#include "filter/rasterise.h"

// libcups marks its PPD interface deprecated, but a PPD driver's options are
// PPD options.
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

// Messages to CUPS go to standard error, which has nowhere else to report a
// failed write.
// NOLINTBEGIN(cert-err33-c)

namespace {

// CUPS cancels a job with SIGTERM. The handler ends the interpreter, once
// there is one, and the filter then stops.
volatile sig_atomic_t cancelled = 0;
volatile sig_atomic_t interpreter = 0;

void cancel(int /*signal*/) {
  cancelled = 1;
  if (interpreter > 0) kill(static_cast<pid_t>(interpreter), SIGTERM);
}

const char* marked(ppd_file_t* ppd, const char* option) {
  const ppd_choice_t* choice = ppdFindMarkedChoice(ppd, option);
  return choice != nullptr ? choice->choice : nullptr;
}

const char* or_none(const char* text) { return text != nullptr ? text : "(none)"; }

const char* refusal_reason(ConfFault fault) {
  switch (fault) {
    case CONF_SIZE_NOT_IN_SOURCE:
      return "the paper source does not take this paper size";
    case CONF_UNKNOWN_SOURCE:
      return "there is no such paper source";
    case CONF_BAD_RESOLUTION:
      return "the resolution is not a number of dots per inch";
    case CONF_BAD_INK:
      return "the colour mode is neither RGB nor Gray";
    case CONF_NO_MEDIA:
      return "no paper size was chosen";
    case CONF_PAGE_TOO_LARGE:
      return "the page is too large at this resolution";
    default:
      return "they are unusable";
  }
}

// Fills `conf` from the job's options over the defaults of the PPD in $PPD.
// Returns false after an ERROR line when that cannot be done.
bool job_conf(const char* options_text, Conf* conf) {
  const char* ppd_path = std::getenv("PPD");
  if (ppd_path == nullptr) {
    std::fputs("ERROR: No PPD file: $PPD is not set\n", stderr);
    return false;
  }
  ppd_file_t* ppd = ppdOpenFile(ppd_path);
  if (ppd == nullptr) {
    int line = 0;
    const ppd_status_t status = ppdLastError(&line);
    std::fprintf(stderr, "ERROR: Unable to read the PPD file %s: %s on line %d\n", ppd_path,
                 ppdErrorString(status), line);
    return false;
  }
  ppdMarkDefaults(ppd);
  cups_option_t* options = nullptr;
  const int count = cupsParseOptions(options_text, 0, &options);
  cupsMarkOptions(ppd, count, options);

  const JobChoices choices = {marked(ppd, "PageSize"), marked(ppd, "InputSlot"),
                              marked(ppd, "Resolution"), marked(ppd, "ColorModel")};
  const ConfFault fault = conf_for_choices(choices, conf);
  std::fprintf(stderr, "%s: PageSize=%s InputSlot=%s Resolution=%s ColorModel=%s%s%s\n",
               fault == CONF_USABLE ? "DEBUG" : "ERROR", or_none(choices.page_size),
               or_none(choices.input_slot), or_none(choices.resolution),
               or_none(choices.color_model), fault == CONF_USABLE ? "" : " cannot be printed: ",
               fault == CONF_USABLE ? "" : refusal_reason(fault));
  cupsFreeOptions(count, options);
  ppdClose(ppd);
  return fault == CONF_USABLE;
}

// Runs the interpreter for `conf` on the job in `file`, or on standard input
// when `file` is null, and waits for it. Returns the exit status.
int rasterise(const Conf& conf, const char* file) {
  GsArguments arguments;
  compose_gs_arguments(conf, GS_READ_BUFFERED, &arguments);
  char command[COMMAND_SIZE];
  join_gs_arguments(arguments, command);
  std::fprintf(stderr, "INFO: Rasterising %d x %d pixels at %d dpi\n", conf.width, conf.height,
               conf.resolution);
  std::fprintf(stderr, "DEBUG: Running %s\n", command);

  const int input = file != nullptr ? open(file, O_RDONLY | O_CLOEXEC) : STDIN_FILENO;
  if (input < 0) {
    std::fprintf(stderr, "ERROR: Unable to open the print file %s: %s\n", file,
                 std::strerror(errno));
    return 1;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (input != STDIN_FILENO) posix_spawn_file_actions_adddup2(&actions, input, STDIN_FILENO);
  // The interpreter starts with default signals and none blocked, whatever
  // this filter inherited.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t signals;
  sigemptyset(&signals);
  posix_spawnattr_setsigmask(&attributes, &signals);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGPIPE);
  posix_spawnattr_setsigdefault(&attributes, &signals);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

  // A cancellation waits until the interpreter's process is known.
  sigset_t term;
  sigset_t previous;
  sigemptyset(&term);
  sigaddset(&term, SIGTERM);
  sigprocmask(SIG_BLOCK, &term, &previous);
  pid_t child = 0;
  int error = 0;
  if (cancelled == 0) {
    error = posix_spawnp(&child, "gs", &actions, &attributes,
                         const_cast<char* const*>(arguments.words), environ);
    if (error == 0) interpreter = child;
  }
  sigprocmask(SIG_SETMASK, &previous, nullptr);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  if (input != STDIN_FILENO) close(input);
  if (error != 0) {
    std::fprintf(stderr, "ERROR: Unable to run gs: %s\n", std::strerror(error));
    return 1;
  }

  int status = 0;
  while (child > 0 && waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) {
      std::fprintf(stderr, "ERROR: Unable to wait for gs: %s\n", std::strerror(errno));
      return 1;
    }
  }
  interpreter = 0;
  if (cancelled != 0) {
    std::fputs("INFO: Job cancelled\n", stderr);
    return 1;
  }
  char failure[GS_FAILURE_SIZE];
  if (describe_gs_failure(status, false, failure)) {
    std::fprintf(stderr, "ERROR: %s\n", failure);
    return 1;
  }
  return 0;
}

}  // namespace

ConfFault conf_for_choices(const JobChoices& choices, Conf* conf) {
  int32_t ink = 0;
  if (choices.color_model != nullptr) {
    if (std::strcmp(choices.color_model, "RGB") == 0) ink = INK_COLOUR;
    if (std::strcmp(choices.color_model, "Gray") == 0) ink = INK_MONO;
  }
  // Resolutions are "<dpi>dpi"; anything else is refused.
  int32_t resolution = 0;
  if (choices.resolution != nullptr) {
    char* end = nullptr;
    const long dpi = std::strtol(choices.resolution, &end, 10);
    if (end != choices.resolution && std::strcmp(end, "dpi") == 0 && dpi > 0 && dpi <= INT32_MAX) {
      resolution = static_cast<int32_t>(dpi);
    }
  }
  const char* media = choices.page_size != nullptr ? choices.page_size : "";
  return fill_conf(conf, ink, resolution, media, choices.input_slot);
}

int pstoravo_main(int argc, char** argv) {
  if (argc < 6 || argc > 7) {
    std::fprintf(stderr, "Usage: %s job-id user title copies options [file]\n",
                 argc > 0 ? argv[0] : "pstoravo");
    return 1;
  }
  struct sigaction action {};
  action.sa_handler = cancel;
  sigemptyset(&action.sa_mask);
  sigaction(SIGTERM, &action, nullptr);

  Conf conf{};
  if (!job_conf(argv[5], &conf)) return 1;
  return rasterise(conf, argc == 7 ? argv[6] : nullptr);
}

// NOLINTEND(cert-err33-c)
