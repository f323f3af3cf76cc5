#include "conf/defaults.h"

#include "conf/set_conf.h"

const Defaults DEFAULTS = {"A4", "AUTO", INK_COLOUR, 360};

ConfFault default_conf(Conf* conf) {
  return fill_conf(conf, DEFAULTS.ink, DEFAULTS.resolution, DEFAULTS.size, DEFAULTS.source);
}
