// The filter driver: classifies a job by its first bytes, copies a job that is
// not PostScript to standard output unchanged, and has a PostScript job
// rasterised with the printer's settings or the built-in defaults.

#ifndef RAVO_FILTER_FILTER_H_
#define RAVO_FILTER_FILTER_H_

#include <cstddef>
#include <cstdio>

#include "conf/conf.h"

// Classification looks at the job through a read-only view of this many bytes
// of the file behind standard input, never through the stream.
inline constexpr size_t PEEK_LENGTH = 0xffff;
// The pass-through copy asks for at most this many bytes per read, into a
// buffer of COPY_BUFFER_SIZE bytes on the stack.
inline constexpr size_t COPY_CHUNK = 0xfffe;
inline constexpr size_t COPY_BUFFER_SIZE = 65536;
static_assert(COPY_CHUNK <= COPY_BUFFER_SIZE);

extern "C" {

// The settings used when the settings file is missing or unusable: colour,
// 360 dpi, an A4 page of 2976 x 4209 pixels.
extern const Conf Def_Conf;

// Whether the first `length` bytes of a job at `head` begin with "%!", or
// with the byte 0x04 and then "%!". Examines at most three bytes.
bool check_postscript(const unsigned char* head, size_t length);

}  // extern "C"

// Classifies the job in the file open on `fd` by its first bytes, seen through
// a private read-only mapping of its start and never through a stream. Returns
// false, classifying nothing, when the file cannot be mapped.
bool classify_job(int fd, bool* postscript);

// Copies `in` to `out` until the end of `in`, in reads of at most COPY_CHUNK
// bytes, and flushes `out`. Returns 0; or, when a read, write or the flush
// fails, 1 after one line on standard error naming the failure.
int pass_through(FILE* in, FILE* out);

// Handles the job on standard input and returns the exit status: 3 when the
// interpreter refused the job as broken; 1 when standard input cannot be
// mapped, a pass-through loses data, or the interpreter could not be run or
// was killed; else 0.
int filter_main();

#endif  // RAVO_FILTER_FILTER_H_
