// Says why a printer waits. When PAPPL 1.3.1 cannot open a printer's device
// it stops the printer and tries again every five seconds, leaving the job
// "printing" with nothing said. A timer looks for such printers, finds out
// why the device does not open, and puts the device and the reason in the
// waiting job's job-state-message, with "offline" among the printer's
// reasons until the device opens again.

#ifndef RAVO_APP_DEVICE_WATCH_H_
#define RAVO_APP_DEVICE_WATCH_H_

#include <pappl/pappl.h>

#include <cstddef>

// Why the device `uri` cannot be opened, in `reason`, or false when it
// opens. A file: device is looked at without making a file there.
bool device_unopenable(const char* uri, char* reason, size_t size);

// The message of a job waiting for the device `uri`.
void describe_wait(const char* uri, const char* reason, char* message, size_t size);

// Starts the timer. Call it from the system callback.
void watch_devices(pappl_system_t* system);

#endif  // RAVO_APP_DEVICE_WATCH_H_
