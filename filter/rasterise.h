// The rasteriser command: has a PostScript job rasterised into PNG by the
// interpreter "gs", which reads the job from the filter's standard input and
// writes the raster to its standard output.

#ifndef RAVO_FILTER_RASTERISE_H_
#define RAVO_FILTER_RASTERISE_H_

#include <cstddef>

#include "conf/conf.h"

// Holds the longest command, the monochrome one with three 11-character
// numbers (116 characters), with room to spare.
inline constexpr size_t COMMAND_SIZE = 256;

// Writes the interpreter's command line for `conf` into `command` and returns
// its length: 8-bit grey PNG for INK_MONO, 24-bit colour PNG otherwise.
// REQUIRES: `command` holds COMMAND_SIZE bytes.
size_t format_gs_command(const Conf& conf, char* command);

extern "C" {

// Runs the interpreter for `conf` through the shell and waits for it. Its
// outcome is not examined.
void run_gs(const Conf* conf);

}  // extern "C"

#endif  // RAVO_FILTER_RASTERISE_H_
