// Printing a job: PDF and PostScript through gs, JPEG and PNG through the
// app's decoder, and the raster PAPPL hands on line by line through the PNG
// writer. Either way only PNG images of the table's size reach the printer.
//
// PAPPL 1.3.1 can run one job twice, or two jobs at once, on one printer.
// So the first callback of a job claims its id: a second run of the same job
// waits for the first and returns its result without touching anything. Jobs
// then run one at a time. A job that had to wait for another, or that runs
// beside a second run (whose end makes PAPPL close the printer's device),
// writes over a connection of its own, since PAPPL may close the one it was
// handed under it.

#ifndef RAVO_APP_JOBS_H_
#define RAVO_APP_JOBS_H_

#include <pappl/pappl.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>

// What one printer keeps across its jobs: the claims and the device's
// holder. It lives in the driver data's extension.
struct PrinterState {
  struct Claim {
    int job_id;
    bool done;
    bool result;
  };
  std::mutex lock;
  std::condition_variable changed;
  std::deque<Claim> claims;
  int device_holder = 0;  // job id, 0 when the device is free
  // The jobs whose second runs are under way, and when the last one ended.
  std::deque<int> second_runs;
  std::chrono::steady_clock::time_point second_run_ended;
};

// The MIME filter for application/pdf, application/postscript, image/jpeg and
// image/png.
bool print_document(pappl_job_t* job, pappl_device_t* device, void* data);

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
