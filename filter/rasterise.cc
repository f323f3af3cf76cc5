#include "filter/rasterise.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr char COLOUR_COMMAND[] =
    "%s -r%d -g%ldx%ld -q -dNOPROMPT -dNOPAUSE -dSAFER -sDEVICE=png16m "
    "-sOutputFile=- - -c quit";
constexpr char MONO_COMMAND[] =
    "%s -r%d -g%ldx%ld -q -dNOPROMPT -dNOPAUSE -dSAFER -sDEVICE=pnggray "
    "-sOutputFile=- - -c quit";

// The longest command: the longer format less its four conversions, the
// program name and three numbers of 11 characters ("-2147483648").
constexpr size_t LONGEST_COMMAND = sizeof(MONO_COMMAND) - 1 - 10 + 2 + size_t{3} * 11;
static_assert(LONGEST_COMMAND == 116 && LONGEST_COMMAND < COMMAND_SIZE);

}  // namespace

size_t format_gs_command(const Conf& conf, char* command) {
  char program[4] = "gs";
  const char* format = conf.ink == INK_MONO ? MONO_COMMAND : COLOUR_COMMAND;
  const int length = std::snprintf(command, COMMAND_SIZE, format, program, conf.resolution,
                                   static_cast<long>(conf.width), static_cast<long>(conf.height));
  return length < 0 ? 0 : static_cast<size_t>(length);
}

void run_gs(const Conf* conf) {
  char command[COMMAND_SIZE];
  format_gs_command(*conf, command);
  // Nothing of ours may sit in a buffer while the interpreter writes.
  static_cast<void>(std::fflush(stdout));
  // The interpreter runs through the shell, which finds it on the PATH; its
  // outcome does not change the filter's.
  static_cast<void>(std::system(command));  // NOLINT(cert-env33-c)
}
