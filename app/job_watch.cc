#include "app/job_watch.h"

#include <vector>

#include "app/jobs.h"
#include "app/printer_pages.h"

namespace {

constexpr int INTERVAL = 5;  // seconds

struct Overdue {
  time_t now;
  int limit;
  std::vector<pappl_job_t*> jobs;
};

void note_overdue(pappl_job_t* job, void* data) {
  auto* overdue = static_cast<Overdue*>(data);
  if (papplJobGetState(job) != IPP_JSTATE_PROCESSING &&
      document_overdue(papplJobGetFilename(job) != nullptr, papplJobGetTimeCreated(job),
                       overdue->now, overdue->limit)) {
    overdue->jobs.push_back(job);
  }
}

bool cancel_overdue_jobs(pappl_system_t* system, void* /*data*/) {
  for (pappl_printer_t* printer : system_printers(system)) {
    Overdue overdue{time(nullptr), job_time_limit_seconds(), {}};
    papplPrinterIterateActiveJobs(printer, note_overdue, &overdue, 1, 0);
    // Cancelling takes the locks that iterating holds.
    for (pappl_job_t* job : overdue.jobs) {
      papplJobSetMessage(job, "No document came within %d seconds of the job's creation",
                         overdue.limit);
      papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Cancelled: no document came within %d seconds.",
                  overdue.limit);
      papplJobCancel(job);
    }
  }
  return true;
}

}  // namespace

bool document_overdue(bool has_document, time_t created, time_t now, int limit) {
  return !has_document && created > 0 && now - created > limit;
}

void watch_jobs(pappl_system_t* system) {
  papplSystemAddTimerCallback(system, 0, INTERVAL, cancel_overdue_jobs, nullptr);
}
