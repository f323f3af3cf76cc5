// What makes the Printer Application look like itself: its own icons for the
// printer and the web pages, its name in the pages' header, its usage text,
// and the homes of its state, which it makes when they are missing rather
// than let PAPPL fall back to the temporary directory.

#ifndef RAVO_APP_FACE_H_
#define RAVO_APP_FACE_H_

#include <pappl/pappl.h>

// papplMainloop's usage callback: prints the usage text on standard output.
void print_usage(void* data);

// Before papplMainloop: makes $XDG_CONFIG_HOME when it is set but missing.
void prepare_state_home();

// In the system callback: the pages' icons and header.
void dress_system(pappl_system_t* system);

// In the driver callback: the printer's icons.
void set_printer_icons(pappl_pr_driver_data_t* data);

#endif  // RAVO_APP_FACE_H_
