#include "paper/catalogue.h"

const char* const Inks[2] = {"COLOR", "MONO"};
const int32_t Ink_Num = 2;

const char* const Bins[6] = {"AUTO", "ROLL", "TROLL", "TR3300", "TR820", "TAUTO"};
const int32_t Bin_Num = 6;

const MediaSize Media_Size[22] = {
    {"A4", 2976, 4209},    {"B5", 2580, 3643},
    {"B4", 3643, 5159},    {"A5", 2098, 2976},
    {"A3", 4209, 5953},    {"A3+", 4663, 6846},
    {"A6", 1488, 2098},    {"PHOTO", 1610, 2330},
    {"PC", 1417, 2098},    {"DPC", 2835, 2098},
    {"ENVC3", 1701, 3685}, {"ENVC4", 1276, 3161},
    {"ENVY1", 1701, 2494}, {"ENVY2", 1616, 2296},
    {"ENVY3", 1389, 2098}, {"ENVY4", 1488, 3331},
    {"LT", 3060, 3960},    {"LGL", 3060, 5040},
    {"4X6", 1417, 2160},   {"L", 1261, 1800},
    {"NC", 1261, 779},     {"", 0, 0},
};

int32_t round_off(double value) {
  // The sum stays in extended precision so that it is not rounded up to a
  // whole number before it is truncated: 0.49999999999999994 gives 0.
  const long double sum = static_cast<long double>(value) + 0.5L;
  if (!(sum > -2147483649.0L && sum < 2147483648.0L)) return INT32_MIN;
  return static_cast<int32_t>(sum);
}
