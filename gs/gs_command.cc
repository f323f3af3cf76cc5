#include "gs/gs_command.h"

#include <sys/wait.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <string_view>

namespace {

constexpr const char* OPTIONS[] = {"-q", "-dNOPROMPT", "-dNOPAUSE", "-dSAFER", "-sstdout=%stderr"};
constexpr size_t OPTION_COUNT = sizeof OPTIONS / sizeof OPTIONS[0];

// The longest command: the fixed words with a blank after each, and three
// numbers of 11 characters ("-2147483648").
constexpr size_t fixed_length() {
  size_t length = sizeof "gs -r -gx -sDEVICE=pnggray -sOutputFile=- - -c quit" - 1;
  for (const char* option : OPTIONS) length += std::string_view(option).size() + 1;
  return length;
}
constexpr size_t LONGEST_COMMAND = fixed_length() + size_t{3} * 11;
static_assert(LONGEST_COMMAND == 133 && LONGEST_COMMAND < COMMAND_SIZE);
// gs, -r, -g, the options, two page limits, device, output, input, -c, quit
// and the null.
static_assert(3 + OPTION_COUNT + 8 <= GS_MAX_WORDS);

const char* device(const Conf& conf, GsDrawing drawing) {
  const bool grey = conf.ink == INK_MONO;
  switch (drawing) {
    case GS_DRAW_RAW:
      return grey ? "-sDEVICE=pcxgray" : "-sDEVICE=ppmraw";
    case GS_DRAW_NOTHING:
      return "-sDEVICE=nullpage";
    case GS_DRAW_PNG:
      break;
  }
  return grey ? "-sDEVICE=pnggray" : "-sDEVICE=png16m";
}

// The signal that ended gs, or 0; through the shell, a status of 128 plus a
// signal's number says that signal ended it.
int ending_signal(int wait_status, bool through_shell) {
  if (WIFSIGNALED(wait_status)) return WTERMSIG(wait_status);
  const int status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : 0;
  return through_shell && status > 128 && status < 128 + NSIG ? status - 128 : 0;
}

}  // namespace

void compose_gs_drawing(const Conf& conf, const char* input, GsDrawing drawing, int32_t first_page,
                        int32_t last_page, GsArguments* arguments) {
  static_cast<void>(
      std::snprintf(arguments->resolution, sizeof arguments->resolution, "-r%d", conf.resolution));
  static_cast<void>(std::snprintf(arguments->page_size, sizeof arguments->page_size, "-g%ldx%ld",
                                  static_cast<long>(conf.width), static_cast<long>(conf.height)));
  static_cast<void>(std::snprintf(arguments->first_page, sizeof arguments->first_page,
                                  "-dFirstPage=%d", static_cast<int>(first_page)));
  static_cast<void>(std::snprintf(arguments->last_page, sizeof arguments->last_page,
                                  "-dLastPage=%d", static_cast<int>(last_page)));
  const char** word = arguments->words;
  *word++ = "gs";
  *word++ = arguments->resolution;
  *word++ = arguments->page_size;
  for (const char* option : OPTIONS) *word++ = option;
  if (first_page > 0) *word++ = arguments->first_page;
  if (last_page > 0) *word++ = arguments->last_page;
  *word++ = device(conf, drawing);
  // nullpage writes nothing, and a job that switches to a device that does
  // write shows itself on standard output.
  *word++ = "-sOutputFile=-";
  *word++ = input;
  *word++ = "-c";
  *word++ = "quit";
  *word = nullptr;
}

void compose_gs_arguments(const Conf& conf, const char* input, GsArguments* arguments) {
  compose_gs_drawing(conf, input, GS_DRAW_PNG, 0, 0, arguments);
}

size_t join_gs_arguments(const GsArguments& arguments, char* command) {
  command[0] = '\0';
  size_t length = 0;
  for (const char* const* word = arguments.words; *word != nullptr; ++word) {
    const int written = std::snprintf(command + length, COMMAND_SIZE - length, "%s%s",
                                      length == 0 ? "" : " ", *word);
    if (written < 0) break;
    length += static_cast<size_t>(written);
    if (length >= COMMAND_SIZE) return COMMAND_SIZE - 1;
  }
  return length;
}

bool gs_refused_job(int wait_status, bool through_shell) {
  if (!WIFEXITED(wait_status) || ending_signal(wait_status, through_shell) != 0) return false;
  const int status = WEXITSTATUS(wait_status);
  return status != 0 && !(through_shell && (status == 126 || status == 127));
}

bool describe_gs_failure(int wait_status, bool through_shell, char* text) {
  const int signal_number = ending_signal(wait_status, through_shell);
  const int status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : 0;
  if (signal_number != 0) {
    static_cast<void>(std::snprintf(text, GS_FAILURE_SIZE, "gs was ended by signal %d (%s)",
                                    signal_number, strsignal(signal_number)));
  } else if (through_shell && status == 127) {
    static_cast<void>(std::snprintf(text, GS_FAILURE_SIZE, "gs was not found"));
  } else if (through_shell && status == 126) {
    static_cast<void>(std::snprintf(text, GS_FAILURE_SIZE, "gs could not be run"));
  } else if (status != 0) {
    static_cast<void>(std::snprintf(text, GS_FAILURE_SIZE, "gs exited with status %d", status));
  } else {
    return false;
  }
  return true;
}
