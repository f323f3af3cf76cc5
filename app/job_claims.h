// Around two faults of PAPPL 1.3.1: it can start one job twice, and it can
// run two jobs of one printer at once, which then share (and close under
// each other) the printer's device.
//
// So the first run of a job claims its id: a second run of the same job
// waits for the first and returns its result without touching anything.
// Jobs then take the device one at a time. A job that had to wait for
// another, or that runs beside a second run (whose end makes PAPPL close the
// printer's device), writes over a connection of its own, since PAPPL may
// close the one it was handed under it.

#ifndef RAVO_APP_JOB_CLAIMS_H_
#define RAVO_APP_JOB_CLAIMS_H_

#include <pappl/pappl.h>

#include <chrono>
#include <condition_variable>
#include <cstddef>
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

// Claims job `id` for this run; false when another run has it already.
bool claim_job(PrinterState& state, int id);

// Settles the claim on `id` with the job's result, waking its second runs.
void settle_claim(PrinterState& state, int id, bool result);

// For a second run: waits until the run that claimed `id` is done, and
// returns its result. The caller then calls end_second_run when it has done.
bool wait_for_claim(PrinterState& state, int id);

// Notes that the second run of job `id` has ended, or will as soon as its
// callback returns.
void end_second_run(PrinterState& state, int id);

// A second run's end makes PAPPL close the printer's device, whichever job
// holds it then; a job that starts this soon after one uses its own.
inline constexpr std::chrono::seconds SECOND_RUN_REACH{2};

// Whether at `now` the second run of a job other than `id` is under way, or
// one ended less than SECOND_RUN_REACH before.
bool near_second_run(PrinterState& state, int id, std::chrono::steady_clock::time_point now);

// Whether job `id` still processes; a holder of the device that does not
// has lost it.
using StillProcessing = bool (*)(void* context, int id);

// Waits until no other job holds the device, and takes it for `id`;
// returns whether another held it.
bool take_device(PrinterState& state, int id, StillProcessing processing, void* context);

// Gives the device up, when `id` holds it.
void give_up_device(PrinterState& state, int id);

// The printer's device for one job, held by one job at a time. A job that
// found the device free uses the one PAPPL handed it, which a USB printer,
// taking one connection at a time, needs; one that had to wait, or that runs
// near a second run, opens a connection of its own under the name "job-ID".
// The last failure a device reported of the ones ravo opens.
struct DeviceError {
  pappl_system_t* system;
  bool failed;  // since the device was opened
  char text[256];
};

class DeviceHold {
 public:
  DeviceHold(pappl_job_t* job, PrinterState& state, pappl_device_t* handed);
  DeviceHold(const DeviceHold&) = delete;
  DeviceHold& operator=(const DeviceHold&) = delete;
  ~DeviceHold();
  // The device, once the job has something for it; null when it cannot be
  // opened, with the reason, naming the device's URI, in `reason`.
  pappl_device_t* open(char* reason, size_t size);
  // What went wrong writing to a device this hold opened, PAPPL's last
  // flush included; null when nothing did, or for the device PAPPL handed
  // over, whose failures PAPPL alone hears of.
  const char* failure() const { return error_.failed ? error_.text : nullptr; }

 private:
  PrinterState& state_;
  pappl_job_t* job_;
  int id_;
  pappl_device_t* handed_;
  bool waited_;
  pappl_device_t* device_ = nullptr;
  bool owned_ = false;
  DeviceError error_{};
};

#endif  // RAVO_APP_JOB_CLAIMS_H_
