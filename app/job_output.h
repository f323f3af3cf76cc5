// The end of a job's way to the printer, for documents and raster jobs
// alike: the device, opened when the first page is whole; the pages and
// copies counted as they go out; and the one message a job that could not
// be sent ends with, naming the real cause: the temporary directory that
// holds the pages, the device that could not be opened, or the device that
// refused what was written, its last bytes included.

#ifndef RAVO_APP_JOB_OUTPUT_H_
#define RAVO_APP_JOB_OUTPUT_H_

#include <pappl/pappl.h>

#include "app/job_claims.h"
#include "app/job_options.h"
#include "app/page_sender.h"

// Ends the job as aborted for `reason`, with `message` logged and shown.
void abort_with(pappl_job_t* job, pappl_jreason_t reason, const char* message);

// The job's end of its pages' way: the device, opened when the first page
// is whole.
struct Outlet {
  pappl_job_t* job;
  DeviceHold* hold;
  bool raster;  // PAPPL counts the pages of a raster job's first copy itself
  pappl_device_t* device = nullptr;
  char open_failure[JOB_MESSAGE_SIZE] = "";
  int write_error = 0;  // errno of the write that failed, when it said
};

// The sender's way out through `outlet`.
PageOutlet page_outlet(Outlet& outlet);

// Aborts the job with what made the sender fail; false when nothing did.
bool abort_for_sender(pappl_job_t* job, const PageSender& sender, const Outlet& outlet);

// Sends the other copies and ends the job's output; true when every page
// reached the printer or the job was cancelled.
bool finish_sending(pappl_job_t* job, PageSender& sender, Outlet& outlet, int copies);

#endif  // RAVO_APP_JOB_OUTPUT_H_
