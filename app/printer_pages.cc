#include "app/printer_pages.h"

#include <pthread.h>

#include <string>
#include <vector>

namespace {

struct PrinterPath {
  pappl_printer_t* printer;
  int id;
  std::string path;
};

// One kind of page replaced, and the printers whose page is already the
// app's, as the timer last saw them. Only the main loop's thread touches it.
struct Replacement {
  const char* suffix;
  pappl_resource_cb_t page;
  std::vector<PrinterPath> replaced;
};

struct Job {
  pappl_system_t* system;
  PrinterPath printer;
  pappl_resource_cb_t page;
};

void* replace_page(void* data) {
  const auto* job = static_cast<const Job*>(data);
  papplSystemRemoveResource(job->system, job->printer.path.c_str());
  papplSystemAddResourceCallback(job->system, job->printer.path.c_str(), "text/html", job->page,
                                 job->printer.printer);
  delete job;
  return nullptr;
}

// Each printer with the path of its page.
std::vector<PrinterPath> printer_paths(pappl_system_t* system, const char* suffix) {
  std::vector<PrinterPath> paths;
  for (pappl_printer_t* printer : system_printers(system)) {
    char path[256];
    papplPrinterGetPath(printer, suffix, path, sizeof path);
    std::string full = path;
    if (suffix == nullptr) full += "/";
    paths.push_back({printer, papplPrinterGetID(printer), full});
  }
  return paths;
}

bool replace_new_pages(pappl_system_t* system, void* data) {
  auto* replacement = static_cast<Replacement*>(data);
  std::vector<PrinterPath> printers = printer_paths(system, replacement->suffix);
  for (PrinterPath& printer : printers) {
    bool done = false;
    for (const PrinterPath& seen : replacement->replaced) {
      done = done || (seen.printer == printer.printer && seen.id == printer.id &&
                      seen.path == printer.path);
    }
    if (done) continue;
    auto* job = new Job{system, printer, replacement->page};
    pthread_t thread;
    if (pthread_create(&thread, nullptr, replace_page, job) != 0) {
      delete job;
      printer.printer = nullptr;  // try again next time
      continue;
    }
    pthread_detach(thread);
  }
  replacement->replaced = std::move(printers);
  return true;
}

}  // namespace

std::vector<pappl_printer_t*> system_printers(pappl_system_t* system) {
  std::vector<pappl_printer_t*> printers;
  papplSystemIteratePrinters(
      system,
      [](pappl_printer_t* printer, void* data) {
        static_cast<std::vector<pappl_printer_t*>*>(data)->push_back(printer);
      },
      &printers);
  return printers;
}

void replace_printer_pages(pappl_system_t* system, const char* suffix, pappl_resource_cb_t page) {
  // Lives as long as the program, as the timer does.
  auto* replacement = new Replacement{suffix, page, {}};
  papplSystemAddTimerCallback(system, 0, 1, replace_new_pages, replacement);
}
