#include "app/deletion.h"

#include <cstdio>
#include <cstring>

bool delete_printer_by_uri(pappl_client_t* client, void* /*data*/) {
  if (papplClientGetOperation(client) != IPP_OP_DELETE_PRINTER) return false;
  pappl_printer_t* printer = papplClientGetPrinter(client);
  if (printer == nullptr) return false;
  if (const http_status_t status = papplClientIsAuthorized(client);
      status != HTTP_STATUS_CONTINUE) {
    papplClientRespond(client, status, nullptr, nullptr, 0, 0);
    return true;
  }
  // PAPPL frees a deleted printer at once, so one that is printing stays.
  if (papplPrinterGetNumberOfActiveJobs(printer) > 0) {
    papplClientRespondIPP(client, IPP_STATUS_ERROR_BUSY,
                          "The printer has jobs: cancel them, or let them end, then delete it.");
    return true;
  }
  papplLogClient(client, PAPPL_LOGLEVEL_INFO, "Deleting printer \"%s\".",
                 papplPrinterGetName(printer));
  papplPrinterDelete(printer);
  papplClientRespondIPP(client, IPP_STATUS_OK, nullptr);
  return true;
}

namespace {

// The printer named by `-d NAME` or `-dNAME`, when those are the only
// arguments after the command.
const char* printer_argument(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[2], "-d") == 0) return argv[3];
  if (argc == 3 && std::strncmp(argv[2], "-d", 2) == 0 && argv[2][2] != '\0') return argv[2] + 2;
  return nullptr;
}

}  // namespace

bool run_delete_command(int argc, char** argv, const char* socket, int* status) {
  if (argc < 2 || std::strcmp(argv[1], "delete") != 0) return false;
  const char* name = printer_argument(argc, argv);
  if (name == nullptr || *name == '\0' || std::strchr(name, '/') != nullptr) return false;
  http_t* http =
      httpConnect2(socket, 0, nullptr, AF_LOCAL, HTTP_ENCRYPTION_NEVER, 1, 30000, nullptr);
  if (http == nullptr) return false;
  char resource[1024];
  char uri[1024];
  static_cast<void>(std::snprintf(resource, sizeof resource, "/ipp/print/%s", name));
  httpAssembleURI(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", 0, resource);
  ipp_t* request = ippNewRequest(IPP_OP_DELETE_PRINTER);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
               cupsUser());
  ippDelete(cupsDoRequest(http, request, resource));
  httpClose(http);
  *status = 0;
  if (cupsLastError() != IPP_STATUS_OK) {
    const char* slash = std::strrchr(argv[0], '/');
    static_cast<void>(std::fprintf(stderr, "%s: Unable to delete printer \"%s\": %s\n",
                                   slash != nullptr ? slash + 1 : argv[0], name,
                                   cupsLastErrorString()));
    *status = 1;
  }
  return true;
}
