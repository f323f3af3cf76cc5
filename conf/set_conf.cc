#include "conf/set_conf.h"

#include "paper/paper.h"

namespace {

// Converts a length in 1/360 inch to pixels at `resolution`, truncating toward
// zero. Returns false when the product does not fit in 32 signed bits.
bool to_pixels(int32_t resolution, int32_t length, int32_t* pixels) {
  int32_t product = 0;
  if (__builtin_mul_overflow(resolution, length, &product)) return false;
  *pixels = product / PAPER_UNITS_PER_INCH;
  return true;
}

// The checks of the ink and the resolution, which come before the others.
ConfFault check_ink_and_resolution(int32_t ink, int32_t resolution) {
  if (ink != INK_COLOUR && ink != INK_MONO) return CONF_BAD_INK;
  if (resolution <= 0) return CONF_BAD_RESOLUTION;
  return CONF_USABLE;
}

}  // namespace

ConfFault fill_conf(Conf* conf, int32_t ink, int32_t resolution, const char* media,
                    const char* source) {
  const ConfFault fault = check_ink_and_resolution(ink, resolution);
  if (fault != CONF_USABLE) return fault;
  if (media == nullptr || media[0] == '\0') return CONF_NO_MEDIA;
  if (paper_table(source) == nullptr) return CONF_UNKNOWN_SOURCE;
  const PaperConf* paper = call_paper_conf(source, media);
  if (paper == nullptr) return CONF_SIZE_NOT_IN_SOURCE;
  return fill_conf_for_paper(conf, ink, resolution, *paper);
}

ConfFault fill_conf_for_paper(Conf* conf, int32_t ink, int32_t resolution, const PaperConf& paper) {
  const ConfFault fault = check_ink_and_resolution(ink, resolution);
  if (fault != CONF_USABLE) return fault;
  int32_t width = 0;
  int32_t height = 0;
  if (!to_pixels(resolution, paper.width, &width) ||
      !to_pixels(resolution, paper.height, &height)) {
    return CONF_PAGE_TOO_LARGE;
  }
  *conf = Conf{ink, resolution, width, height};
  return CONF_USABLE;
}

int set_conf(Conf* conf, int32_t ink, int32_t resolution, const char* media, const char* source) {
  if (conf == nullptr) return 1;
  return fill_conf(conf, ink, resolution, media, source) == CONF_USABLE ? 0 : 1;
}
