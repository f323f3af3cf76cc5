// Validation and scaling: turns the raw values read from the settings file
// into a settings record in device pixels, or refuses them.

#ifndef RAVO_CONF_SET_CONF_H_
#define RAVO_CONF_SET_CONF_H_

#include <cstdint>

#include "conf/conf.h"
#include "paper/paper.h"

extern "C" {

// Fills all of `conf` and returns 0; or returns 1 and leaves it untouched when
// `conf` is null, the ink is neither INK_COLOUR nor INK_MONO, the resolution
// is not positive, the media size is null or empty, the paper source's table
// lacks the size, or a page side in pixels does not fit in 32 signed bits.
// A null or empty `source` means the sheet feeder.
int set_conf(Conf* conf, int32_t ink, int32_t resolution, const char* media, const char* source);

}  // extern "C"

// set_conf's checks, saying which refused: fills all of `conf` and returns
// CONF_USABLE, or returns the first fault found and leaves `conf` untouched.
// REQUIRES: `conf` is not null.
ConfFault fill_conf(Conf* conf, int32_t ink, int32_t resolution, const char* media,
                    const char* source);

// fill_conf for a row already found in the paper tables.
// REQUIRES: `conf` is not null.
ConfFault fill_conf_for_paper(Conf* conf, int32_t ink, int32_t resolution, const PaperConf& paper);

#endif  // RAVO_CONF_SET_CONF_H_
