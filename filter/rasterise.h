// The rasteriser command: has a PostScript job rasterised into PNG by the
// interpreter "gs", which reads the job from the filter's standard input and
// writes the raster to its standard output. Its own text, from the job's
// "print" to its error reports, goes to standard error, never to the printer.
// The words themselves are gs's, in gs/gs_command.h.

#ifndef RAVO_FILTER_RASTERISE_H_
#define RAVO_FILTER_RASTERISE_H_

#include <cstddef>

#include "conf/conf.h"
#include "gs/gs_command.h"

// Writes the filter's shell command for `conf` into `command`, the words of
// compose_gs_arguments reading bytewise, and returns its length.
// REQUIRES: `command` holds COMMAND_SIZE bytes.
size_t format_gs_command(const Conf& conf, char* command);

extern "C" {

// Runs the interpreter for `conf` through the shell, waits for it, and returns
// the shell's outcome as the standard `system` routine reports it.
int run_gs(const Conf* conf);

}  // extern "C"

#endif  // RAVO_FILTER_RASTERISE_H_
