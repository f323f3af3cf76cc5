// Deleting a printer by its URI. PAPPL 1.3.1's `delete` command finds the
// printer by its printer-id, and a printer added while the server runs
// reports printer-id 0 until the server restarts, so it could not be
// deleted. The command here names the printer by its printer-uri instead,
// and the server takes a Delete-Printer so addressed.

#ifndef RAVO_APP_DELETION_H_
#define RAVO_APP_DELETION_H_

#include <pappl/pappl.h>

// The server's side, an operation callback: deletes the printer a
// Delete-Printer request's printer-uri names, once PAPPL says the client may
// administer. A printer with active jobs is not deleted
// (server-error-busy). Returns false for every other request.
bool delete_printer_by_uri(pappl_client_t* client, void* data);

// The `delete -d NAME` command, run against the server listening on the
// local socket `socket`: true, with the exit status in `*status`, when it
// ran. False, with nothing done, for other arguments, or when no server
// answers there: PAPPL's own command, which starts a server, does then.
bool run_delete_command(int argc, char** argv, const char* socket, int* status);

#endif  // RAVO_APP_DELETION_H_
