// Refuses a job at submission when it asks for what the printer does not
// have: a size, source, colour mode or resolution the tables lack, or a
// document format the printer does not take. PAPPL 1.3.1 would otherwise
// answer successful-ok-ignored-or-substituted-attributes, drop the value and
// print on the default, or accept a format it cannot print and abort the job
// later with no reason. The app sees a request only where PAPPL asks it to
// authorise one (every TCP client's Print-Job, Create-Job, Validate-Job and
// Send-Document); requests through the local socket are never asked about.

#ifndef RAVO_APP_SUBMISSIONS_H_
#define RAVO_APP_SUBMISSIONS_H_

#include <pappl/pappl.h>

#include <cstddef>

// The attribute of `request`, a job submission to a printer whose formats
// are `formats` (document-format-supported), that names what the printer
// does not have, with `message` saying what was asked and what the printer
// has; null when there is none. A document-format of
// application/octet-stream is typed by PAPPL from the document and passes.
ipp_attribute_t* unoffered_request_attribute(ipp_t* request, ipp_attribute_t* formats,
                                             char* message, size_t size);

// When `client`'s request is a job submission naming what the printer does
// not have, or a Create-Job asking to be held before its document comes,
// makes PAPPL's own checks refuse it with
// client-error-attributes-or-values-not-supported, the attribute among the
// unsupported ones, and logs why; returns true then. Other requests are left
// alone.
bool refuse_unoffered_submission(pappl_client_t* client);

// Whether `client`'s request is a Release-Job for a job whose document has
// not come (made by Create-Job, then held): PAPPL 1.3.1 would start it with
// no document, which kills the server. Logs why when so.
bool releases_job_without_document(pappl_client_t* client);

#endif  // RAVO_APP_SUBMISSIONS_H_
