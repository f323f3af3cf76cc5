// Small file helpers shared by the tests: a private temporary directory per
// test program, and whole-file reads and writes.

#ifndef RAVO_TESTS_SUPPORT_FILES_H_
#define RAVO_TESTS_SUPPORT_FILES_H_

#include <string>

namespace ravo_test {

// A directory of this test process's own under $TMPDIR (or /tmp), made on
// first use and removed with its contents when the process exits.
const std::string& scratch_dir();

// Writes `content` to scratch_dir()/`name` and returns the file's path.
std::string write_scratch_file(const std::string& name, const std::string& content);

// The whole content of the file at `path`; empty when it cannot be read.
std::string read_file(const std::string& path);

// `count` bytes of every value, NUL included, in a fixed pseudo-random order.
std::string arbitrary_bytes(size_t count);

}  // namespace ravo_test

#endif  // RAVO_TESTS_SUPPORT_FILES_H_
