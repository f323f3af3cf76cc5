// The settings record: how a PostScript job is rasterised. It is filled by
// the settings reader, or copied from the built-in defaults, and handed to the
// rasteriser command.

#ifndef RAVO_CONF_CONF_H_
#define RAVO_CONF_CONF_H_

#include <cstdint>

// Ink codes of a settings record. While the settings are being read, 0 stands
// for "not given"; a finished record always holds one of these two.
inline constexpr int32_t INK_COLOUR = 1;
inline constexpr int32_t INK_MONO = 2;

extern "C" {

struct Conf {
  int32_t ink;         // INK_COLOUR or INK_MONO
  int32_t resolution;  // dots per inch
  int32_t width;       // page width in device pixels
  int32_t height;      // page height in device pixels
};

}  // extern "C"

static_assert(sizeof(Conf) == 4 * sizeof(int32_t), "Conf is four int32_t");

#endif  // RAVO_CONF_CONF_H_
