// The Printer Application's one driver: its capabilities made from the paper
// tables, and the test page.

#ifndef RAVO_APP_DRIVER_H_
#define RAVO_APP_DRIVER_H_

#include <pappl/pappl.h>

#include <cstdio>

inline constexpr char DRIVER_NAME[] = "marven_jetto_412_519";
inline constexpr char DRIVER_DESCRIPTION[] = "Marven Jetto 412_519";

// The one driver, as PAPPL lists drivers.
extern pappl_pr_driver_t drivers[1];

// The driver for an IEEE 1284 device ID, or null: MFG must be Marven and
// MDL must contain "Jetto 412_519".
const char* autoadd_driver(const char* device_info, const char* device_uri, const char* device_id,
                           void* data);

// Fills the driver data and attributes of a new printer.
bool setup_driver(pappl_system_t* system, const char* driver_name, const char* device_uri,
                  const char* device_id, pappl_pr_driver_data_t* data, ipp_t** attrs,
                  void* context);

// Writes `text` to `out` as a PostScript string, for the test page: in
// parentheses, with the parentheses and backslashes in it escaped.
void put_ps_string(FILE* out, const char* text);

#endif  // RAVO_APP_DRIVER_H_
