#include "app/device_watch.h"

#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "app/printer_pages.h"

namespace {

constexpr int INTERVAL = 5;  // seconds, as PAPPL waits between its tries

struct Opening {
  char* reason;
  size_t size;
};

void note_error(const char* message, void* data) {
  const auto* opening = static_cast<const Opening*>(data);
  static_cast<void>(std::snprintf(opening->reason, opening->size, "%s", message));
}

// The printers whose "offline" the watch set, by printer-id; only the main
// loop's thread touches it.
std::vector<int> marked_offline;

void find_processing_job(pappl_job_t* job, void* data) {
  auto** found = static_cast<pappl_job_t**>(data);
  if (*found == nullptr && papplJobGetState(job) == IPP_JSTATE_PROCESSING) *found = job;
}

void look_at(pappl_printer_t* printer) {
  const int id = papplPrinterGetID(printer);
  auto marked = std::find(marked_offline.begin(), marked_offline.end(), id);
  pappl_job_t* waiting = nullptr;
  if (papplPrinterGetState(printer) == IPP_PSTATE_STOPPED) {
    papplPrinterIterateActiveJobs(printer, find_processing_job, &waiting, 1, 0);
  }
  char reason[256] = "";
  if (waiting != nullptr &&
      device_unopenable(papplPrinterGetDeviceURI(printer), reason, sizeof reason)) {
    char message[1024];
    describe_wait(papplPrinterGetDeviceURI(printer), reason, message, sizeof message);
    const char* current = papplJobGetMessage(waiting);
    if (current == nullptr || std::strcmp(current, message) != 0) {
      papplLogPrinter(printer, PAPPL_LOGLEVEL_ERROR, "%s", message);
      papplJobSetMessage(waiting, "%s", message);
    }
    if (marked == marked_offline.end()) {
      papplPrinterSetReasons(printer, PAPPL_PREASON_OFFLINE, PAPPL_PREASON_NONE);
      marked_offline.push_back(id);
    }
  } else if (marked != marked_offline.end()) {
    papplPrinterSetReasons(printer, PAPPL_PREASON_NONE, PAPPL_PREASON_OFFLINE);
    marked_offline.erase(marked);
  }
}

bool look_at_printers(pappl_system_t* system, void* /*data*/) {
  for (pappl_printer_t* printer : system_printers(system)) look_at(printer);
  return true;
}

}  // namespace

bool device_unopenable(const char* uri, char* reason, size_t size) {
  char scheme[32];
  char userpass[256];
  char host[256];
  char resource[1024];
  int port = 0;
  if (httpSeparateURI(HTTP_URI_CODING_ALL, uri, scheme, sizeof scheme, userpass, sizeof userpass,
                      host, sizeof host, &port, resource, sizeof resource) < HTTP_URI_STATUS_OK) {
    static_cast<void>(std::snprintf(reason, size, "not a device URI"));
    return true;
  }
  if (std::strcmp(scheme, "file") == 0) {
    if (char* options = std::strchr(resource, '?')) *options = '\0';
    // A directory takes a file per job; anything else is written to.
    struct stat status {};
    const bool directory = stat(resource, &status) == 0 && S_ISDIR(status.st_mode);
    if (access(resource, directory ? W_OK | X_OK : W_OK) == 0) return false;
    static_cast<void>(std::snprintf(reason, size, "%s", std::strerror(errno)));
    return true;
  }
  reason[0] = '\0';
  Opening opening{reason, size};
  pappl_device_t* device = papplDeviceOpen(uri, "probe", note_error, &opening);
  if (device != nullptr) {
    papplDeviceClose(device);
    return false;
  }
  if (reason[0] == '\0')
    static_cast<void>(std::snprintf(reason, size, "not found: it may be off or disconnected"));
  return true;
}

void describe_wait(const char* uri, const char* reason, char* message, size_t size) {
  static_cast<void>(std::snprintf(
      message, size, "Waiting for the printer: its device %s cannot be opened (%s)", uri, reason));
}

void watch_devices(pappl_system_t* system) {
  papplSystemAddTimerCallback(system, 0, INTERVAL, look_at_printers, nullptr);
}
