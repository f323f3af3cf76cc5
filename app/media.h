// How the paper tables look to IPP: each table is a media source with or
// without margins, and each size goes by its PWG name.
//
//   media-source  margins        table
//   auto          usual          AUTO
//   auto          all four 0     TAUTO
//   main-roll     usual          ROLL
//   main-roll     all four 0     TROLL

#ifndef RAVO_APP_MEDIA_H_
#define RAVO_APP_MEDIA_H_

#include <pappl/pappl.h>

#include <cstddef>

#include "paper/paper.h"

inline constexpr char SOURCE_AUTO[] = "auto";
inline constexpr char SOURCE_ROLL[] = "main-roll";

// The paper table keyword for an IPP media source, with or without
// margins, or null for a source the printer lacks. An empty or null source
// is "auto".
const char* table_source(const char* ipp_source, bool borderless);

// True when all four margins of `col` are 0.
bool is_borderless(const pappl_media_col_t& col);

// A length of the tables (1/360 inch) in hundredths of a millimetre.
int to_hundredths_mm(int32_t units);

// Fills `col` for size `row` of the table that `ipp_source` and
// `borderless` name: its PWG name and size (portrait, as PWG sizes are),
// the source, and the table's margins or none. False when the size has no
// PWG name or PWG does not know it.
bool fill_media_col(const PaperConf& row, const char* ipp_source, bool borderless,
                    pappl_media_col_t* col);

// What a job asked for, resolved against the tables.
struct JobMedia {
  const char* source;    // table keyword, "AUTO"...; null when unknown
  const PaperConf* row;  // null when that table lacks the size
};

// Resolves a job's media-col: its source and margins choose the table, its
// PWG name (or, lacking one, its size) the row. With no source, the sheet
// feeder's table when it has the size, else the roll's; and a size that
// neither feeds without margins, as PAPPL offers every size, with them.
JobMedia resolve_media(const pappl_media_col_t& col);

// Says why `col` cannot be printed, naming the size, the source and what
// the source takes.
void describe_unfeedable(const pappl_media_col_t& col, char* text, size_t size);

// Fills `names` with the distinct PWG names of all sizes of the tables, in
// table order; returns how many (at most `capacity`).
size_t collect_pwg_names(const char** names, size_t capacity);

// What a job asked for, as its own attributes hold it; PAPPL puts the
// printer's default in place of a value the printer lacks. Any may be null.
struct JobRequest {
  ipp_attribute_t* media;
  ipp_attribute_t* media_col;
  ipp_attribute_t* print_color_mode;
  ipp_attribute_t* printer_resolution;
};

// True when the printer has every size, source, colour mode and resolution
// that `request` names; otherwise false with `message` naming what was asked
// and what the printer has.
bool check_request(const JobRequest& request, char* message, size_t size);

// The first of `request`'s attributes that check_request refuses, with
// `message` as it says; null when it refuses none.
ipp_attribute_t* unoffered_attribute(const JobRequest& request, char* message, size_t size);

// True when the request names a media source.
bool names_source(const JobRequest& request);

// check_request for `job`; also forgets the source that PAPPL chose for
// `options` when the job named none, so that resolve_media picks the table
// that feeds the size.
bool check_job_request(pappl_job_t* job, pappl_pr_options_t* options, char* message, size_t size);

#endif  // RAVO_APP_MEDIA_H_
