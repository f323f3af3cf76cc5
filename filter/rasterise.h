// The rasteriser command: has a PostScript job rasterised into PNG by the
// interpreter "gs", which reads the job from the filter's standard input and
// writes the raster to its standard output. Its own text, from the job's
// "print" to its error reports, goes to standard error, never to the printer.

#ifndef RAVO_FILTER_RASTERISE_H_
#define RAVO_FILTER_RASTERISE_H_

#include <cstddef>

#include "conf/conf.h"

// The interpreter's words for one settings record, null-terminated, with the
// two that carry numbers held here.
inline constexpr size_t GS_MAX_WORDS = 16;
struct GsArguments {
  char resolution[16];  // "-r" and one number of up to 11 characters
  char page_size[32];   // "-g", two such numbers and "x"
  const char* words[GS_MAX_WORDS];
};

// How the interpreter reads the job from standard input: "-" a byte per read,
// as the lpd filter's fixed command has it, or "-_" with buffering.
inline constexpr char GS_READ_BYTEWISE[] = "-";
inline constexpr char GS_READ_BUFFERED[] = "-_";

// Fills `arguments` with the interpreter's words for `conf`, "gs" first:
// 8-bit grey PNG for INK_MONO, 24-bit colour PNG otherwise, the job read as
// `input` says.
void compose_gs_arguments(const Conf& conf, const char* input, GsArguments* arguments);

// Holds the longest command, the monochrome one with three 11-character
// numbers (133 characters), with room to spare.
inline constexpr size_t COMMAND_SIZE = 256;

// Writes `arguments` into `command`, separated by blanks, and returns its
// length.
// REQUIRES: `command` holds COMMAND_SIZE bytes.
size_t join_gs_arguments(const GsArguments& arguments, char* command);

// Writes the filter's shell command for `conf` into `command`, the words of
// compose_gs_arguments reading bytewise, and returns its length.
// REQUIRES: `command` holds COMMAND_SIZE bytes.
size_t format_gs_command(const Conf& conf, char* command);

// Says how the interpreter failed, from its wait status, into `text`, and
// returns true; returns false when it succeeded. `through_shell` reads the
// shell's conventions: 127 for a program not found, 126 for one that cannot
// run, and 128 plus the number of the signal that ended it.
// REQUIRES: `text` holds GS_FAILURE_SIZE bytes.
inline constexpr size_t GS_FAILURE_SIZE = 96;
bool describe_gs_failure(int wait_status, bool through_shell, char* text);

// Whether the interpreter ran and exited with a status of its own other than
// 0, which it does for a broken job, read as describe_gs_failure reads it.
bool gs_refused_job(int wait_status, bool through_shell);

extern "C" {

// Runs the interpreter for `conf` through the shell, waits for it, and returns
// the shell's outcome as the standard `system` routine reports it.
int run_gs(const Conf* conf);

}  // extern "C"

#endif  // RAVO_FILTER_RASTERISE_H_
