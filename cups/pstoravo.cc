#include "cups/pstoravo.h"

#include <cups/cups.h>
#include <cups/ppd.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "conf/set_conf.h"
#include "gs/gs_command.h"
#include "gs/runner.h"

// libcups marks its PPD interface deprecated, but a PPD driver's options are
// PPD options.
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

// Messages to CUPS go to standard error, which has nowhere else to report a
// failed write.
// NOLINTBEGIN(cert-err33-c)

namespace {

// CUPS cancels a job with SIGTERM. The handler only notes it; the runner
// asks, and stops gs.
volatile sig_atomic_t cancelled = 0;

void cancel(int /*signal*/) { cancelled = 1; }

bool job_cancelled(void* /*context*/) { return cancelled != 0; }

// The options of the job that name a PPD option, and so must name one of its
// choices.
constexpr const char* JOB_OPTIONS[] = {"PageSize", "InputSlot", "Resolution", "ColorModel"};

// Holds a message naming an option's choices with their texts.
constexpr size_t LINE_SIZE = 2048;

// Appends to `line`, cutting it short where it is full.
void append(char* line, const char* format, const char* first, const char* second = "") {
  const size_t length = std::strlen(line);
  std::snprintf(line + length, LINE_SIZE - length, format, first, second);
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

// Whether the PPD has each option the filter reads; says which it lacks.
bool has_options(ppd_file_t* ppd, const char* ppd_path) {
  char line[LINE_SIZE] = "";
  for (const char* name : JOB_OPTIONS) {
    if (ppdFindOption(ppd, name) == nullptr) append(line, " %s", name);
  }
  if (line[0] == '\0') return true;
  std::fprintf(stderr, "ERROR: The PPD file %s lacks these options:%s\n", ppd_path, line);
  return false;
}

// Whether each option of the job that the filter reads names one of the
// PPD's choices; says which does not, and what the choices are.
bool has_choices(ppd_file_t* ppd, int count, cups_option_t* options) {
  for (const char* name : JOB_OPTIONS) {
    const char* value = cupsGetOption(name, count, options);
    ppd_option_t* option = ppdFindOption(ppd, name);
    if (value == nullptr || ppdFindChoice(option, value) != nullptr) continue;
    char line[LINE_SIZE] = "";
    for (int i = 0; i < option->num_choices; ++i) {
      const ppd_choice_t& choice = option->choices[i];
      // The keyword, and the text when it says more: "LT (US Letter)",
      // "A3+ (Super A3)".
      append(line, i == 0 ? "%s" : ", %s", choice.choice);
      const size_t length = std::strlen(choice.choice);
      const bool named = std::strncmp(choice.text, choice.choice, length) == 0 &&
                         (choice.text[length] == '\0' || choice.text[length] == ' ');
      append(line, named ? "%s" : " (%s)", named ? choice.text + length : choice.text);
    }
    std::fprintf(stderr, "ERROR: %s=%s is not a choice of this printer: %s\n", name, value, line);
    return false;
  }
  return true;
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
  if (!has_options(ppd, ppd_path)) {
    ppdClose(ppd);
    return false;
  }
  ppdMarkDefaults(ppd);
  cups_option_t* options = nullptr;
  const int count = cupsParseOptions(options_text, 0, &options);
  if (!has_choices(ppd, count, options)) {
    cupsFreeOptions(count, options);
    ppdClose(ppd);
    return false;
  }
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

// Opens the job file, waiting for a FIFO's writer unless the job is
// cancelled. Returns the descriptor, or -1 after a message.
int open_job(const char* file) {
  int input = -1;
  do {
    input = cancelled != 0 ? -1 : open(file, O_RDONLY | O_CLOEXEC);
  } while (input < 0 && cancelled == 0 && errno == EINTR);
  if (input >= 0) return input;
  if (cancelled != 0) {
    std::fputs("INFO: Job cancelled\n", stderr);
  } else {
    std::fprintf(stderr, "ERROR: Unable to open the print file %s: %s\n", file,
                 std::strerror(errno));
  }
  return -1;
}

// Has gs draw the job in `file`, or on standard input when `file` is null,
// for `conf`, and passes on its pages, encoded as PNG, while they are the
// raw pages asked for. Returns the exit status.
int rasterise(const Conf& conf, const char* file) {
  GsArguments arguments;
  compose_gs_drawing(conf, GS_READ_BUFFERED, GS_DRAW_RAW, 0, 0, &arguments);
  char command[COMMAND_SIZE];
  join_gs_arguments(arguments, command);
  std::fprintf(stderr, "INFO: Rasterising %d x %d pixels at %d dpi\n", conf.width, conf.height,
               conf.resolution);
  std::fprintf(stderr, "DEBUG: Running %s\n", command);

  const int input = file != nullptr ? open_job(file) : STDIN_FILENO;
  if (input < 0) return 1;
  int output = STDOUT_FILENO;
  const GsJob job = {&conf, true, input, gs_write_descriptor, job_cancelled, &output};
  GsRun run;
  run_gs_job(job, &run);
  if (file != nullptr) close(input);
  char message[GS_MESSAGE_SIZE];
  if (!describe_gs_run(run, message)) return 0;
  if (run.outcome == GS_CANCELLED) {
    std::fputs("INFO: Job cancelled\n", stderr);
  } else {
    std::fprintf(stderr, "ERROR: %s\n", message);
  }
  return 1;
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
  // gs must be waited for, and a printer that goes away fails a write.
  std::signal(SIGCHLD, SIG_DFL);
  std::signal(SIGPIPE, SIG_IGN);

  Conf conf{};
  if (!job_conf(argv[5], &conf)) return 1;
  return rasterise(conf, argc == 7 ? argv[6] : nullptr);
}

// NOLINTEND(cert-err33-c)
