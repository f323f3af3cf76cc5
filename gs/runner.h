// Runs gs for the front ends that hand it a job file and take back its
// pages as PNG images: gs starts without a shell, reads the job from a
// descriptor, and draws raw pixels into a pipe; only pages of exactly the
// size asked for are taken, and encoded as PNG band by band as their rows
// arrive, so that no raw page is ever held whole; each image is passed on as
// soon as it is whole, or, where the document is checked by a second gs
// beside the drawing, once that check has passed it. A cancelled job stops
// gs at once, and gs dies with the process (or thread) that started it.

#ifndef RAVO_GS_RUNNER_H_
#define RAVO_GS_RUNNER_H_

#include <cstddef>
#include <cstdint>

#include "conf/conf.h"

// One run of gs for one job.
struct GsJob {
  const Conf* conf;  // the raster: size, resolution and colour
  bool buffered;     // gs reads its input with buffering ("-_"), else a byte a read
  int input;         // the job, gs's standard input
  // Takes each piece of the PNG images, in order, to the printer; false when
  // that failed, with errno set. Unless `unheld`, each image is held in an
  // unnamed file in $TMPDIR (or /tmp) until it is whole, so only whole
  // images come here; where no such file can be made, the pieces come as
  // they are encoded, and a page cut short may leave its start behind.
  bool (*write)(void* context, const void* data, size_t size);
  // Asked at least ten times a second while gs runs; true stops gs with
  // SIGTERM. May be null.
  bool (*cancelled)(void* context);
  void* context;  // handed to all the callbacks
  // Called after each whole PNG image has gone to `write`, with the number of
  // images passed on so far; may be null.
  void (*page_done)(void* context, uint32_t pages) = nullptr;
  // The document's pages to draw, counted from 1; 0 means from the first /
  // to the last (gs's -dFirstPage / -dLastPage).
  int32_t first_page = 0;
  int32_t last_page = 0;
  // When true, the whole document is also interpreted without drawing (gs
  // -sDEVICE=nullpage on `input`, which must then be seekable); when that
  // fails, the run ends with that outcome and nothing is written, nor any
  // page_done called. On a regular file, the check runs beside the drawing,
  // reading the file through a description of its own, and whole images
  // wait in the holding file until it has passed the document; they then
  // come at once, with one page_done, and later ones as they are whole.
  // Otherwise it runs first. An input that cannot be read again ends the run
  // as GS_NOT_STARTED (ESPIPE).
  bool precheck = false;
  // Shown each run of rows of a page just before they are encoded: the page,
  // counted from 1, the number of its first row, counted from 0, and `count`
  // rows of the Conf's width, grey (one byte a pixel) for INK_MONO, else RGB,
  // back to back; may be null.
  void (*rows_seen)(void* context, uint32_t page, uint32_t y, const uint8_t* rows,
                    uint32_t count) = nullptr;
  // True when the caller holds the pieces itself until `page_done` says an
  // image is whole: they then come as they are encoded, except while a
  // check beside the drawing has not yet passed the document.
  bool unheld = false;
};

// A `write` for GsJob that writes to the descriptor `*context` points to.
bool gs_write_descriptor(void* context, const void* data, size_t size);

enum GsOutcome {
  GS_PRINTED,       // every image came whole and was passed on; gs exited 0
  GS_CANCELLED,     // `cancelled` said so, or a signal interrupted the run
  GS_NOT_STARTED,   // gs could not be found or run (`error`)
  GS_FAILED,        // gs exited non-zero or was killed (`wait_status`)
  GS_BAD_OUTPUT,    // gs wrote something other than the raw pages asked for
  GS_NO_PAGES,      // gs exited 0 and wrote nothing
  GS_WRITE_FAILED,  // writing to `output` failed (`error`)
  GS_HOLD_FAILED,   // holding an image in $TMPDIR failed (`error`)
};

// Holds every message of describe_gs_run.
inline constexpr size_t GS_MESSAGE_SIZE = 160;

struct GsRun {
  GsOutcome outcome;
  int wait_status;    // of gs, once it has been waited for
  int error;          // errno, for GS_NOT_STARTED, GS_WRITE_FAILED and GS_HOLD_FAILED
  uint32_t pages;     // whole images passed on
  const char* fault;  // for GS_BAD_OUTPUT: what was wrong with the stream
};

// Runs gs on `job` and waits for it; fills `run`. Returns true for
// GS_PRINTED. Images checked before a fault may already have been written.
bool run_gs_job(const GsJob& job, GsRun* run);

// Says in one line what happened, for an outcome other than GS_PRINTED:
// "gs was not found", "gs exited with status 1", "gs wrote something other
// than the expected PNG images (...)", ... Returns false for GS_PRINTED.
// REQUIRES: `text` holds GS_MESSAGE_SIZE bytes.
bool describe_gs_run(const GsRun& run, char* text);

#endif  // RAVO_GS_RUNNER_H_
