// Ends jobs whose document never comes. A job made by Create-Job holds the
// printer's one place for jobs until its document has come, and PAPPL 1.3.1
// waits for it without end: a client that never sends it would keep every
// other job out. A timer cancels such a job once it has waited longer than
// the job time limit, saying why.

#ifndef RAVO_APP_JOB_WATCH_H_
#define RAVO_APP_JOB_WATCH_H_

#include <pappl/pappl.h>

#include <ctime>

// Whether a job made at `created`, with no document (`has_document` false),
// has waited for it longer than `limit` seconds at `now`.
bool document_overdue(bool has_document, time_t created, time_t now, int limit);

// Starts the timer. Call it from the system callback.
void watch_jobs(pappl_system_t* system);

#endif  // RAVO_APP_JOB_WATCH_H_
