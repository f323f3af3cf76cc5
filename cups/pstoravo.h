// The CUPS filter: rasterises a PostScript job into the printer's PNG with
// the paper size, paper source, resolution and colour mode chosen for the job
// over the queue's PPD defaults. Validation and scaling are the lpd filter's
// own, and so are the interpreter's words, but for reading the job buffered.
// A value that is not one of the PPD's choices is refused, and only the PNG
// images asked for leave the filter.

#ifndef RAVO_CUPS_PSTORAVO_H_
#define RAVO_CUPS_PSTORAVO_H_

#include "conf/conf.h"

// The four PPD choices of a job, as keywords.
struct JobChoices {
  const char* page_size;
  const char* input_slot;
  const char* resolution;
  const char* color_model;
};

// Turns `choices` into a settings record with the lpd filter's validation.
// Returns CONF_USABLE after filling `conf`, or why the choices were refused.
ConfFault conf_for_choices(const JobChoices& choices, Conf* conf);

// The filter as CUPS runs it: pstoravo job user title copies options [file],
// with the PPD's path in $PPD. Returns the exit status, 0 or 1.
int pstoravo_main(int argc, char** argv);

#endif  // RAVO_CUPS_PSTORAVO_H_
