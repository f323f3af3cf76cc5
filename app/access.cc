#include "app/access.h"

#include <dlfcn.h>
#include <errno.h>
#include <grp.h>
#include <pwd.h>
#include <security/pam_appl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "app/media_page.h"
#include "app/printer_pages.h"
#include "app/submissions.h"

namespace {

// What the guard needs while the server runs, fixed before it starts.
struct Guard {
  char auth_service[128];
  bool can_authenticate;
};

Guard guard;

// Answers PAM's prompts with the user name and password of one request.
struct Answers {
  const char* user;
  const char* password;
};

int converse(int count, const struct pam_message** messages, struct pam_response** responses,
             void* data) {
  if (count <= 0) return PAM_CONV_ERR;
  const Answers& answers = *static_cast<const Answers*>(data);
  auto* replies =
      static_cast<pam_response*>(std::calloc(static_cast<size_t>(count), sizeof(pam_response)));
  if (replies == nullptr) return PAM_BUF_ERR;
  for (int i = 0; i < count; ++i) {
    const char* text = nullptr;
    if (messages[i]->msg_style == PAM_PROMPT_ECHO_ON) text = answers.user;
    if (messages[i]->msg_style == PAM_PROMPT_ECHO_OFF) text = answers.password;
    replies[i].resp = text != nullptr ? strdup(text) : nullptr;
  }
  *responses = replies;
  return PAM_SUCCESS;
}

bool pam_accepts(const char* service, const char* user, const char* password,
                 const char* remote_host) {
  Answers answers{user, password};
  const pam_conv conversation{converse, &answers};
  pam_handle_t* handle = nullptr;
  int status = pam_start(service, user, &conversation, &handle);
  if (status == PAM_SUCCESS && remote_host != nullptr) {
    status = pam_set_item(handle, PAM_RHOST, remote_host);
  }
  if (status == PAM_SUCCESS) status = pam_authenticate(handle, PAM_SILENT);
  if (status == PAM_SUCCESS) status = pam_acct_mgmt(handle, PAM_SILENT);
  if (handle != nullptr) pam_end(handle, status);
  return status == PAM_SUCCESS;
}

Credentials client_credentials(pappl_client_t* client, const char* admin_group) {
  const char* header = httpGetField(papplClientGetHTTP(client), HTTP_FIELD_AUTHORIZATION);
  if (header == nullptr || *header == '\0') return Credentials::NONE;
  char user[256];
  char password[256];
  Credentials result = Credentials::WRONG;
  if (!parse_basic_credentials(header, user, sizeof user, password, sizeof password)) {
    papplLogClient(client, PAPPL_LOGLEVEL_INFO, "Credentials that are not Basic, or malformed.");
  } else if (!pam_accepts(guard.auth_service, user, password, papplClientGetHostName(client))) {
    papplLogClient(client, PAPPL_LOGLEVEL_INFO, "Authentication of \"%s\" failed.", user);
  } else if (!is_administrator(user, admin_group)) {
    papplLogClient(client, PAPPL_LOGLEVEL_INFO, "\"%s\" is neither root nor in group \"%s\".", user,
                   admin_group);
    result = Credentials::NOT_ADMINISTRATOR;
  } else {
    papplLogClient(client, PAPPL_LOGLEVEL_INFO, "Authenticated \"%s\" as administrator.", user);
    papplClientSetUsername(client, user);
    result = Credentials::ADMINISTRATOR;
  }
  explicit_bzero(password, sizeof password);
  return result;
}

// Whether the request's requesting-user-name owns the job it names.
bool owns_job(pappl_client_t* client) {
  pappl_job_t* job = papplClientGetJob(client);
  if (job == nullptr) return false;
  ipp_attribute_t* name =
      ippFindAttribute(papplClientGetRequest(client), "requesting-user-name", IPP_TAG_NAME);
  const char* requester = name != nullptr ? ippGetString(name, 0, nullptr) : nullptr;
  const char* owner = papplJobGetUsername(job);
  return requester != nullptr && owner != nullptr && std::strcmp(requester, owner) == 0;
}

// PAPPL asks this for every request that needs authorisation from a TCP
// client: the web pages that change things, and IPP requests.
http_status_t authorize(pappl_client_t* client, const char* /*group*/, gid_t /*group_id*/,
                        void* /*data*/) {
  bool administrative = true;
  if (papplClientGetRequest(client) != nullptr && releases_job_without_document(client)) {
    return HTTP_STATUS_FORBIDDEN;
  }
  if (papplClientGetRequest(client) != nullptr) {
    switch (operation_access(papplClientGetOperation(client))) {
      case Access::OPEN:
        administrative = false;
        break;
      case Access::OWN_JOB:
        administrative = !owns_job(client);
        break;
      case Access::ADMIN:
        break;
    }
  }
  if (!administrative) {
    refuse_unoffered_submission(client);
    return HTTP_STATUS_CONTINUE;
  }
  char admin_group[256] = "";
  papplSystemGetAdminGroup(papplClientGetSystem(client), admin_group, sizeof admin_group);
  const Credentials credentials =
      guard.can_authenticate ? client_credentials(client, admin_group) : Credentials::NONE;
  const http_status_t status = access_decision(true, guard.can_authenticate, credentials);
  if (status == HTTP_STATUS_FORBIDDEN && !guard.can_authenticate) {
    papplLogClient(client, PAPPL_LOGLEVEL_INFO,
                   "Refused: administration over the network needs an auth-service.");
  }
  if (status == HTTP_STATUS_CONTINUE) refuse_unfeedable_ready_media(client);
  return status;
}

// The local socket is made world-writable when it is created; this narrows
// it to its owner and, for root's server, the admin group. Runs once, in the
// server's first turn of its loop.
bool narrow_socket(pappl_system_t* system, void* /*data*/) {
  char path[1024];
  const uid_t uid = getuid();
  const int length =
      uid == 0 ? std::snprintf(path, sizeof path, "/run/%s.sock", program_invocation_short_name)
               : std::snprintf(path, sizeof path, "%s/%s%d.sock", papplGetTempDir(),
                               program_invocation_short_name, static_cast<int>(uid));
  if (length < 0 || static_cast<size_t>(length) >= sizeof path) return false;
  mode_t mode = S_IRWXU;
  if (uid == 0) {
    char name[256] = "";
    papplSystemGetAdminGroup(system, name, sizeof name);
    if (const group* admins = getgrnam(name); admins != nullptr) {
      if (chown(path, static_cast<uid_t>(-1), admins->gr_gid) == 0) mode |= S_IRWXG;
    }
  }
  if (chmod(path, mode) != 0) {
    papplLog(system, PAPPL_LOGLEVEL_ERROR, "Unable to restrict the local socket \"%s\": %s", path,
             std::strerror(errno));
  }
  return false;
}

// PAPPL's page of each printer takes forms that pause, resume, hold and
// release jobs and make the printer the default, and asks nobody's
// authorisation for them. Each printer's page is replaced, once PAPPL has made
// it, by one that asks for an administrator before any form and then lets
// PAPPL's page do the rest.
using PrinterPage = void (*)(pappl_client_t* client, pappl_printer_t* printer);
PrinterPage pappl_printer_page = nullptr;

bool guarded_printer_page(pappl_client_t* client, void* data) {
  if (papplClientGetMethod(client) == HTTP_STATE_POST && !papplClientHTMLAuthorize(client)) {
    return true;
  }
  pappl_printer_page(client, static_cast<pappl_printer_t*>(data));
  return true;
}

}  // namespace

Access operation_access(ipp_op_t op) {
  switch (op) {
    case IPP_OP_PRINT_JOB:
    case IPP_OP_PRINT_URI:
    case IPP_OP_VALIDATE_JOB:
    case IPP_OP_CREATE_JOB:
    case IPP_OP_SEND_DOCUMENT:
    case IPP_OP_SEND_URI:
    case IPP_OP_CLOSE_JOB:
    case IPP_OP_GET_JOB_ATTRIBUTES:
    case IPP_OP_GET_JOBS:
    case IPP_OP_GET_PRINTER_ATTRIBUTES:
    case IPP_OP_GET_PRINTER_SUPPORTED_VALUES:
    case IPP_OP_IDENTIFY_PRINTER:
    case IPP_OP_GET_PRINTERS:
    case IPP_OP_GET_SYSTEM_ATTRIBUTES:
    case IPP_OP_CUPS_GET_DEFAULT:
    case IPP_OP_CUPS_GET_PRINTERS:
    case IPP_OP_CREATE_PRINTER_SUBSCRIPTIONS:
    case IPP_OP_CREATE_JOB_SUBSCRIPTIONS:
    case IPP_OP_CREATE_SYSTEM_SUBSCRIPTIONS:
    case IPP_OP_GET_SUBSCRIPTION_ATTRIBUTES:
    case IPP_OP_GET_SUBSCRIPTIONS:
    case IPP_OP_RENEW_SUBSCRIPTION:
    case IPP_OP_CANCEL_SUBSCRIPTION:
    case IPP_OP_GET_NOTIFICATIONS:
      return Access::OPEN;
    case IPP_OP_CANCEL_JOB:
    case IPP_OP_CANCEL_CURRENT_JOB:
    case IPP_OP_HOLD_JOB:
    case IPP_OP_RELEASE_JOB:
      return Access::OWN_JOB;
    default:
      return Access::ADMIN;
  }
}

http_status_t access_decision(bool administrative, bool can_authenticate, Credentials credentials) {
  if (!administrative) return HTTP_STATUS_CONTINUE;
  if (!can_authenticate) return HTTP_STATUS_FORBIDDEN;
  switch (credentials) {
    case Credentials::ADMINISTRATOR:
      return HTTP_STATUS_CONTINUE;
    case Credentials::NOT_ADMINISTRATOR:
      return HTTP_STATUS_FORBIDDEN;
    case Credentials::NONE:
    case Credentials::WRONG:
      break;
  }
  return HTTP_STATUS_UNAUTHORIZED;
}

bool parse_basic_credentials(const char* header, char* user, size_t user_size, char* password,
                             size_t password_size) {
  if (header == nullptr || strncasecmp(header, "Basic ", 6) != 0) return false;
  header += 6;
  while (*header == ' ') ++header;
  // Every 4 characters of base64 decode to at most 3 bytes.
  char decoded[1024];
  if (std::strlen(header) / 4 * 3 >= sizeof decoded) return false;
  int length = static_cast<int>(sizeof decoded);
  if (httpDecode64_2(decoded, &length, header) == nullptr || length <= 0) return false;
  const auto end = static_cast<size_t>(length);
  decoded[end < sizeof decoded ? end : sizeof decoded - 1] = '\0';
  char* colon = std::strchr(decoded, ':');
  bool fits = false;
  if (colon != nullptr && colon != decoded) {
    *colon = '\0';
    fits = std::strlen(decoded) < user_size && std::strlen(colon + 1) < password_size;
    if (fits) {
      std::strcpy(user, decoded);
      std::strcpy(password, colon + 1);
    }
  }
  explicit_bzero(decoded, sizeof decoded);
  return fits;
}

const char* effective_auth_service(const char* given, uid_t server_uid) {
  if (given == nullptr) return server_uid == 0 ? DEFAULT_AUTH_SERVICE : nullptr;
  if (*given == '\0' || std::strcmp(given, "none") == 0) return nullptr;
  return given;
}

bool is_administrator(const char* user, const char* group_name) {
  char buffer[16384];
  passwd entry{};
  passwd* found = nullptr;
  if (getpwnam_r(user, &entry, buffer, sizeof buffer, &found) != 0 || found == nullptr) {
    return false;
  }
  if (found->pw_uid == 0) return true;
  if (group_name == nullptr || *group_name == '\0') return false;
  char group_buffer[16384];
  group group_entry{};
  group* admins = nullptr;
  if (getgrnam_r(group_name, &group_entry, group_buffer, sizeof group_buffer, &admins) != 0 ||
      admins == nullptr) {
    return false;
  }
  // A user in more groups than there is room for is told how many there are.
  std::vector<gid_t> groups(64);
  int count = static_cast<int>(groups.size());
  while (getgrouplist(user, found->pw_gid, groups.data(), &count) < 0) {
    if (count <= static_cast<int>(groups.size())) return false;
    groups.resize(static_cast<size_t>(count));
  }
  const auto end = groups.begin() + count;
  return std::find(groups.begin(), end, admins->gr_gid) != end;
}

void guard_administration(pappl_system_t* system, const char* auth_service,
                          const char* admin_group) {
  const char* service = effective_auth_service(auth_service, getuid());
  const int length = std::snprintf(guard.auth_service, sizeof guard.auth_service, "%s",
                                   service != nullptr ? service : "");
  guard.can_authenticate =
      service != nullptr && static_cast<size_t>(length) < sizeof guard.auth_service;
  if (service != nullptr && !guard.can_authenticate) {
    papplLog(system, PAPPL_LOGLEVEL_ERROR,
             "The auth-service name is too long; administration over TCP is refused.");
  }
  if (getuid() == 0) {
    // TLS, which the network needs before any password, keeps root's
    // certificate there; libcups does not make the folder where CUPS itself
    // is not installed.
    if (mkdir("/etc/cups", 0755) != 0 && errno != EEXIST) {
      papplLog(system, PAPPL_LOGLEVEL_ERROR, "Unable to create /etc/cups: %s",
               std::strerror(errno));
    }
    if (mkdir("/etc/cups/ssl", 0700) != 0 && errno != EEXIST) {
      papplLog(system, PAPPL_LOGLEVEL_ERROR, "Unable to create /etc/cups/ssl: %s",
               std::strerror(errno));
    }
  }
  papplSystemSetAdminGroup(system, admin_group != nullptr ? admin_group : DEFAULT_ADMIN_GROUP);
  papplSystemSetAuthCallback(system, "Basic", authorize, nullptr);
  papplSystemAddTimerCallback(system, 1, 0, narrow_socket, nullptr);
  pappl_printer_page = reinterpret_cast<PrinterPage>(dlsym(RTLD_DEFAULT, "_papplPrinterWebHome"));
  if (pappl_printer_page != nullptr) {
    replace_printer_pages(system, nullptr, guarded_printer_page);
  } else {
    papplLog(system, PAPPL_LOGLEVEL_WARN,
             "This PAPPL has no printer page to guard: its forms stay open to all.");
  }
}
