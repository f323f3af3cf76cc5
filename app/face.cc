#include "app/face.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

// The icons of packaging/icons, built in by CMake.
extern const unsigned char ICON_48[];
extern const size_t ICON_48_SIZE;
extern const unsigned char ICON_128[];
extern const size_t ICON_128_SIZE;
extern const unsigned char ICON_512[];
extern const size_t ICON_512_SIZE;

namespace {

constexpr char APP_NAME[] = "ravo Printer Application";

constexpr char USAGE[] =
    "Usage: ravo-printer-app SUB-COMMAND [OPTIONS] [FILE]\n"
    "Serves the Marven Jetto 412_519 over IPP, with a web page, to CUPS and every\n"
    "IPP Everywhere client.\n"
    "\n"
    "Sub-commands:\n"
    "  server           run the server in the foreground\n"
    "  add              add a printer: -d NAME -m marven_jetto_412_519 -v DEVICE-URI\n"
    "  autoadd          add every connected Marven Jetto 412_519\n"
    "  submit           print FILE: -d NAME [-n COPIES] [-o NAME=VALUE]\n"
    "  printers, jobs, status, devices, drivers, options    list them\n"
    "  modify, delete, default, cancel, pause, resume       change them\n"
    "  shutdown         stop the running server\n"
    "The sub-commands other than server talk to the server through its local\n"
    "socket, and start one in the background when none runs.\n"
    "\n"
    "Options:\n"
    "  -d NAME          the printer\n"
    "  -j JOB-ID        the job (cancel); -a all jobs\n"
    "  -m DRIVER        the driver: marven_jetto_412_519\n"
    "  -n COPIES        copies (submit)\n"
    "  -u URI           talk to the ipp: or ipps: server at URI instead\n"
    "  -v DEVICE-URI    where the printer is: usb://..., socket://HOST:9100, or\n"
    "                   file:///DIRECTORY?ext=png, which writes each job's PNG\n"
    "                   images to a file of its own in DIRECTORY, to see exactly\n"
    "                   what the printer would get (DIRECTORY must exist)\n"
    "  -o NAME=VALUE    a job or printer attribute, or for server:\n"
    "     server-port=PORT          the TCP port; by default the first free one\n"
    "                               from 8000 + user ID modulo 1000 (8000 for root)\n"
    "     listen-hostname=NAME      listen on NAME only, e.g. localhost\n"
    "     spool-directory=DIR       keep job files in DIR\n"
    "     state-file=FILE           keep the printers and their defaults in FILE\n"
    "     log-file=FILE             log to FILE; - for standard error, syslog\n"
    "     log-level=LEVEL           debug, info, warn, error or fatal\n"
    "     job-time-limit=SECONDS    stop a document that draws longer, or does\n"
    "                               not come that long after its job (1800)\n"
    "     auth-service=SERVICE      the PAM service for administrators, or none\n"
    "     admin-group=GROUP         who administers the server (lpadmin)\n"
    "\n"
    "Where a server keeps things:\n"
    "  run by root:  state /var/lib/ravo-printer-app.state,\n"
    "                socket /run/ravo-printer-app.sock\n"
    "  by a user:    state $XDG_CONFIG_HOME/ravo-printer-app.state (the directory\n"
    "                is made when missing), or ~/.config/ravo-printer-app.state\n"
    "                when XDG_CONFIG_HOME is unset;\n"
    "                socket $TMPDIR/ravo-printer-appUID.sock (TMPDIR: /tmp)\n"
    "  either:       job files and log in $TMPDIR/papplPID.d and papplPID.log,\n"
    "                unless spool-directory and log-file say otherwise\n"
    "A program run under another name uses that name in these paths.\n"
    "\n"
    "A private server, for instance:\n"
    "  ravo-printer-app server -o server-port=8631 -o listen-hostname=localhost &\n"
    "  mkdir -p /tmp/jetto-out\n"
    "  ravo-printer-app add -d jetto -m marven_jetto_412_519 -v 'file:///tmp/jetto-out?ext=png'\n"
    "  ravo-printer-app submit -d jetto document.pdf\n"
    "Its web page is then http://localhost:8631/ ; the printer's page shows the\n"
    "last job as the printer received it. See ravo-printer-app(1).\n";

}  // namespace

void print_usage(void* /*data*/) { static_cast<void>(std::fputs(USAGE, stdout)); }

void prepare_state_home() {
  // PAPPL keeps a user's state in $XDG_CONFIG_HOME only when it exists.
  const char* home = std::getenv("XDG_CONFIG_HOME");
  if (home == nullptr || home[0] != '/') return;
  std::string path;
  for (const char* at = home; *at != '\0'; ++at) {
    path += *at;
    if (at[1] == '/' || at[1] == '\0') {
      if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return;
    }
  }
}

void dress_system(pappl_system_t* system) {
  papplSystemAddResourceData(system, "/favicon.png", "image/png", ICON_128, ICON_128_SIZE);
  papplSystemAddResourceData(system, "/navicon.png", "image/png", ICON_48, ICON_48_SIZE);
  papplSystemAddLink(system, APP_NAME, "/", PAPPL_LOPTIONS_NAVIGATION);
}

void set_printer_icons(pappl_pr_driver_data_t* data) {
  data->icons[0] = {"", ICON_48, ICON_48_SIZE};
  data->icons[1] = {"", ICON_128, ICON_128_SIZE};
  data->icons[2] = {"", ICON_512, ICON_512_SIZE};
}
