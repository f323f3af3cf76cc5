// What each paper size keyword of the tables is called elsewhere: the text
// print dialogs show, and the PWG self-describing media name that IPP clients
// send. Every front end that names sizes reads them here.

#ifndef RAVO_PAPER_SIZE_NAMES_H_
#define RAVO_PAPER_SIZE_NAMES_H_

#include <cstddef>

#include "paper/paper.h"

struct SizeName {
  const char* keyword;  // as in the paper tables: "A4", "LT", "NC"
  const char* text;     // as people call it: "US Letter"
  const char* pwg;      // "na_letter_8.5x11in"; a custom_ name where none is standard
};

// One entry for each size keyword of any paper table.
extern const SizeName SIZE_NAMES[33];

// The entry for `keyword`, or null.
const SizeName* find_size_name(const char* keyword);

// The text for `keyword`, or `keyword` itself when it has none.
const char* size_text(const char* keyword);

// The row of paper source `source` whose size has the PWG name `pwg`, or
// null. "4X6" on roll paper and "4X6FULL" on sheets share a name, and so do
// the two widths of "L", so the source decides which row is meant.
const PaperConf* find_pwg_size(const char* source, const char* pwg);

// Holds every distinct size keyword of the tables, with room to spare.
inline constexpr size_t MAX_SIZES = 64;

// Fills `rows` with the sizes of all paper sources, each keyword once, in the
// order the sources list them; a row is that of the first source with the
// keyword. Returns how many.
// REQUIRES: `rows` holds MAX_SIZES pointers.
size_t collect_sizes(const PaperConf** rows);

#endif  // RAVO_PAPER_SIZE_NAMES_H_
