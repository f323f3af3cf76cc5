#include "app/job_claims.h"

#include <cstdio>
#include <string_view>
#include <thread>

namespace {

constexpr size_t CLAIMS_KEPT = 256;

// While the job before closes its connection.
constexpr int OPEN_ATTEMPTS = 20;
constexpr std::chrono::milliseconds OPEN_PAUSE{250};

// How often a job waiting for the device asks whether its holder still
// processes.
constexpr std::chrono::seconds HOLDER_CHECK{1};

bool job_is_processing(void* context, int id) {
  pappl_job_t* job = static_cast<pappl_job_t*>(context);
  pappl_job_t* other = papplPrinterFindJob(papplJobGetPrinter(job), id);
  return other != nullptr && papplJobGetState(other) == IPP_JSTATE_PROCESSING;
}

// What the device says when it fails to open or to write, logged as PAPPL
// logs it and kept for the job's message. The device holds on to it for as
// long as it is open.
void note_device_error(const char* message, void* context) {
  auto* error = static_cast<DeviceError*>(context);
  papplLogDevice(message, error->system);
  papplCopyString(error->text, message, sizeof error->text);
  error->failed = true;
}

}  // namespace

bool claim_job(PrinterState& state, int id) {
  const std::lock_guard<std::mutex> hold(state.lock);
  for (const PrinterState::Claim& claim : state.claims) {
    if (claim.job_id == id) return false;
  }
  if (state.claims.size() >= CLAIMS_KEPT) state.claims.pop_front();
  state.claims.push_back({id, false, false});
  return true;
}

void settle_claim(PrinterState& state, int id, bool result) {
  {
    const std::lock_guard<std::mutex> hold(state.lock);
    for (PrinterState::Claim& claim : state.claims) {
      if (claim.job_id == id) claim = {id, true, result};
    }
  }
  state.changed.notify_all();
}

bool wait_for_claim(PrinterState& state, int id) {
  std::unique_lock<std::mutex> hold(state.lock);
  state.second_runs.push_back(id);
  for (;;) {
    bool found = false;
    for (const PrinterState::Claim& claim : state.claims) {
      if (claim.job_id != id) continue;
      found = true;
      if (claim.done) return claim.result;
    }
    if (!found) return false;
    state.changed.wait(hold);
  }
}

void end_second_run(PrinterState& state, int id) {
  {
    const std::lock_guard<std::mutex> hold(state.lock);
    for (auto run = state.second_runs.begin(); run != state.second_runs.end(); ++run) {
      if (*run != id) continue;
      state.second_runs.erase(run);
      state.second_run_ended = std::chrono::steady_clock::now();
      break;
    }
  }
  state.changed.notify_all();
}

bool near_second_run(PrinterState& state, int id, std::chrono::steady_clock::time_point now) {
  const std::lock_guard<std::mutex> hold(state.lock);
  for (const int run : state.second_runs) {
    if (run != id) return true;
  }
  return now - state.second_run_ended < SECOND_RUN_REACH;
}

bool take_device(PrinterState& state, int id, StillProcessing processing, void* context) {
  std::unique_lock<std::mutex> hold(state.lock);
  bool waited = false;
  while (state.device_holder != 0 && state.device_holder != id) {
    waited = true;
    if (state.changed.wait_for(hold, HOLDER_CHECK) != std::cv_status::timeout) continue;
    const int holder = state.device_holder;
    hold.unlock();
    const bool stale = holder != 0 && !processing(context, holder);
    hold.lock();
    if (stale && state.device_holder == holder) state.device_holder = 0;
  }
  state.device_holder = id;
  return waited;
}

void give_up_device(PrinterState& state, int id) {
  {
    const std::lock_guard<std::mutex> hold(state.lock);
    if (state.device_holder == id) state.device_holder = 0;
  }
  state.changed.notify_all();
}

DeviceHold::DeviceHold(pappl_job_t* job, PrinterState& state, pappl_device_t* handed)
    : state_(state),
      job_(job),
      id_(papplJobGetID(job)),
      handed_(handed),
      waited_(take_device(state, id_, job_is_processing, job)) {}

DeviceHold::~DeviceHold() {
  if (owned_ && device_ != nullptr) papplDeviceClose(device_);
  give_up_device(state_, id_);
}

pappl_device_t* DeviceHold::open(char* reason, size_t size) {
  if (device_ != nullptr) return device_;
  pappl_printer_t* printer = papplJobGetPrinter(job_);
  const char* uri = papplPrinterGetDeviceURI(printer);
  // A file device is named after the job that opened it, which need not be
  // this one when PAPPL runs two at once; a file takes many writers, so a
  // job always opens its own.
  const bool file = std::string_view(uri).starts_with("file:");
  if (handed_ != nullptr && !file && !waited_ &&
      !near_second_run(state_, id_, std::chrono::steady_clock::now())) {
    device_ = handed_;
    return device_;
  }
  char name[32];
  static_cast<void>(std::snprintf(name, sizeof name, "job-%d", id_));
  error_ = DeviceError{papplPrinterGetSystem(printer), false, "no reason given"};
  for (int attempt = 0; attempt < OPEN_ATTEMPTS && device_ == nullptr; ++attempt) {
    if (attempt > 0) std::this_thread::sleep_for(OPEN_PAUSE);
    device_ = papplDeviceOpen(uri, name, note_device_error, &error_);
  }
  owned_ = device_ != nullptr;
  if (device_ == nullptr) {
    static_cast<void>(std::snprintf(reason, size, "Unable to open the printer's device %s (%s)",
                                    uri, error_.text));
  }
  error_.failed = false;
  return device_;
}
