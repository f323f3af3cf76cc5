// The settings checker: reads a settings file with the filter's own reader
// and tells an administrator what the filter will make of it, down to the
// line at fault and what that line would accept.

#ifndef RAVO_CHECK_CHECK_H_
#define RAVO_CHECK_CHECK_H_

#include <cstdio>

#include "conf/conf.h"

// Checks the settings file at `path`. For a usable file, writes its section,
// its four settings with the lines that set them, the raster and the
// interpreter's command to `out`, fills `conf` and returns 0. Otherwise writes
// "PATH:LINE: reason" (or "PATH: reason" where no one line is at fault) and
// what the filter will do instead to `err`, and returns 1.
int check_settings(const char* path, FILE* out, FILE* err, Conf* conf);

// The checker's command line, `ravocheck [FILE]`; returns its exit status.
int check_main(int argc, char** argv);

#endif  // RAVO_CHECK_CHECK_H_
