// Puts pages of the app's own in place of PAPPL's for every printer. PAPPL
// makes a printer's pages when it makes the printer and keeps the first page
// made for a path, so a timer looks once a second for printers whose page is
// not yet the app's; timers run under the system's lock, which replacing a
// page takes, so a short thread of its own replaces it.

#ifndef RAVO_APP_PRINTER_PAGES_H_
#define RAVO_APP_PRINTER_PAGES_H_

#include <pappl/pappl.h>

#include <vector>

// Serves `page` at each printer's path with `suffix` ("media"), or at its
// home page ("/NAME/") when `suffix` is null, handing it the printer.
void replace_printer_pages(pappl_system_t* system, const char* suffix, pappl_resource_cb_t page);

// The system's printers as they are now. Taken under the system's lock and
// used after it, so that the printers' own locks may be taken.
std::vector<pappl_printer_t*> system_printers(pappl_system_t* system);

#endif  // RAVO_APP_PRINTER_PAGES_H_
