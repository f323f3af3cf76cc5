#include "app/jobs.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string_view>

#include "app/images.h"
#include "app/job_claims.h"
#include "app/job_options.h"
#include "app/job_output.h"
#include "app/media.h"
#include "app/page_sender.h"
#include "app/png_writer.h"
#include "app/preview.h"
#include "gs/runner.h"

namespace {

constexpr size_t MESSAGE_SIZE = JOB_MESSAGE_SIZE;

// How long gs may take over one document; see set_job_time_limit.
std::atomic<int> job_time_limit{DEFAULT_JOB_TIME_LIMIT};

PrinterState* printer_state(pappl_job_t* job) {
  pappl_pr_driver_data_t data;
  papplPrinterGetDriverData(papplJobGetPrinter(job), &data);
  return static_cast<PrinterState*>(data.extension);
}

struct OptionsDeleter {
  void operator()(pappl_pr_options_t* options) const { papplJobDeletePrintOptions(options); }
};
using Options = std::unique_ptr<pappl_pr_options_t, OptionsDeleter>;

// Shows one row of what is encoded in the printer's preview.
void show_row(void* context, uint32_t y, const uint8_t* row) {
  preview_rows(static_cast<Preview*>(context), y, row, 1);
}

pappl_jreason_t reason_for(GsOutcome outcome) {
  switch (outcome) {
    case GS_NO_PAGES:
    case GS_BAD_OUTPUT:
      return PAPPL_JREASON_DOCUMENT_FORMAT_ERROR;
    case GS_FAILED:
      return PAPPL_JREASON_DOCUMENT_UNPRINTABLE_ERROR;
    default:
      return PAPPL_JREASON_ABORTED_BY_SYSTEM;
  }
}

// A PDF or PostScript job's state while gs runs it: the context of its GsJob.
struct DocumentRun {
  pappl_job_t* job;
  PageSender* sender;
  Preview* preview;
  const Conf* conf;
  std::chrono::steady_clock::time_point deadline;
  bool timed_out = false;
  uint32_t pages = 0;       // whole pages gs has reported
  uint32_t shown_page = 0;  // the page the preview is being shown
};

bool document_hold(void* context, const void* data, size_t size) {
  return static_cast<DocumentRun*>(context)->sender->hold(data, size);
}

bool document_cancelled(void* context) {
  auto* run = static_cast<DocumentRun*>(context);
  if (std::chrono::steady_clock::now() >= run->deadline) run->timed_out = true;
  return run->timed_out || papplJobIsCanceled(run->job);
}

void document_rows_seen(void* context, uint32_t page, uint32_t y, const uint8_t* rows,
                        uint32_t count) {
  auto* run = static_cast<DocumentRun*>(context);
  if (page != run->shown_page) {
    if (run->shown_page > 0) preview_end_page(run->preview);
    run->shown_page = page;
    preview_start_page(run->preview, static_cast<uint32_t>(run->conf->width),
                       static_cast<uint32_t>(run->conf->height), false);
  }
  preview_rows(run->preview, y, rows, count);
}

void document_page_done(void* context, uint32_t pages) {
  auto* run = static_cast<DocumentRun*>(context);
  if (pages <= run->pages) return;
  run->sender->page_done(pages - run->pages);
  run->pages = pages;
}

// Decodes a JPEG or PNG job as one page through `sender`. False when the
// image cannot be decoded, after aborting the job with the reason, or when
// the sender failed, which the caller reports.
bool print_held_image(pappl_job_t* job, const pappl_pr_options_t& options, const Conf& conf,
                      ImageKind kind, int input, PageSender& sender, Preview* preview) {
  const OutputPage page{static_cast<uint32_t>(conf.width), static_cast<uint32_t>(conf.height),
                        conf.ink == INK_MONO, PNG_ZLIB_LEVEL};
  const bool fill = options.print_scaling == PAPPL_SCALING_FILL ||
                    (options.print_scaling == PAPPL_SCALING_AUTO && is_borderless(options.media));
  char message[MESSAGE_SIZE];
  if (!print_image(input, kind, page, fill, PngSink{hold_pages, &sender, show_row, preview},
                   message, sizeof message)) {
    if (sender.fault() != SendFault::NONE) return false;
    abort_with(job, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR, message);
    return false;
  }
  sender.page_done();
  return true;
}

// The page range to draw, as gs counts it: 0 for no limit.
int32_t page_limit(unsigned page) {
  return page > 0 && page < static_cast<unsigned>(INT32_MAX) ? static_cast<int32_t>(page) : 0;
}

// Draws or decodes the document on `input` and sends its pages and copies;
// true when every page reached the printer or the job was cancelled.
bool send_document(pappl_job_t* job, const pappl_pr_options_t& options, const Conf& conf, int input,
                   PageSender& sender, Outlet& outlet, Preview* preview) {
  ImageKind image = ImageKind::JPEG;
  if (image_kind(papplJobGetFormat(job), &image)) {
    preview_start_page(preview, static_cast<uint32_t>(conf.width),
                       static_cast<uint32_t>(conf.height), false);
    const bool decoded = print_held_image(job, options, conf, image, input, sender, preview);
    preview_end_page(preview);
    if (sender.fault() == SendFault::CANCELLED) return true;
    if (abort_for_sender(job, sender, outlet) || !decoded) return false;
    return finish_sending(job, sender, outlet, options.copies);
  }
  const int limit = job_time_limit.load();
  DocumentRun run{job, &sender, preview, &conf,
                  std::chrono::steady_clock::now() + std::chrono::seconds(limit)};
  const GsJob gs{&conf,
                 true,
                 input,
                 document_hold,
                 document_cancelled,
                 &run,
                 document_page_done,
                 page_limit(options.first_page),
                 page_limit(options.last_page),
                 true,
                 document_rows_seen,
                 true};
  GsRun outcome{};
  const bool drawn = run_gs_job(gs, &outcome);
  if (run.shown_page > 0) preview_end_page(preview);
  if (run.timed_out) {
    char text[MESSAGE_SIZE];
    static_cast<void>(std::snprintf(text, sizeof text,
                                    "The job ran longer than the printer's limit of %d seconds "
                                    "(job-time-limit) and was stopped",
                                    limit));
    abort_with(job, PAPPL_JREASON_ABORTED_BY_SYSTEM, text);
    return false;
  }
  if (outcome.outcome == GS_CANCELLED || sender.fault() == SendFault::CANCELLED) {
    if (outlet.device != nullptr) papplDeviceFlush(outlet.device);
    return true;
  }
  if (abort_for_sender(job, sender, outlet)) return false;
  if (!drawn) {
    char text[GS_MESSAGE_SIZE];
    describe_gs_run(outcome, text);
    abort_with(job, reason_for(outcome.outcome), text);
    return false;
  }
  return finish_sending(job, sender, outlet, options.copies);
}

bool print_document_once(pappl_job_t* job, PrinterState& state, pappl_device_t* handed) {
  DeviceHold hold(job, state, handed);
  const Options options(papplJobCreatePrintOptions(job, 0, true));
  if (options == nullptr) return false;
  char message[MESSAGE_SIZE];
  if (!check_job_request(job, options.get(), message, sizeof message)) {
    abort_with(job, PAPPL_JREASON_DOCUMENT_UNPRINTABLE_ERROR, message);
    return false;
  }
  const PaperConf* paper = job_paper(*options, message);
  Conf conf{};
  if (paper == nullptr || !job_conf(*paper, job_ink(*options),
                                    job_resolution(job, *options, nullptr), &conf, message)) {
    abort_with(job, PAPPL_JREASON_DOCUMENT_UNPRINTABLE_ERROR, message);
    return false;
  }
  const int input = papplJobGetFilename(job) != nullptr
                        ? open(papplJobGetFilename(job), O_RDONLY | O_CLOEXEC)
                        : -1;
  if (input < 0) {
    abort_with(job, PAPPL_JREASON_ABORTED_BY_SYSTEM, "Unable to open the job's file");
    return false;
  }
  Outlet outlet{job, &hold, false};
  PageSender sender(page_outlet(outlet));
  bool printed = false;
  if (!sender.open(papplGetTempDir())) {
    abort_for_sender(job, sender, outlet);
  } else {
    Preview* preview = printer_preview(papplJobGetPrinter(job));
    preview_start_job(preview, conf.ink == INK_MONO);
    printed = send_document(job, *options, conf, input, sender, outlet, preview);
    preview_end_job(preview, job, printed && !papplJobIsCanceled(job));
  }
  close(input);
  return printed;
}

// A raster job's state, from its first callback to its last, in the job's
// data. A second run of the job finds none and does nothing.
struct RasterJob {
  PrinterState* state = nullptr;
  int id = 0;
  const PaperConf* paper = nullptr;
  int32_t ink = INK_COLOUR;
  std::unique_ptr<DeviceHold> hold;
  std::unique_ptr<Outlet> outlet;
  std::unique_ptr<PageSender> sender;
  PngWriter writer;
  Preview* preview = nullptr;  // shows what is encoded
  int copies = 1;
  // The pages of a PWG or Apple raster job to print (PAPPL's page-ranges),
  // the page under way, and whether it is left out.
  unsigned first_page = 1;
  unsigned last_page = 0;
  unsigned page = 0;
  bool streamed = false;
  bool skipping = false;
  bool stopped = false;  // failed, with a message, or cancelled
};

RasterJob* raster_job(pappl_job_t* job) { return static_cast<RasterJob*>(papplJobGetData(job)); }

// Stops the job's output: with the sender's fault when it has one, else
// with `reason` and `text`.
void stop_raster(RasterJob& raster, pappl_job_t* job, pappl_jreason_t reason, const char* text) {
  if (raster.stopped) return;
  raster.stopped = true;
  if (raster.sender->fault() == SendFault::CANCELLED) return;
  if (!abort_for_sender(job, *raster.sender, *raster.outlet)) abort_with(job, reason, text);
}

bool outside_range(const RasterJob& raster) {
  return raster.streamed && (raster.page < raster.first_page ||
                             (raster.last_page > 0 && raster.page > raster.last_page));
}

}  // namespace

bool print_document(pappl_job_t* job, pappl_device_t* device, void* /*data*/) {
  PrinterState* state = printer_state(job);
  const int id = papplJobGetID(job);
  if (!claim_job(*state, id)) {
    const bool result = wait_for_claim(*state, id);
    end_second_run(*state, id);
    return result;
  }
  const bool printed = print_document_once(job, *state, device);
  settle_claim(*state, id, printed);
  return printed;
}

void set_job_time_limit(int seconds) {
  job_time_limit = seconds > 0 ? seconds : DEFAULT_JOB_TIME_LIMIT;
}

int job_time_limit_seconds() { return job_time_limit.load(); }

bool print_raw(pappl_job_t* job, pappl_pr_options_t* /*options*/, pappl_device_t* /*device*/) {
  abort_with(job, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR,
             "Unsupported document format: send PDF, PostScript, PWG or Apple raster, JPEG or PNG");
  return false;
}

bool raster_start_job(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device) {
  PrinterState* state = printer_state(job);
  const int id = papplJobGetID(job);
  if (!claim_job(*state, id)) {
    // The job's data stays empty for this run, so its other callbacks do
    // nothing; PAPPL goes on to them only for a true result.
    const bool result = wait_for_claim(*state, id);
    if (!result) end_second_run(*state, id);
    return result;
  }
  char message[MESSAGE_SIZE];
  const PaperConf* paper = check_job_request(job, options, message, sizeof message)
                               ? job_paper(*options, message)
                               : nullptr;
  if (paper == nullptr) {
    abort_with(job, PAPPL_JREASON_DOCUMENT_UNPRINTABLE_ERROR, message);
    settle_claim(*state, id, false);
    return false;
  }
  auto raster = std::make_unique<RasterJob>();
  raster->state = state;
  raster->id = id;
  raster->paper = paper;
  raster->ink = job_ink(*options);
  raster->hold = std::make_unique<DeviceHold>(job, *state, device);
  raster->outlet = std::make_unique<Outlet>(Outlet{job, raster->hold.get(), true});
  raster->sender = std::make_unique<PageSender>(page_outlet(*raster->outlet));
  const std::string_view format = papplJobGetFormat(job);
  raster->streamed = format == "image/pwg-raster" || format == "image/urf";
  raster->copies = copies_to_send(format, options->copies);
  raster->first_page = options->first_page;
  raster->preview = printer_preview(papplJobGetPrinter(job));
  preview_start_job(raster->preview, raster->ink == INK_MONO);
  raster->last_page = options->last_page;
  if (!raster->sender->open(papplGetTempDir())) {
    stop_raster(*raster, job, PAPPL_JREASON_ABORTED_BY_SYSTEM, "");
  }
  papplJobSetData(job, raster.release());
  return true;
}

bool raster_start_page(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* /*device*/,
                       unsigned /*page*/) {
  RasterJob* raster = raster_job(job);
  if (raster == nullptr || raster->stopped) return true;
  ++raster->page;
  raster->skipping = outside_range(*raster);
  if (raster->skipping) return true;
  LineFormat format = LineFormat::RGB8;
  char message[MESSAGE_SIZE];
  if (!check_raster_page(job, options->header, &format, message, sizeof message)) {
    stop_raster(*raster, job, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR, message);
    return false;  // PAPPL then reads no more of the page
  }
  Conf conf{};
  const int32_t resolution = job_resolution(job, *options, &options->header);
  papplLogJob(job, PAPPL_LOGLEVEL_DEBUG, "Page %u drawn at %u dpi, printed at %d dpi", raster->page,
              options->header.HWResolution[0], resolution);
  if (!job_conf(*raster->paper, raster->ink, resolution, &conf, message)) {
    stop_raster(*raster, job, PAPPL_JREASON_DOCUMENT_UNPRINTABLE_ERROR, message);
    return true;
  }
  const InputPage in{format, options->header.cupsWidth, options->header.cupsHeight};
  const OutputPage page{static_cast<uint32_t>(conf.width), static_cast<uint32_t>(conf.height),
                        conf.ink == INK_MONO, PNG_ZLIB_LEVEL};
  if (!raster->writer.start(in, page,
                            PngSink{hold_pages, raster->sender.get(), show_row, raster->preview})) {
    stop_raster(*raster, job, PAPPL_JREASON_DOCUMENT_UNPRINTABLE_ERROR, raster->writer.error());
    return false;
  }
  preview_start_page(raster->preview, page.width, page.height, false);
  return true;
}

bool raster_write_line(pappl_job_t* job, pappl_pr_options_t* /*options*/,
                       pappl_device_t* /*device*/, unsigned /*y*/, const unsigned char* line) {
  RasterJob* raster = raster_job(job);
  if (raster == nullptr || raster->stopped || raster->skipping) return true;
  if (!raster->writer.line(line)) {
    stop_raster(*raster, job, PAPPL_JREASON_ABORTED_BY_SYSTEM, "Unable to encode the page");
  }
  return true;
}

bool raster_end_page(pappl_job_t* job, pappl_pr_options_t* /*options*/, pappl_device_t* /*device*/,
                     unsigned /*page*/) {
  RasterJob* raster = raster_job(job);
  if (raster == nullptr || raster->stopped || raster->skipping) return true;
  const bool finished = raster->writer.finish();
  preview_end_page(raster->preview);
  if (!finished) {
    stop_raster(*raster, job, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR, raster->writer.error());
    return true;
  }
  raster->sender->page_done();
  if (raster->sender->fault() != SendFault::NONE) {
    stop_raster(*raster, job, PAPPL_JREASON_ABORTED_BY_SYSTEM, "");
  }
  return true;
}

bool raster_end_job(pappl_job_t* job, pappl_pr_options_t* /*options*/, pappl_device_t* /*device*/) {
  std::unique_ptr<RasterJob> raster(raster_job(job));
  if (raster == nullptr) {
    end_second_run(*printer_state(job), papplJobGetID(job));
    return true;
  }
  papplJobSetData(job, nullptr);
  bool printed = true;
  if (raster->stopped) {
    printed = raster->sender->fault() == SendFault::CANCELLED;
  } else {
    printed = finish_sending(job, *raster->sender, *raster->outlet, raster->copies);
  }
  preview_end_job(raster->preview, job, printed && !raster->stopped && !papplJobIsCanceled(job));
  raster->sender.reset();
  raster->hold.reset();
  settle_claim(*raster->state, raster->id, printed);
  return printed;
}
