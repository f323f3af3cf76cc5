// Printing a job: PDF and PostScript through gs, JPEG and PNG through the
// app's decoder, and the raster PAPPL hands on line by line through the PNG
// writer. Either way only PNG images of the table's size reach the printer,
// page by page as each is made, and the other copies follow from the job's
// holding file (app/page_sender.h). Each job first claims its run and the
// printer's device (app/job_claims.h).

#ifndef RAVO_APP_JOBS_H_
#define RAVO_APP_JOBS_H_

#include <pappl/pappl.h>

// The MIME filter for application/pdf, application/postscript, image/jpeg and
// image/png.
bool print_document(pappl_job_t* job, pappl_device_t* device, void* data);

// The longest a PDF or PostScript document may take to draw, in seconds,
// before its job is aborted with a reason, so that an endless loop cannot
// hold the printer, and the longest a job may wait for its document; the
// server's -o job-time-limit=SECONDS.
inline constexpr int DEFAULT_JOB_TIME_LIMIT = 30 * 60;
void set_job_time_limit(int seconds);
int job_time_limit_seconds();

// A raw job: refused, since only the app's own PNG may reach the printer.
bool print_raw(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device);

// PAPPL's raster callbacks.
bool raster_start_job(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device);
bool raster_start_page(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device,
                       unsigned page);
bool raster_write_line(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device,
                       unsigned y, const unsigned char* line);
bool raster_end_page(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device,
                     unsigned page);
bool raster_end_job(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device);

#endif  // RAVO_APP_JOBS_H_
