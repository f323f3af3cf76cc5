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

// The resolutions, in dots per inch, that the CUPS driver and the Printer
// Application offer; the built-in defaults' resolution is one of them.
inline constexpr int32_t OFFERED_RESOLUTIONS[] = {180, 360, 720};

extern "C" {

struct Conf {
  int32_t ink;         // INK_COLOUR or INK_MONO
  int32_t resolution;  // dots per inch
  int32_t width;       // page width in device pixels
  int32_t height;      // page height in device pixels
};

}  // extern "C"

// Why settings were refused, for those who ask: the settings checker and the
// CUPS filter. The first group comes from reading the settings file, the
// second from validating the values.
enum ConfFault {
  CONF_USABLE,
  CONF_CANNOT_OPEN,         // the file cannot be opened
  CONF_TEXT_BEFORE_HEADER,  // a line other than a header comes first
  CONF_BARE_BRACKET,        // a header "[" alone while the section is sought
  CONF_NO_SECTION,          // no section for this printer, or none could be read
  CONF_EMPTY_KEY,           // a line beginning with "="
  CONF_NO_VALUE,            // a key with an empty or missing value
  CONF_VALUE_TOO_LONG,      // a value longer than any size or source name
  CONF_BAD_INK,             // the ink is neither INK_COLOUR nor INK_MONO (not given)
  CONF_BAD_RESOLUTION,      // the resolution is not positive (or not given)
  CONF_NO_MEDIA,            // no media size
  CONF_UNKNOWN_SOURCE,      // no such paper source
  CONF_SIZE_NOT_IN_SOURCE,  // the source's table lacks the size
  CONF_PAGE_TOO_LARGE,      // a page side in pixels does not fit in 32 signed bits
};

static_assert(sizeof(Conf) == 4 * sizeof(int32_t), "Conf is four int32_t");

#endif  // RAVO_CONF_CONF_H_
