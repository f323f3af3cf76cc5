#include "app/server.h"

#include <pappl/pappl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "app/access.h"
#include "app/driver.h"
#include "app/face.h"
#include "app/jobs.h"
#include "app/media_page.h"

#ifndef RAVO_VERSION
#define RAVO_VERSION "0"
#endif

namespace {

constexpr char FOOTER[] =
    "ravo-printer-app " RAVO_VERSION ": driverless printing for the Marven Jetto 412_519";

const char* option(int count, cups_option_t* options, const char* name) {
  return cupsGetOption(name, count, options);
}

pappl_loglevel_t log_level(const char* name) {
  if (name == nullptr) return PAPPL_LOGLEVEL_UNSPEC;
  constexpr const char* LEVELS[] = {"debug", "info", "warn", "error", "fatal"};
  for (int level = 0; level < 5; ++level) {
    if (std::strcmp(name, LEVELS[level]) == 0) return static_cast<pappl_loglevel_t>(level);
  }
  return PAPPL_LOGLEVEL_UNSPEC;
}

// The server's system object, from the standard server options.
pappl_system_t* create_system(int count, cups_option_t* options, void* /*data*/) {
  const char* port_text = option(count, options, "server-port");
  const long port = port_text != nullptr ? std::strtol(port_text, nullptr, 10) : 0;
  pappl_system_t* system = papplSystemCreate(
      PAPPL_SOPTIONS_MULTI_QUEUE | PAPPL_SOPTIONS_WEB_INTERFACE | PAPPL_SOPTIONS_WEB_LOG,
      "ravo Printer Application", static_cast<int>(port), "_print,_universal",
      option(count, options, "spool-directory"), option(count, options, "log-file"),
      log_level(option(count, options, "log-level")),
      effective_auth_service(option(count, options, "auth-service"), getuid()), false);
  if (system == nullptr) return nullptr;
  papplSystemAddListeners(system, option(count, options, "listen-hostname"));
  if (const char* hostname = option(count, options, "server-hostname")) {
    papplSystemSetHostName(system, hostname);
  }
  if (const char* limit = option(count, options, "job-time-limit")) {
    const long seconds = std::strtol(limit, nullptr, 10);
    set_job_time_limit(seconds > 0 && seconds <= INT32_MAX ? static_cast<int>(seconds) : 0);
  }
  guard_administration(system, option(count, options, "auth-service"),
                       option(count, options, "admin-group"));
  install_media_page(system);
  papplSystemSetFooterHTML(system, FOOTER);
  papplSystemSetPrinterDrivers(system, 1, drivers, autoadd_driver, nullptr, setup_driver, nullptr);
  papplSystemAddMIMEFilter(system, "application/pdf", "image/pwg-raster", print_document, nullptr);
  papplSystemAddMIMEFilter(system, "application/postscript", "image/pwg-raster", print_document,
                           nullptr);
  // Before PAPPL's own image filters, which go on reading a broken image.
  papplSystemAddMIMEFilter(system, "image/jpeg", "application/octet-stream", print_document,
                           nullptr);
  papplSystemAddMIMEFilter(system, "image/png", "application/octet-stream", print_document,
                           nullptr);
  dress_system(system, count, options);
  return system;
}

}  // namespace

int run_printer_app(int argc, char** argv) {
  return papplMainloop(argc, argv, RAVO_VERSION, FOOTER, 1, drivers, autoadd_driver, setup_driver,
                       nullptr, nullptr, create_system, print_usage, nullptr);
}
