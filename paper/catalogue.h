// The catalogue lists: the names the settings file uses for inks, paper
// sources and media sizes, kept beside the paper tables for anything that
// reads the program's global names. The filter itself does not consult them.

#ifndef RAVO_PAPER_CATALOGUE_H_
#define RAVO_PAPER_CATALOGUE_H_

#include <cstdint>

extern "C" {

// One media size, in 1/360 inch. The list ends with a row whose name is "".
struct MediaSize {
  const char* name;
  int32_t width;
  int32_t height;
};

extern const char* const Inks[2];  // values of "ink"
extern const int32_t Ink_Num;
extern const char* const Bins[6];  // values of "papersource"
extern const int32_t Bin_Num;
extern const MediaSize Media_Size[22];  // values of "mediasize"

// Returns `value` plus one half, truncated toward zero, summed at extended
// precision. NaN, and sums whose truncation does not fit in 32 signed bits,
// give INT32_MIN.
int32_t round_off(double value);

}  // extern "C"

#endif  // RAVO_PAPER_CATALOGUE_H_
