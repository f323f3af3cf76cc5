// gs's command words, shared by every front end that runs gs: the lpd
// filter's shell command, and the runner that starts gs without a shell. For
// one settings record they say the resolution, the page size, the device
// (PNG for the lpd filter, raw pixels for the runner, or no drawing at all
// for a check of the document) and how gs reads the job; and they say how gs
// ended, from its wait status.

#ifndef RAVO_GS_GS_COMMAND_H_
#define RAVO_GS_GS_COMMAND_H_

#include <cstddef>
#include <cstdint>

#include "conf/conf.h"

// gs's words for one settings record, null-terminated, with those that carry
// numbers held here.
inline constexpr size_t GS_MAX_WORDS = 18;
struct GsArguments {
  char resolution[16];  // "-r" and one number of up to 11 characters
  char page_size[32];   // "-g", two such numbers and "x"
  char first_page[24];  // "-dFirstPage=" and a number
  char last_page[24];   // "-dLastPage=" and a number
  const char* words[GS_MAX_WORDS];
};

// How gs reads the job from standard input: "-" a byte per read, as the lpd
// filter's fixed command has it, or "-_" with buffering.
inline constexpr char GS_READ_BYTEWISE[] = "-";
inline constexpr char GS_READ_BUFFERED[] = "-_";

// What gs makes of each page.
enum GsDrawing {
  GS_DRAW_PNG,      // a PNG image: pnggray or png16m
  GS_DRAW_RAW,      // pixels as they are: pcxgray (grey in runs) or ppmraw
  GS_DRAW_NOTHING,  // every page interpreted, nothing drawn or written: nullpage
};

// Fills `arguments` with gs's words for `conf`, "gs" first: 8-bit grey for
// INK_MONO, 24-bit colour otherwise, drawn as `drawing` says, the job read as
// `input` says. `first_page` and `last_page`, counted from 1, limit the pages
// drawn when above 0.
void compose_gs_drawing(const Conf& conf, const char* input, GsDrawing drawing, int32_t first_page,
                        int32_t last_page, GsArguments* arguments);

// The lpd filter's words: compose_gs_drawing for PNG, every page.
void compose_gs_arguments(const Conf& conf, const char* input, GsArguments* arguments);

// Holds the longest command, the monochrome one with three 11-character
// numbers (133 characters), with room to spare.
inline constexpr size_t COMMAND_SIZE = 256;

// Writes `arguments` into `command`, separated by blanks, and returns its
// length.
// REQUIRES: `command` holds COMMAND_SIZE bytes.
size_t join_gs_arguments(const GsArguments& arguments, char* command);

// Says how gs failed, from its wait status, into `text`, and returns true;
// returns false when it succeeded. `through_shell` reads the shell's
// conventions: 127 for a program not found, 126 for one that cannot run, and
// 128 plus the number of the signal that ended it.
// REQUIRES: `text` holds GS_FAILURE_SIZE bytes.
inline constexpr size_t GS_FAILURE_SIZE = 96;
bool describe_gs_failure(int wait_status, bool through_shell, char* text);

// Whether gs ran and exited with a status of its own other than 0, which it
// does for a broken job, read as describe_gs_failure reads it.
bool gs_refused_job(int wait_status, bool through_shell);

#endif  // RAVO_GS_GS_COMMAND_H_
