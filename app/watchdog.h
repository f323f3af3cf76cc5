// The server's side of systemd's notify protocol, spoken directly: READY=1
// once the server first answers, and WATCHDOG=1 only while it goes on
// answering. A thread asks the server for its home page over its local
// socket; the page takes the system's and the printers' locks, so a server
// frozen on them stops the pings, and systemd ends and restarts it.

#ifndef RAVO_APP_WATCHDOG_H_
#define RAVO_APP_WATCHDOG_H_

#include <sys/socket.h>
#include <sys/un.h>

#include <cstddef>

// The pinging interval in microseconds from WATCHDOG_USEC and WATCHDOG_PID:
// half the watchdog's time, or 0 when there is no watchdog for process `pid`.
long long watchdog_interval(const char* usec, const char* for_pid, long pid);

// The address of NOTIFY_SOCKET: a path, or an abstract name after '@'.
// False when it is missing, relative or too long.
bool notify_address(const char* name, sockaddr_un* address, socklen_t* length);

// Whether `response` starts with an HTTP status line of a server that works
// (any status below 500).
bool answered(const char* response, size_t length);

// Sends `message` to NOTIFY_SOCKET; false when there is none or it fails.
bool notify_service_manager(const char* message);

// Starts the watchdog thread when systemd asked for notifications: it probes
// the server at `probe_path`, a local socket, and notifies as above.
void start_watchdog(const char* probe_path);

#endif  // RAVO_APP_WATCHDOG_H_
