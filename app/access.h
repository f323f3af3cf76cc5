// Who may do what on the Printer Application's server. Printing, reading
// status and cancelling one's own jobs are open to every client. Everything
// that adds, deletes, pauses, changes or reconfigures a printer or the system,
// by IPP or through a web page, needs an administrator: root or a member of
// the admin group (lpadmin unless told otherwise), proven by a user name and
// password that PAM accepts. Where no PAM service is configured, nobody can
// prove it over TCP, loopback included, and such requests are refused. The
// local socket that the sub-commands use is left to the file system: only
// root, the server's own user and, for root's server, the admin group may
// open it. Each printer's web page, whose buttons PAPPL leaves open, is
// replaced by one that asks for an administrator first.

#ifndef RAVO_APP_ACCESS_H_
#define RAVO_APP_ACCESS_H_

#include <pappl/pappl.h>
#include <sys/types.h>

#include <cstddef>

// The PAM service that root's server uses unless told otherwise; the package
// installs /etc/pam.d/ravo-printer-app.
inline constexpr char DEFAULT_AUTH_SERVICE[] = "ravo-printer-app";
inline constexpr char DEFAULT_ADMIN_GROUP[] = "lpadmin";

enum class Access {
  OPEN,     // printing and status
  OWN_JOB,  // open to the job's owner, else administration
  ADMIN,
};

// What an IPP operation needs. Operations not known here need an administrator.
Access operation_access(ipp_op_t op);

enum class Credentials {
  NONE,               // no Authorization header
  WRONG,              // malformed, or refused by PAM
  NOT_ADMINISTRATOR,  // a real user, but neither root nor in the admin group
  ADMINISTRATOR,
};

// The HTTP status for a request: HTTP_STATUS_CONTINUE lets it through.
// `can_authenticate` says whether a PAM service is configured.
http_status_t access_decision(bool administrative, bool can_authenticate, Credentials credentials);

// Splits an Authorization header's "Basic" credentials into user and
// password. False when the header is not Basic, does not decode, has no
// colon, or does not fit.
bool parse_basic_credentials(const char* header, char* user, size_t user_size, char* password,
                             size_t password_size);

// The PAM service to use: `given` unless it is null or "none" (then none, or
// the default for root when `given` is null).
const char* effective_auth_service(const char* given, uid_t server_uid);

// Whether the user is root or a member of `group` (primary or supplementary).
bool is_administrator(const char* user, const char* group);

// Installs the guard on the system: the authorisation callback, the admin
// group (DEFAULT_ADMIN_GROUP when `admin_group` is null), the narrowing of
// the local socket's permissions once the server runs, and the guarded
// printer pages. `auth_service` is the
// "auth-service" option as given. Call it from the system callback.
void guard_administration(pappl_system_t* system, const char* auth_service,
                          const char* admin_group);

#endif  // RAVO_APP_ACCESS_H_
