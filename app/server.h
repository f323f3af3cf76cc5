// The Printer Application's server: the system object made from the standard
// server options, its state saved without freezing the server, and the main
// loop that runs the program's sub-commands.

#ifndef RAVO_APP_SERVER_H_
#define RAVO_APP_SERVER_H_

// Runs papplMainloop with the driver: the program's whole work.
int run_printer_app(int argc, char** argv);

// Rewrites the state file `file` so that each job saved as printing (which
// the server was killed in the middle of) is pending again; leaves it as it
// is when no job was printing or it cannot be read or written.
void requeue_interrupted_jobs(const char* file);

// The seconds of the job-time-limit option's text, or 0 (the default limit)
// where it names no number of seconds from 1 to 2147483647.
int job_time_limit_from(const char* text);

#endif  // RAVO_APP_SERVER_H_
