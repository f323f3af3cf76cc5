#include "app/job_output.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

constexpr size_t MESSAGE_SIZE = JOB_MESSAGE_SIZE;

bool outlet_write(void* context, const void* data, size_t size) {
  auto* outlet = static_cast<Outlet*>(context);
  if (outlet->device == nullptr) {
    if (outlet->open_failure[0] != '\0') return false;
    outlet->device = outlet->hold->open(outlet->open_failure, sizeof outlet->open_failure);
    if (outlet->device == nullptr) return false;
  }
  errno = 0;
  if (papplDeviceWrite(outlet->device, data, size) == static_cast<ssize_t>(size)) return true;
  outlet->write_error = errno;
  return false;
}

bool outlet_cancelled(void* context) {
  return papplJobIsCanceled(static_cast<Outlet*>(context)->job);
}

void outlet_page_sent(void* context, int copy) {
  const auto* outlet = static_cast<Outlet*>(context);
  // PAPPL's device holds up to a buffer of bytes back: a whole page goes
  // out now, not when the next one pushes it.
  if (outlet->device != nullptr) papplDeviceFlush(outlet->device);
  if (!outlet->raster || copy > 0) papplJobSetImpressionsCompleted(outlet->job, 1);
}

// Says that writing to the printer failed, and why when the device said.
void describe_printer_failure(const Outlet& outlet, char* message, size_t size) {
  const char* why = outlet.hold->failure();
  if (why == nullptr && outlet.write_error != 0) why = std::strerror(outlet.write_error);
  if (why != nullptr) {
    static_cast<void>(
        std::snprintf(message, size, "Unable to send the pages to the printer (%s)", why));
  } else {
    papplCopyString(message, "Unable to send the pages to the printer", size);
  }
}

}  // namespace

void abort_with(pappl_job_t* job, pappl_jreason_t reason, const char* message) {
  papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s", message);
  papplJobSetMessage(job, "%s", message);
  papplJobSetReasons(job, reason, PAPPL_JREASON_NONE);
}

PageOutlet page_outlet(Outlet& outlet) {
  return PageOutlet{outlet_write, outlet_cancelled, outlet_page_sent, &outlet};
}

// Aborts the job with what made the sender fail; false when nothing did.
bool abort_for_sender(pappl_job_t* job, const PageSender& sender, const Outlet& outlet) {
  char message[MESSAGE_SIZE];
  switch (sender.fault()) {
    case SendFault::HOLD_FAILED:
      static_cast<void>(std::snprintf(message, sizeof message,
                                      "Unable to hold the pages in the temporary directory (%s)",
                                      std::strerror(sender.error())));
      break;
    case SendFault::PRINTER_FAILED:
      if (outlet.open_failure[0] != '\0') {
        papplCopyString(message, outlet.open_failure, sizeof message);
      } else {
        describe_printer_failure(outlet, message, sizeof message);
      }
      break;
    default:
      return false;
  }
  abort_with(job, PAPPL_JREASON_ABORTED_BY_SYSTEM, message);
  return true;
}

// Sends the other copies and ends the job's output; true when every page
// reached the printer or the job was cancelled.
bool finish_sending(pappl_job_t* job, PageSender& sender, Outlet& outlet, int copies) {
  sender.send_copies(copies);
  if (outlet.device != nullptr) papplDeviceFlush(outlet.device);
  if (abort_for_sender(job, sender, outlet)) return false;
  // PAPPL's device holds the last bytes until the flush, which says nothing
  // of how it went but to the device's error callback.
  if (sender.fault() == SendFault::NONE && outlet.hold->failure() != nullptr) {
    char message[MESSAGE_SIZE];
    describe_printer_failure(outlet, message, sizeof message);
    abort_with(job, PAPPL_JREASON_ABORTED_BY_SYSTEM, message);
    return false;
  }
  if (sender.fault() == SendFault::NONE) {
    papplJobSetMessage(job, "Printed %u page%s", sender.pages_sent(),
                       sender.pages_sent() == 1 ? "" : "s");
  }
  return true;
}
