#include "filter/rasterise.h"

#include <cstdio>
#include <cstdlib>

size_t format_gs_command(const Conf& conf, char* command) {
  GsArguments arguments;
  compose_gs_arguments(conf, GS_READ_BYTEWISE, &arguments);
  return join_gs_arguments(arguments, command);
}

int run_gs(const Conf* conf) {
  char command[COMMAND_SIZE];
  format_gs_command(*conf, command);
  // Nothing of ours may sit in a buffer while the interpreter writes.
  static_cast<void>(std::fflush(stdout));
  // The interpreter runs through the shell, which finds it on the PATH.
  return std::system(command);  // NOLINT(cert-env33-c)
}
