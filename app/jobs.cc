#include "app/jobs.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string_view>
#include <thread>
#include <vector>

#include "app/media.h"
#include "app/png_writer.h"
#include "app/preview.h"
#include "conf/set_conf.h"
#include "filter/filter.h"
#include "gs/runner.h"

namespace {

constexpr size_t MESSAGE_SIZE = 512;
constexpr size_t CLAIMS_KEPT = 256;

PrinterState* printer_state(pappl_job_t* job) {
  pappl_pr_driver_data_t data;
  papplPrinterGetDriverData(papplJobGetPrinter(job), &data);
  return static_cast<PrinterState*>(data.extension);
}

// Claims `id` for this run; false when another run has it already.
bool claim_job(PrinterState& state, int id) {
  const std::lock_guard<std::mutex> hold(state.lock);
  for (const PrinterState::Claim& claim : state.claims) {
    if (claim.job_id == id) return false;
  }
  if (state.claims.size() >= CLAIMS_KEPT) state.claims.pop_front();
  state.claims.push_back({id, false, false});
  return true;
}

// A second run's end makes PAPPL close the printer's device, whichever job
// holds it then; a job that starts this soon after one uses its own.
constexpr std::chrono::seconds SECOND_RUN_REACH{2};

// Notes that the second run of job `id` has ended, or will as soon as this
// callback returns.
void end_second_run(PrinterState& state, int id) {
  {
    const std::lock_guard<std::mutex> hold(state.lock);
    for (auto run = state.second_runs.begin(); run != state.second_runs.end(); ++run) {
      if (*run != id) continue;
      state.second_runs.erase(run);
      break;
    }
    state.second_run_ended = std::chrono::steady_clock::now();
  }
  state.changed.notify_all();
}

// Whether the second run of a job other than `id` is under way, or one ended
// too recently to be sure that PAPPL has closed the device after it. Job
// `id`'s own second run ends only after this run has written everything.
bool near_second_run(PrinterState& state, int id) {
  const std::lock_guard<std::mutex> hold(state.lock);
  for (const int run : state.second_runs) {
    if (run != id) return true;
  }
  return std::chrono::steady_clock::now() - state.second_run_ended < SECOND_RUN_REACH;
}

// Waits until the run that claimed `id` is done; returns its result. The
// caller is a second run, and calls end_second_run when it has done.
bool wait_for_claim(PrinterState& state, int id) {
  std::unique_lock<std::mutex> hold(state.lock);
  state.second_runs.push_back(id);
  for (;;) {
    bool found = false;
    for (const PrinterState::Claim& claim : state.claims) {
      if (claim.job_id != id) continue;
      found = true;
      if (claim.done) return claim.result;
    }
    if (!found) return false;
    state.changed.wait(hold);
  }
}

void settle_claim(PrinterState& state, int id, bool result) {
  {
    const std::lock_guard<std::mutex> hold(state.lock);
    for (PrinterState::Claim& claim : state.claims) {
      if (claim.job_id == id) claim = {id, true, result};
    }
  }
  state.changed.notify_all();
}

bool job_is_processing(pappl_job_t* job, int id) {
  pappl_job_t* other = papplPrinterFindJob(papplJobGetPrinter(job), id);
  return other != nullptr && papplJobGetState(other) == IPP_JSTATE_PROCESSING;
}

// The printer's device, held by one job at a time. PAPPL may close the
// device it handed a job once another job ends, so a job that had to wait
// for its turn opens a connection of its own; one that found the device free
// uses PAPPL's, which a USB printer, taking one connection at a time, needs.
class DeviceHold {
 public:
  DeviceHold(pappl_job_t* job, PrinterState& state, pappl_device_t* handed)
      : state_(state), job_(job), id_(papplJobGetID(job)), handed_(handed), waited_(wait_turn()) {}
  // The device, once the job has something for it; null when it cannot be
  // opened.
  pappl_device_t* open() {
    pappl_printer_t* printer = papplJobGetPrinter(job_);
    // A file device is named after the job that opened it, which need not be
    // this one when PAPPL runs two at once; a file takes many writers, so a
    // job always opens its own.
    const bool file = std::string_view(papplPrinterGetDeviceURI(printer)).starts_with("file:");
    if (device_ == nullptr && !file && !waited_ && !near_second_run(state_, id_)) {
      device_ = handed_;
    }
    for (int attempt = 0; attempt < OPEN_ATTEMPTS && device_ == nullptr; ++attempt) {
      if (attempt > 0) std::this_thread::sleep_for(OPEN_PAUSE);
      device_ = papplDeviceOpen(papplPrinterGetDeviceURI(printer), papplJobGetName(job_),
                                papplLogDevice, papplPrinterGetSystem(printer));
      owned_ = device_ != nullptr;
    }
    return device_;
  }
  DeviceHold(const DeviceHold&) = delete;
  DeviceHold& operator=(const DeviceHold&) = delete;
  ~DeviceHold() {
    if (owned_ && device_ != nullptr) papplDeviceClose(device_);
    {
      const std::lock_guard<std::mutex> hold(state_.lock);
      if (state_.device_holder == id_) state_.device_holder = 0;
    }
    state_.changed.notify_all();
  }

 private:
  // While the job before closes its connection.
  static constexpr int OPEN_ATTEMPTS = 20;
  static constexpr std::chrono::milliseconds OPEN_PAUSE{250};

  // Waits until no other job holds the device, and takes it; returns whether
  // another held it. A holder whose job is no longer processing has lost it.
  bool wait_turn() {
    std::unique_lock<std::mutex> hold(state_.lock);
    bool waited = false;
    while (state_.device_holder != 0 && state_.device_holder != id_) {
      waited = true;
      if (state_.changed.wait_for(hold, std::chrono::seconds(1)) != std::cv_status::timeout) {
        continue;
      }
      const int holder = state_.device_holder;
      hold.unlock();
      const bool stale = holder != 0 && !job_is_processing(job_, holder);
      hold.lock();
      if (stale && state_.device_holder == holder) state_.device_holder = 0;
    }
    state_.device_holder = id_;
    return waited;
  }

  PrinterState& state_;
  pappl_job_t* job_;
  int id_;
  pappl_device_t* handed_;
  bool waited_;
  pappl_device_t* device_ = nullptr;
  bool owned_ = false;
};

struct OptionsDeleter {
  void operator()(pappl_pr_options_t* options) const { papplJobDeletePrintOptions(options); }
};
using Options = std::unique_ptr<pappl_pr_options_t, OptionsDeleter>;

// The raster the job's options ask for, or false with the reason.
bool job_conf(const pappl_pr_options_t& options, Conf* conf, char* message) {
  const JobMedia media = resolve_media(options.media);
  if (media.row == nullptr) {
    describe_unfeedable(options.media, message, MESSAGE_SIZE);
    return false;
  }
  const int32_t ink =
      options.print_color_mode == PAPPL_COLOR_MODE_MONOCHROME ? INK_MONO : INK_COLOUR;
  const int32_t resolution =
      options.printer_resolution[0] > 0 ? options.printer_resolution[0] : Def_Conf.resolution;
  if (fill_conf(conf, ink, resolution, media.row->name, media.source) != CONF_USABLE) {
    static_cast<void>(std::snprintf(message, MESSAGE_SIZE, "Size %s at %d dpi cannot be printed",
                                    options.media.size_name, resolution));
    return false;
  }
  return true;
}

void abort_with(pappl_job_t* job, pappl_jreason_t reason, const char* message) {
  papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s", message);
  papplJobSetMessage(job, "%s", message);
  papplJobSetReasons(job, reason, PAPPL_JREASON_NONE);
}

bool device_write(void* context, const void* data, size_t size) {
  return papplDeviceWrite(static_cast<pappl_device_t*>(context), data, size) ==
         static_cast<ssize_t>(size);
}

// A PDF or PostScript job's state while gs runs it. gs's checked images are
// held in `held` and reach the printer only once every copy has been made,
// so that a job gs fails on mid-way puts nothing on paper; raster jobs are
// held the same way.
struct DocumentRun {
  pappl_job_t* job;
  pappl_device_t* device;
  Conf conf;
  uint32_t pages;
  int held;
};

bool hold_images(void* context, const void* data, size_t size) {
  return gs_write_descriptor(&static_cast<DocumentRun*>(context)->held, data, size);
}

// An unnamed file in PAPPL's temporary directory to hold a job's images
// until they are all made, gone when it is closed; -1 when none can be made.
int open_holding_file() { return open(papplGetTempDir(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600); }

// Sends the images held in `held` to `device`.
bool send_held(int held, pappl_device_t* device) {
  if (lseek(held, 0, SEEK_SET) != 0) return false;
  char buffer[65536];
  for (;;) {
    const ssize_t got = read(held, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return got == 0;
    if (!device_write(device, buffer, static_cast<size_t>(got))) return false;
  }
}

bool run_cancelled(void* context) {
  return papplJobIsCanceled(static_cast<DocumentRun*>(context)->job);
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

// Runs gs once for each copy, then sends the images. True when every copy
// printed or the job was cancelled.
bool print_copies(DocumentRun& run, DeviceHold& hold, int input, int copies) {
  for (int copy = 0; copy < copies; ++copy) {
    if (lseek(input, 0, SEEK_SET) != 0) {
      abort_with(run.job, PAPPL_JREASON_ABORTED_BY_SYSTEM, "Unable to reread the job's file");
      return false;
    }
    const GsJob gs{&run.conf, true, input, hold_images, run_cancelled, &run};
    GsRun outcome{};
    const bool printed = run_gs_job(gs, &outcome);
    run.pages += outcome.pages;
    papplJobSetImpressionsCompleted(run.job, static_cast<int>(outcome.pages));
    if (outcome.outcome == GS_CANCELLED) return true;
    if (!printed) {
      char text[GS_MESSAGE_SIZE];
      describe_gs_run(outcome, text);
      abort_with(run.job, reason_for(outcome.outcome), text);
      return false;
    }
  }
  run.device = hold.open();
  if (run.device == nullptr) {
    abort_with(run.job, PAPPL_JREASON_ABORTED_BY_SYSTEM, "Unable to open the printer's device");
    return false;
  }
  if (!send_held(run.held, run.device)) {
    abort_with(run.job, PAPPL_JREASON_ABORTED_BY_SYSTEM, "Unable to send the pages to the printer");
    return false;
  }
  papplDeviceFlush(run.device);
  papplJobSetMessage(run.job, "Printed %u page%s", run.pages, run.pages == 1 ? "" : "s");
  return true;
}

// PAPPL picks a document's resolution by its print-quality, passing over the
// printer's default resolution: a job that asks for neither gets the default.
void use_default_resolution(pappl_job_t* job, pappl_pr_options_t* options) {
  if (papplJobGetAttribute(job, "printer-resolution") != nullptr ||
      papplJobGetAttribute(job, "print-quality") != nullptr) {
    return;
  }
  pappl_pr_driver_data_t data;
  papplPrinterGetDriverData(papplJobGetPrinter(job), &data);
  if (data.x_default <= 0 || data.y_default <= 0) return;
  options->printer_resolution[0] = data.x_default;
  options->printer_resolution[1] = data.y_default;
}

bool print_document_once(pappl_job_t* job, PrinterState& state, pappl_device_t* handed) {
  DeviceHold hold(job, state, handed);
  const Options options(papplJobCreatePrintOptions(job, 0, true));
  if (options == nullptr) return false;
  use_default_resolution(job, options.get());
  DocumentRun run{job, nullptr, {}, 0, -1};
  char message[MESSAGE_SIZE];
  if (!job_conf(*options, &run.conf, message)) {
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
  bool printed = false;
  run.held = open_holding_file();
  if (run.held < 0) {
    abort_with(job, PAPPL_JREASON_ABORTED_BY_SYSTEM, "Unable to make a file to hold the pages");
  } else {
    papplJobSetData(job, &run);
    printed = print_copies(run, hold, input, options->copies > 0 ? options->copies : 1);
    papplJobSetData(job, nullptr);
    close(run.held);
  }
  close(input);
  return printed;
}

// A raster job's state, from its first callback to its last.
struct RasterJob {
  PrinterState* state = nullptr;
  int id = 0;
  Conf conf{};
  std::unique_ptr<DeviceHold> hold;
  PngWriter writer;
  // The images, held until the job ends and then sent once for each copy:
  // PAPPL makes the copies of JPEG and PNG jobs, but not of PWG and Apple
  // raster.
  int held = -1;
  int copies = 1;
  unsigned pages = 0;
  // The thumbnails of what is sent, made from the lines as encoded.
  Preview* preview = nullptr;
  InputPage in{};
  OutputPage shown{};
  std::vector<uint8_t> shown_line;
  bool failed = false;
  char message[MESSAGE_SIZE] = "";
  RasterJob() = default;
  RasterJob(const RasterJob&) = delete;
  RasterJob& operator=(const RasterJob&) = delete;
  ~RasterJob() {
    if (held >= 0) close(held);
  }
};

// Set while this thread runs a job that another run has claimed: its raster
// callbacks then do nothing.
thread_local bool duplicate_run = false;

RasterJob* raster_job(pappl_job_t* job) { return static_cast<RasterJob*>(papplJobGetData(job)); }

bool line_format(const cups_page_header2_t& header, LineFormat* format) {
  const unsigned bits = header.cupsBitsPerPixel;
  switch (header.cupsColorSpace) {
    case CUPS_CSPACE_RGB:
    case CUPS_CSPACE_SRGB:
    case CUPS_CSPACE_ADOBERGB:
      if (bits == 24) *format = LineFormat::RGB8;
      if (bits == 48) *format = LineFormat::RGB16;
      return bits == 24 || bits == 48;
    case CUPS_CSPACE_W:
    case CUPS_CSPACE_SW:
      if (bits == 8) *format = LineFormat::GREY8;
      if (bits == 16) *format = LineFormat::GREY16;
      return bits == 8 || bits == 16;
    case CUPS_CSPACE_K:
      if (bits == 8) *format = LineFormat::BLACK8;
      if (bits == 1) *format = LineFormat::BLACK1;
      return bits == 8 || bits == 1;
    default:
      return false;
  }
}

void fail_raster(RasterJob& raster, pappl_job_t* job, pappl_jreason_t reason, const char* text) {
  if (raster.failed) return;
  raster.failed = true;
  static_cast<void>(std::snprintf(raster.message, sizeof raster.message, "%s", text));
  abort_with(job, reason, text);
}

bool raster_device_write(void* context, const void* data, size_t size) {
  return gs_write_descriptor(&static_cast<RasterJob*>(context)->held, data, size);
}

int copies_to_make(pappl_job_t* job, const pappl_pr_options_t& options) {
  const std::string_view format = papplJobGetFormat(job);
  const bool streamed = format == "image/pwg-raster" || format == "image/urf";
  return streamed && options.copies > 1 ? options.copies : 1;
}

// Sends the held images once for each copy; false after a message when that
// fails.
bool send_copies(pappl_job_t* job, RasterJob& raster) {
  pappl_device_t* device = raster.hold->open();
  if (device == nullptr) {
    fail_raster(raster, job, PAPPL_JREASON_ABORTED_BY_SYSTEM,
                "Unable to open the printer's device");
    return false;
  }
  for (int copy = 0; copy < raster.copies; ++copy) {
    if (papplJobIsCanceled(job)) return true;
    if (!send_held(raster.held, device)) {
      fail_raster(raster, job, PAPPL_JREASON_ABORTED_BY_SYSTEM, "Unable to send the pages");
      return false;
    }
    papplJobSetImpressionsCompleted(job, static_cast<int>(raster.pages));
  }
  papplDeviceFlush(device);
  return true;
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

bool print_raw(pappl_job_t* job, pappl_pr_options_t* /*options*/, pappl_device_t* /*device*/) {
  abort_with(job, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR,
             "Unsupported document format: send PDF, PostScript, PWG or Apple raster, JPEG or PNG");
  return false;
}

bool raster_start_job(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device) {
  PrinterState* state = printer_state(job);
  const int id = papplJobGetID(job);
  duplicate_run = !claim_job(*state, id);
  if (duplicate_run) {
    const bool result = wait_for_claim(*state, id);
    // PAPPL goes on to the other callbacks only for a true result.
    if (!result) {
      duplicate_run = false;
      end_second_run(*state, id);
    }
    return result;
  }
  auto raster = std::make_unique<RasterJob>();
  raster->state = state;
  raster->id = id;
  raster->hold = std::make_unique<DeviceHold>(job, *state, device);
  if (!job_conf(*options, &raster->conf, raster->message)) {
    abort_with(job, PAPPL_JREASON_DOCUMENT_UNPRINTABLE_ERROR, raster->message);
    settle_claim(*state, id, false);
    return false;
  }
  raster->copies = copies_to_make(job, *options);
  raster->preview = printer_preview(papplJobGetPrinter(job));
  preview_start_job(raster->preview, raster->conf.ink == INK_MONO);
  raster->held = open_holding_file();
  if (raster->held < 0) {
    fail_raster(*raster, job, PAPPL_JREASON_ABORTED_BY_SYSTEM,
                "Unable to make a file to hold the pages");
  }
  papplJobSetData(job, raster.release());
  return true;
}

bool raster_start_page(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* /*device*/,
                       unsigned /*page*/) {
  RasterJob* raster = raster_job(job);
  if (duplicate_run || raster == nullptr || raster->failed) return true;
  LineFormat format = LineFormat::RGB8;
  if (!line_format(options->header, &format)) {
    fail_raster(*raster, job, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR,
                "Unsupported raster: only 8 or 16-bit RGB, grey or black, or 1-bit black");
    return true;
  }
  const InputPage in{format, options->header.cupsWidth, options->header.cupsHeight};
  const OutputPage page{static_cast<uint32_t>(raster->conf.width),
                        static_cast<uint32_t>(raster->conf.height), raster->conf.ink == INK_MONO,
                        PNG_ZLIB_LEVEL};
  if (!raster->writer.start(in, page, PngSink{raster_device_write, raster})) {
    fail_raster(*raster, job, PAPPL_JREASON_ABORTED_BY_SYSTEM, "Unable to encode the page");
    return true;
  }
  // A page to be turned is shown from its lines as they come, then turned.
  const bool turn = needs_turn(in, page);
  raster->in = in;
  raster->shown = turn ? OutputPage{in.width, in.height, page.grey, 0} : page;
  raster->shown_line.resize(size_t{raster->shown.width} * (page.grey ? 1 : 3));
  preview_start_page(raster->preview, raster->shown.width, raster->shown.height, turn);
  return true;
}

bool raster_write_line(pappl_job_t* job, pappl_pr_options_t* /*options*/,
                       pappl_device_t* /*device*/, unsigned y, const unsigned char* line) {
  RasterJob* raster = raster_job(job);
  if (duplicate_run || raster == nullptr || raster->failed) return true;
  if (!raster->writer.line(line)) {
    fail_raster(*raster, job, PAPPL_JREASON_ABORTED_BY_SYSTEM, "Unable to send the page");
    return true;
  }
  if (raster->preview != nullptr && y < raster->shown.height) {
    // 8-bit lines of the page's width and kind are shown as they are.
    const LineFormat same = raster->shown.grey ? LineFormat::GREY8 : LineFormat::RGB8;
    const uint8_t* shown = line;
    if (raster->in.format != same || raster->in.width != raster->shown.width) {
      convert_line(raster->in, line, raster->shown, raster->shown_line.data());
      shown = raster->shown_line.data();
    }
    preview_rows(raster->preview, y, shown, 1);
  }
  return true;
}

bool raster_end_page(pappl_job_t* job, pappl_pr_options_t* /*options*/, pappl_device_t* /*device*/,
                     unsigned /*page*/) {
  RasterJob* raster = raster_job(job);
  if (duplicate_run || raster == nullptr || raster->failed) return true;
  if (!raster->writer.finish()) {
    fail_raster(*raster, job, PAPPL_JREASON_ABORTED_BY_SYSTEM, "Unable to send the page");
    return true;
  }
  preview_end_page(raster->preview);
  ++raster->pages;
  return true;
}

bool raster_end_job(pappl_job_t* job, pappl_pr_options_t* /*options*/, pappl_device_t* /*device*/) {
  if (duplicate_run) {
    duplicate_run = false;
    end_second_run(*printer_state(job), papplJobGetID(job));
    return true;
  }
  std::unique_ptr<RasterJob> raster(raster_job(job));
  papplJobSetData(job, nullptr);
  if (raster == nullptr) return false;
  if (!raster->failed) send_copies(job, *raster);
  const bool printed = !raster->failed;
  preview_end_job(raster->preview, job, printed && !papplJobIsCanceled(job));
  raster->hold.reset();
  settle_claim(*raster->state, raster->id, printed);
  return printed;
}
