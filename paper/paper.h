// The paper catalogue: page sizes this printer supports, one table per way of
// feeding paper, in units of 1/360 inch. A size is found by paper source
// keyword and paper size name, both compared exactly.

#ifndef RAVO_PAPER_PAPER_H_
#define RAVO_PAPER_PAPER_H_

#include <cstdint>

// Sizes in the paper tables are in this many parts of an inch.
inline constexpr int32_t PAPER_UNITS_PER_INCH = 360;

extern "C" {

// One row of a paper table. Every table ends with a row whose name is null.
struct PaperConf {
  const char* name;
  int32_t width;  // page size
  int32_t height;
  int32_t print_width;  // printable area and its offset from the page's edges
  int32_t print_height;
  int32_t left_offset;
  int32_t top_offset;
};

extern const PaperConf paper_auto[32];        // sheets from the feeder
extern const PaperConf paper_roll[15];        // roll paper
extern const PaperConf paper_roll_trim[6];    // roll paper, borderless
extern const PaperConf paper_auto_trim[3];    // sheets, borderless
extern const PaperConf paper_auto_trim_4[1];  // sheets, four-sided borderless: none

// Returns the row named `name` in the table of paper source `source`, or null
// when the source is unknown, its table is empty or lacks the name. A null or
// empty source means the sheet feeder ("AUTO"). The row lives as long as the
// program.
const PaperConf* call_paper_conf(const char* source, const char* name);

}  // extern "C"

// The table of paper source `source`, or null when the source is unknown. A
// null or empty source means the sheet feeder.
const PaperConf* paper_table(const char* source);

#endif  // RAVO_PAPER_PAPER_H_
