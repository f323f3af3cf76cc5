// The Printer Application's server: the system object made from the standard
// server options, its state saved without freezing the server, and the main
// loop that runs the program's sub-commands.

#ifndef RAVO_APP_SERVER_H_
#define RAVO_APP_SERVER_H_

// Runs papplMainloop with the driver: the program's whole work.
int run_printer_app(int argc, char** argv);

#endif  // RAVO_APP_SERVER_H_
