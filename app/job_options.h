// One route from a job's options to the raster it prints at: the paper
// table row its media names, found once and passed on; its ink; and its
// resolution, which is the job's own, else that of the raster page it came
// drawn at, else the printer's default.

#ifndef RAVO_APP_JOB_OPTIONS_H_
#define RAVO_APP_JOB_OPTIONS_H_

#include <pappl/pappl.h>

#include <cstddef>
#include <cstdint>

#include "app/png_writer.h"
#include "conf/conf.h"
#include "paper/paper.h"

// Holds every message of these functions.
inline constexpr size_t JOB_MESSAGE_SIZE = 512;

// The paper table row that the job's media asks for, or null with the reason
// in `message`.
const PaperConf* job_paper(const pappl_pr_options_t& options, char* message);

// INK_MONO for a monochrome job, else INK_COLOUR.
int32_t job_ink(const pappl_pr_options_t& options);

// The resolution to print at. A job that names one gets it. PAPPL otherwise
// picks one by print-quality, passing over the printer's default: a
// document that names no quality gets the default, and a raster `page` that
// came drawn at an offered resolution keeps it, so that it is neither padded
// nor cut. `page` is null for documents.
int32_t job_resolution(pappl_job_t* job, const pappl_pr_options_t& options,
                       const cups_page_header2_t* page);

// The raster for `paper` at `resolution`, or false with the reason in
// `message`.
bool job_conf(const PaperConf& paper, int32_t ink, int32_t resolution, Conf* conf, char* message);

#endif  // RAVO_APP_JOB_OPTIONS_H_
