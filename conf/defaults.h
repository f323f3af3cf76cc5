// The built-in defaults: the paper size, source, ink and resolution a job
// prints with when nothing else is asked for. The lpd filter's fallback
// settings, the CUPS driver's PPD and the Printer Application's driver all
// start from this one record.

#ifndef RAVO_CONF_DEFAULTS_H_
#define RAVO_CONF_DEFAULTS_H_

#include <cstdint>

#include "conf/conf.h"

struct Defaults {
  const char* size;    // paper table size keyword
  const char* source;  // paper table keyword
  int32_t ink;         // INK_COLOUR or INK_MONO
  int32_t resolution;  // dots per inch, one of OFFERED_RESOLUTIONS
};

extern const Defaults DEFAULTS;

// Fills `conf` from DEFAULTS through the paper tables; returns CONF_USABLE,
// or the fault when the tables have no such row.
// REQUIRES: `conf` is not null.
ConfFault default_conf(Conf* conf);

#endif  // RAVO_CONF_DEFAULTS_H_
