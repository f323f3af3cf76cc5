// The printer's PPD, made from the paper tables so that the two never
// disagree: every size of every paper source, the sources with constraints
// against the sizes each lacks, the resolutions and the colour modes, and the
// CUPS filter that rasterises for it.

#ifndef RAVO_CUPS_PPD_WRITER_H_
#define RAVO_CUPS_PPD_WRITER_H_

#include <cstdio>

// Writes the PPD for ravo `version` to `out`. Returns 0, or 1 when a write
// failed.
int write_ppd(FILE* out, const char* version);

#endif  // RAVO_CUPS_PPD_WRITER_H_
