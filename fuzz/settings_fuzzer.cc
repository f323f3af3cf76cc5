// Feeds arbitrary file contents to the settings reader. A reading that
// succeeds must give a usable record; one that fails must leave it untouched.

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "conf/settings.h"
#include "fuzz/input_file.h"

namespace {

int settings_fd = -1;
char settings_path[64];

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  settings_fd = make_input_file("ravorc");
  std::snprintf(settings_path, sizeof settings_path, "/proc/self/fd/%d", settings_fd);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  replace_contents(settings_fd, data, size);
  constexpr Conf untouched = {-7, -7, -7, -7};
  Conf conf = untouched;
  const int result = read_conf_file(settings_path, &conf);
  if (result == 0) {
    if (conf.ink != INK_COLOUR && conf.ink != INK_MONO) std::abort();
    if (conf.resolution <= 0 || conf.width <= 0 || conf.height <= 0) std::abort();
  } else if (result != 1 || conf.ink != untouched.ink || conf.resolution != untouched.resolution ||
             conf.width != untouched.width || conf.height != untouched.height) {
    std::abort();
  }
  return 0;
}
