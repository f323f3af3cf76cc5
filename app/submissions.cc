#include "app/submissions.h"

#include <cstdio>
#include <cstring>

#include "app/media.h"

ipp_attribute_t* unoffered_request_attribute(ipp_t* request, ipp_attribute_t* formats,
                                             char* message, size_t size) {
  if (ipp_attribute_t* format = ippFindAttribute(request, "document-format", IPP_TAG_ZERO)) {
    const char* name = ippGetString(format, 0, nullptr);
    const bool typed_by_content =
        name != nullptr && std::strcmp(name, "application/octet-stream") == 0;
    if (!typed_by_content && (name == nullptr || ippContainsString(formats, name) == 0)) {
      int used = std::snprintf(message, size, "The printer does not take %s documents; it takes",
                               name != nullptr ? name : "such");
      const char* separator = " ";
      for (int i = 0; i < ippGetCount(formats) && used >= 0 && static_cast<size_t>(used) < size;
           ++i) {
        const char* taken = ippGetString(formats, i, nullptr);
        if (taken == nullptr || std::strcmp(taken, "application/octet-stream") == 0) continue;
        used += std::snprintf(message + used, size - static_cast<size_t>(used), "%s%s", separator,
                              taken);
        separator = ", ";
      }
      return format;
    }
  }
  const JobRequest asked{ippFindAttribute(request, "media", IPP_TAG_ZERO),
                         ippFindAttribute(request, "media-col", IPP_TAG_ZERO),
                         ippFindAttribute(request, "print-color-mode", IPP_TAG_ZERO),
                         ippFindAttribute(request, "printer-resolution", IPP_TAG_ZERO)};
  return unoffered_attribute(asked, message, size);
}

namespace {

// PAPPL checks a job's attributes after the app has authorised the request,
// and takes a value it does not offer as a substitution, but refuses one
// that is malformed. An attribute given a second value, or a document-format
// outside the operation group, is malformed to PAPPL, so PAPPL refuses the
// request, and names the attribute in its answer.
void spoil(ipp_t* request, ipp_attribute_t* attr) {
  if (std::strcmp(ippGetName(attr), "document-format") == 0) {
    ippSetGroupTag(request, &attr, IPP_TAG_JOB);
    return;
  }
  if (ippGetCount(attr) != 1) return;
  switch (ippGetValueTag(attr)) {
    case IPP_TAG_BEGIN_COLLECTION:
      ippSetCollection(request, &attr, 1, ippGetCollection(attr, 0));
      break;
    case IPP_TAG_RESOLUTION: {
      ipp_res_t units = IPP_RES_PER_INCH;
      int down = 0;
      const int across = ippGetResolution(attr, 0, &down, &units);
      ippSetResolution(request, &attr, 1, units, across, down);
      break;
    }
    default:
      ippSetString(request, &attr, 1, ippGetString(attr, 0, nullptr));
      break;
  }
}

// A Create-Job's job-hold-until, other than no-hold: PAPPL 1.3.1 may release
// such a job before its document has come (it releases a job held until a
// time at once), and starting a job with no document kills the server.
ipp_attribute_t* early_hold(ipp_t* request, char* message, size_t size) {
  ipp_attribute_t* hold = ippFindAttribute(request, "job-hold-until", IPP_TAG_ZERO);
  const char* until = hold != nullptr ? ippGetString(hold, 0, nullptr) : nullptr;
  if (hold == nullptr || (until != nullptr && std::strcmp(until, "no-hold") == 0)) return nullptr;
  static_cast<void>(std::snprintf(message, size,
                                  "The printer does not hold a job before its document has come "
                                  "(job-hold-until %s); send job-hold-until with Print-Job",
                                  until != nullptr ? until : "?"));
  return hold;
}

}  // namespace

bool releases_job_without_document(pappl_client_t* client) {
  if (papplClientGetOperation(client) != IPP_OP_RELEASE_JOB) return false;
  pappl_job_t* job = papplClientGetJob(client);
  if (job == nullptr || papplJobGetFilename(job) != nullptr) return false;
  papplLogClient(client, PAPPL_LOGLEVEL_INFO,
                 "Refused: job %d has no document yet, and is not released without one.",
                 papplJobGetID(job));
  return true;
}

bool refuse_unoffered_submission(pappl_client_t* client) {
  switch (papplClientGetOperation(client)) {
    case IPP_OP_PRINT_JOB:
    case IPP_OP_VALIDATE_JOB:
    case IPP_OP_CREATE_JOB:
    case IPP_OP_SEND_DOCUMENT:
      break;
    default:
      return false;
  }
  ipp_t* request = papplClientGetRequest(client);
  pappl_printer_t* printer = papplClientGetPrinter(client);
  if (request == nullptr || printer == nullptr) return false;
  ipp_t* driver_attrs = papplPrinterGetDriverAttributes(printer);
  char message[1024] = "";
  ipp_attribute_t* unoffered = unoffered_request_attribute(
      request, ippFindAttribute(driver_attrs, "document-format-supported", IPP_TAG_MIMETYPE),
      message, sizeof message);
  ippDelete(driver_attrs);
  if (unoffered == nullptr && papplClientGetOperation(client) == IPP_OP_CREATE_JOB) {
    unoffered = early_hold(request, message, sizeof message);
  }
  if (unoffered == nullptr) return false;
  papplLogClient(client, PAPPL_LOGLEVEL_INFO, "Refused: %s.", message);
  spoil(request, unoffered);
  return true;
}
