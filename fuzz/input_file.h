// An in-memory file that holds each fuzz input, so that the code under test
// reads a real file without the fuzzer touching the disk.

#ifndef RAVO_FUZZ_INPUT_FILE_H_
#define RAVO_FUZZ_INPUT_FILE_H_

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>

// Returns the descriptor of a new, empty in-memory file.
inline int make_input_file(const char* name) {
  const int fd = memfd_create(name, 0);
  if (fd < 0) std::abort();
  return fd;
}

// Makes `data` the whole content of the in-memory file `fd`.
inline void replace_contents(int fd, const uint8_t* data, size_t size) {
  if (ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)) {
    std::abort();
  }
}

#endif  // RAVO_FUZZ_INPUT_FILE_H_
