#include "app/server.h"

#include <dlfcn.h>
#include <netdb.h>
#include <netinet/in.h>
#include <pappl/pappl.h>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "app/access.h"
#include "app/deletion.h"
#include "app/device_watch.h"
#include "app/driver.h"
#include "app/face.h"
#include "app/job_watch.h"
#include "app/jobs.h"
#include "app/media_page.h"
#include "app/watchdog.h"

#ifndef RAVO_VERSION
#define RAVO_VERSION "0"
#endif

namespace {

constexpr size_t THREAD_STACK = size_t{64} << 20;

constexpr char FOOTER[] =
    "ravo-printer-app " RAVO_VERSION ": driverless printing for the Marven Jetto 412_519";

const char* option(int count, cups_option_t* options, const char* name) {
  return cupsGetOption(name, count, options);
}

pappl_loglevel_t log_level(const char* name) {
  if (name == nullptr) return PAPPL_LOGLEVEL_UNSPEC;
  constexpr const char* LEVELS[] = {"debug", "info", "warn", "error", "fatal"};
  for (int level = 0; level < 5; ++level) {
    if (std::strcmp(name, LEVELS[level]) == 0) return static_cast<pappl_loglevel_t>(level);
  }
  return PAPPL_LOGLEVEL_UNSPEC;
}

// The program's name, which names its state file.
const char* program_name = "ravo-printer-app";
char state_file[1024];

// Where PAPPL's main loop would keep the state for this user: the same file,
// so that the printers of a server that ran before are kept.
void find_state_file(char* name, size_t size) {
  const char* home = std::getenv("HOME");
  const char* config_home = std::getenv("XDG_CONFIG_HOME");
  name[0] = '\0';
  if (getuid() == 0) {
    if (mkdir("/var/lib", 0755) == 0 || errno == EEXIST) {
      static_cast<void>(std::snprintf(name, size, "/var/lib/%s.state", program_name));
    }
  } else if (config_home != nullptr) {
    if (access(config_home, X_OK) == 0) {
      static_cast<void>(std::snprintf(name, size, "%s/%s.state", config_home, program_name));
    }
  } else if (home != nullptr) {
    const int length = std::snprintf(name, size, "%s/.config", home);
    const auto used = static_cast<size_t>(length);
    if (length > 0 && used < size && (mkdir(name, 0777) == 0 || errno == EEXIST)) {
      static_cast<void>(std::snprintf(name + used, size - used, "/%s.state", program_name));
    } else {
      name[0] = '\0';
    }
  }
  if (name[0] == '\0') {
    static_cast<void>(std::snprintf(name, size, "%s/%s%d.state", papplGetTempDir(), program_name,
                                    static_cast<int>(getuid())));
  }
}

// The local socket that PAPPL's main loop listens on, which the watchdog
// probes.
void find_local_socket(char* name, size_t size) {
  const auto user = static_cast<int>(getuid());
  if (user == 0) {
    static_cast<void>(std::snprintf(name, size, "/run/%s.sock", program_name));
  } else {
    static_cast<void>(
        std::snprintf(name, size, "%s/%s%d.sock", papplGetTempDir(), program_name, user));
  }
}

// One save: the printers' ids, and how far down them the locks are held.
struct Save {
  pappl_system_t* system;
  const char* file;
  std::vector<int> printer_ids;
  bool saved;
};

struct Holding {
  Save* save;
  size_t index;
  bool entered;
};

void hold_printers_from(Save& save, size_t index);

// Called with the printer's lock held, for its first job only.
void holding_printer(pappl_job_t* /*job*/, void* data) {
  auto& holding = *static_cast<Holding*>(data);
  holding.entered = true;
  hold_printers_from(*holding.save, holding.index + 1);
}

// Takes the lock of each printer from `index` on, nested, then saves. PAPPL
// holds a printer's lock while it hands out its first job; a printer with no
// job has none that a client could be aborting, and is passed by.
void hold_printers_from(Save& save, size_t index) {
  if (index == save.printer_ids.size()) {
    save.saved = papplSystemSaveState(save.system, save.file);
    return;
  }
  pappl_printer_t* printer =
      papplSystemFindPrinter(save.system, nullptr, save.printer_ids[index], nullptr);
  Holding holding{&save, index, false};
  if (printer != nullptr) papplPrinterIterateAllJobs(printer, holding_printer, &holding, 1, 1);
  if (!holding.entered) hold_printers_from(save, index + 1);
}

void note_printer(pappl_printer_t* printer, void* data) {
  static_cast<std::vector<int>*>(data)->push_back(papplPrinterGetID(printer));
}

// PAPPL 1.3.1 saves its state holding the system's lock while it waits for
// each printer's; a client thread that aborts a streamed raster job holds the
// printer's lock while it waits for the system's, and the two would wait for
// each other for ever. So the state is saved only while this thread already
// holds every busy printer's lock, taken before the system's as the client
// threads take them.
bool save_state(pappl_system_t* system, void* data) {
  Save save{system, static_cast<const char*>(data), {}, false};
  papplSystemIteratePrinters(system, note_printer, &save.printer_ids);
  hold_printers_from(save, 0);
  return save.saved;
}

}  // namespace

int job_time_limit_from(const char* text) {
  const long seconds = std::strtol(text, nullptr, 10);
  return seconds > 0 && seconds <= INT32_MAX ? static_cast<int>(seconds) : 0;
}

// A job that was printing when the server was killed is loaded from the state
// as printing, with nothing to print it, for good: it is queued again instead,
// to print from the start.
void requeue_interrupted_jobs(const char* file) {
  FILE* in = std::fopen(file, "r");
  if (in == nullptr) return;
  std::string text;
  char buffer[4096];
  for (size_t got = 0; (got = std::fread(buffer, 1, sizeof buffer, in)) > 0;)
    text.append(buffer, got);
  static_cast<void>(std::fclose(in));
  bool changed = false;
  for (size_t line = 0; line < text.size();) {
    size_t end = text.find('\n', line);
    if (end == std::string::npos) end = text.size();
    if (text.compare(line, 4, "Job ") == 0) {
      // PAPPL writes each value in double quotes.
      constexpr std::string_view PRINTING = " state=\"5\"";
      const size_t state = text.find(PRINTING, line);
      const size_t after = state + PRINTING.size();
      if (state < end && (after == end || text[after] == ' ')) {
        text[after - 2] = '3';
        changed = true;
      }
    }
    line = end + 1;
  }
  if (!changed) return;
  const std::string temporary = std::string(file) + ".requeued";
  FILE* out = std::fopen(temporary.c_str(), "w");
  if (out == nullptr) return;
  const bool written = std::fwrite(text.data(), 1, text.size(), out) == text.size();
  if (std::fclose(out) == 0 && written) {
    static_cast<void>(std::rename(temporary.c_str(), file));
  } else {
    static_cast<void>(std::remove(temporary.c_str()));
  }
}

namespace {

// Jobs loaded from the state wait for a new job to start them; they are
// started as soon as the server runs, unless their printer was stopped.
void start_loaded_jobs(pappl_printer_t* printer, void* /*data*/) {
  if (papplPrinterGetNumberOfActiveJobs(printer) > 0 &&
      papplPrinterGetState(printer) != IPP_PSTATE_STOPPED) {
    papplPrinterResume(printer);
  }
}

bool start_loaded_jobs_once(pappl_system_t* system, void* /*data*/) {
  papplSystemIteratePrinters(system, start_loaded_jobs, nullptr);
  return false;
}

// The system whose loop has run; see papplSystemDelete below.
std::atomic<pappl_system_t*> served_system{nullptr};

bool note_served(pappl_system_t* system, void* /*data*/) {
  served_system = system;
  return false;
}

// PAPPL 1.3.1 aborts a streamed raster job that arrives while another job
// prints, and its abort takes the system's lock while holding the printer's,
// against the order of the main loop, which holds the system's while it
// cleans out old jobs: the whole server then froze. A printer that holds one
// job at a time answers such a job busy before it exists, and the client
// sends it again; nothing is aborted. PAPPL announces a new printer while it
// holds the printer's lock, so the limit is set from a thread of its own.
void on_event(pappl_system_t* /*system*/, pappl_printer_t* printer, pappl_job_t* /*job*/,
              pappl_event_t event, void* /*data*/) {
  if ((event & PAPPL_EVENT_PRINTER_CREATED) != 0 && printer != nullptr) {
    std::thread([printer] { papplPrinterSetMaxActiveJobs(printer, 1); }).detach();
  }
}

// Whether the server can listen on every address of `host` (every address
// when it is null or "*") at `port`; if not, says which address cannot and
// why on standard error. PAPPL would go on with whichever addresses it could
// bind, or none, and say so only in its log.
bool can_listen(const char* host, long port) {
  if (host != nullptr && host[0] == '/') return true;  // a local socket
  if (host != nullptr && (std::strcmp(host, "*") == 0 || host[0] == '\0')) host = nullptr;
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE;
  char service[16];
  static_cast<void>(std::snprintf(service, sizeof service, "%ld", port));
  addrinfo* addresses = nullptr;
  const int looked_up = getaddrinfo(host, service, &hints, &addresses);
  if (looked_up != 0) {
    static_cast<void>(std::fprintf(stderr, "%s: cannot listen on %s port %ld: %s\n", program_name,
                                   host != nullptr ? host : "*", port, gai_strerror(looked_up)));
    return false;
  }
  bool all = true;
  for (const addrinfo* address = addresses; address != nullptr; address = address->ai_next) {
    const int fd = socket(address->ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) continue;  // a family this machine lacks
    const int on = 1;
    static_cast<void>(setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on));
    if (address->ai_family == AF_INET6) {
      static_cast<void>(setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on));
    }
    if (bind(fd, address->ai_addr, address->ai_addrlen) != 0 &&
        !(errno == EADDRNOTAVAIL && address->ai_family == AF_INET6)) {
      const int error = errno;
      char name[NI_MAXHOST] = "?";
      static_cast<void>(getnameinfo(address->ai_addr, address->ai_addrlen, name, sizeof name,
                                    nullptr, 0, NI_NUMERICHOST));
      static_cast<void>(std::fprintf(stderr, "%s: cannot listen on %s port %ld: %s\n", program_name,
                                     name, port, std::strerror(error)));
      all = false;
    }
    close(fd);
  }
  freeaddrinfo(addresses);
  return all;
}

// PAPPL registers its device schemes when a device is first listed or
// opened, and keeps the first registration of each scheme.
extern "C" {
void _papplDeviceAddFileScheme();  // NOLINT(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
void _papplDeviceAddNetworkSchemes();  // NOLINT(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
void _papplDeviceAddUSBScheme();  // NOLINT(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
}

constexpr char NO_DNSSD[] = "DNS-SD is unavailable: no DNS-SD daemon is running";

// Whether the DNS-SD daemon answers on its socket.
bool dnssd_daemon_running() {
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  static_cast<void>(
      std::snprintf(address.sun_path, sizeof address.sun_path, "%s", "/run/avahi-daemon/socket"));
  // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast)
  const bool running =
      connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return running;
}

bool list_no_dnssd(pappl_device_cb_t /*cb*/, void* /*data*/, pappl_deverror_cb_t error,
                   void* error_data) {
  if (error != nullptr) error(NO_DNSSD, error_data);
  return false;
}

bool open_no_dnssd(pappl_device_t* device, const char* /*uri*/, const char* /*name*/) {
  papplDeviceError(device, "%s.", NO_DNSSD);
  return false;
}

void close_no_dnssd(pappl_device_t* /*device*/) {}

ssize_t read_no_dnssd(pappl_device_t* /*device*/, void* /*buffer*/, size_t /*bytes*/) { return -1; }

ssize_t write_no_dnssd(pappl_device_t* /*device*/, const void* /*buffer*/, size_t /*bytes*/) {
  return -1;
}

pappl_preason_t status_no_dnssd(pappl_device_t* /*device*/) { return PAPPL_PREASON_OFFLINE; }

// With no DNS-SD daemon, PAPPL 1.3.1 has no DNS-SD client, and listing
// DNS-SD devices aborts the program in the DNS-SD library. Then the dnssd
// scheme is one that says DNS-SD is unavailable, registered before PAPPL's
// own schemes; the others are PAPPL's.
void register_device_schemes() {
  if (!dnssd_daemon_running()) {
    papplDeviceAddScheme("dnssd", PAPPL_DEVTYPE_DNS_SD, list_no_dnssd, open_no_dnssd,
                         close_no_dnssd, read_no_dnssd, write_no_dnssd, status_no_dnssd, nullptr);
  }
  _papplDeviceAddFileScheme();
  _papplDeviceAddNetworkSchemes();
  _papplDeviceAddUSBScheme();
}

// The server's system object, from the standard server options.
pappl_system_t* create_system(int count, cups_option_t* options, void* /*data*/) {
  const char* port_text = option(count, options, "server-port");
  const long port = port_text != nullptr ? std::strtol(port_text, nullptr, 10) : 0;
  if (port != 0 && !can_listen(option(count, options, "listen-hostname"), port)) return nullptr;
  pappl_system_t* system = papplSystemCreate(
      PAPPL_SOPTIONS_MULTI_QUEUE | PAPPL_SOPTIONS_WEB_INTERFACE | PAPPL_SOPTIONS_WEB_LOG,
      "ravo Printer Application", static_cast<int>(port), "_print,_universal",
      option(count, options, "spool-directory"), option(count, options, "log-file"),
      log_level(option(count, options, "log-level")),
      effective_auth_service(option(count, options, "auth-service"), getuid()), false);
  if (system == nullptr) return nullptr;
  papplSystemAddListeners(system, option(count, options, "listen-hostname"));
  if (const char* hostname = option(count, options, "server-hostname")) {
    papplSystemSetHostName(system, hostname);
  }
  if (const char* limit = option(count, options, "job-time-limit")) {
    set_job_time_limit(job_time_limit_from(limit));
  }
  guard_administration(system, option(count, options, "auth-service"),
                       option(count, options, "admin-group"));
  install_media_page(system);
  watch_devices(system);
  watch_jobs(system);
  papplSystemSetFooterHTML(system, FOOTER);
  papplSystemSetPrinterDrivers(system, 1, drivers, autoadd_driver, nullptr, setup_driver, nullptr);
  papplSystemAddMIMEFilter(system, "application/pdf", "image/pwg-raster", print_document, nullptr);
  papplSystemAddMIMEFilter(system, "application/postscript", "image/pwg-raster", print_document,
                           nullptr);
  // Before PAPPL's own image filters, which go on reading a broken image.
  papplSystemAddMIMEFilter(system, "image/jpeg", "application/octet-stream", print_document,
                           nullptr);
  papplSystemAddMIMEFilter(system, "image/png", "application/octet-stream", print_document,
                           nullptr);
  papplSystemSetEventCallback(system, on_event, nullptr);
  papplSystemSetOperationCallback(system, delete_printer_by_uri, nullptr);
  if (const char* file = option(count, options, "state-file")) {
    papplCopyString(state_file, file, sizeof state_file);
  } else {
    find_state_file(state_file, sizeof state_file);
  }
  requeue_interrupted_jobs(state_file);
  papplSystemLoadState(system, state_file);
  papplSystemAddTimerCallback(system, time(nullptr), 0, start_loaded_jobs_once, nullptr);
  papplSystemAddTimerCallback(system, 0, 0, note_served, nullptr);
  papplSystemSetSaveCallback(system, save_state, state_file);
  char local_socket[1024];
  find_local_socket(local_socket, sizeof local_socket);
  start_watchdog(local_socket);
  dress_system(system);
  return system;
}

}  // namespace

// PAPPL 1.3.1 deletes the system the moment its loop stops, while the
// threads of clients that connected in the loop's last moments, which it
// does not wait for, go on reading the system: a status poll or a web page
// in the last second of a shutdown made the server crash on its way out.
// The served system is then kept for the moments left to the process; PAPPL
// deletes every other one. PAPPL's own calls come here through its
// procedure linkage table.
extern "C" void papplSystemDelete(pappl_system_t* system) {
  if (system == served_system.load()) return;
  using delete_system = void (*)(pappl_system_t*);
  static const auto pappl_delete =
      reinterpret_cast<delete_system>(dlsym(RTLD_NEXT, "papplSystemDelete"));
  if (pappl_delete != nullptr) pappl_delete(system);
}

int run_printer_app(int argc, char** argv) {
  // libcups reads each nested collection of a request by recursion, on the
  // stack of the client's thread; the stacks of PAPPL's threads are made
  // large enough for any request short of several megabytes.
  register_device_schemes();
  pthread_attr_t threads;
  if (pthread_attr_init(&threads) == 0) {
    if (pthread_attr_setstacksize(&threads, THREAD_STACK) == 0) {
      static_cast<void>(pthread_setattr_default_np(&threads));
    }
    pthread_attr_destroy(&threads);
  }
  if (argc > 0) {
    const char* slash = std::strrchr(argv[0], '/');
    program_name = slash != nullptr ? slash + 1 : argv[0];
  }
  char local_socket[1024];
  find_local_socket(local_socket, sizeof local_socket);
  if (int status = 0; run_delete_command(argc, argv, local_socket, &status)) return status;
  return papplMainloop(argc, argv, RAVO_VERSION, FOOTER, 1, drivers, autoadd_driver, setup_driver,
                       nullptr, nullptr, create_system, print_usage, nullptr);
}
