// The CUPS filter: prints a PostScript job as the printer's PNG images with
// the paper size, paper source, resolution and colour mode chosen for the job
// over the queue's PPD defaults. Validation and scaling are the lpd filter's
// own; gs draws raw pages, which the runner checks and encodes. A value that
// is not one of the PPD's choices is refused, and only whole PNG images of
// the pages asked for leave the filter, each as soon as it is whole.

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
