// Feeds arbitrary file contents to the settings reader. A reading that
// succeeds must give a usable record; one that fails must leave it untouched.
// The settings checker, and the reader asked for a diagnosis, must reach the
// filter's verdict and record for the same bytes, and point only at lines the
// file has.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "check/check.h"
#include "conf/settings.h"
#include "fuzz/input_file.h"

namespace {

int settings_fd = -1;
char settings_path[64];
FILE* discard = nullptr;

bool same(const Conf& a, const Conf& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

int line_count(const uint8_t* data, size_t size) {
  int lines = 1;
  for (size_t i = 0; i < size; ++i) lines += data[i] == '\n' ? 1 : 0;
  return lines;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  settings_fd = make_input_file("ravorc");
  std::snprintf(settings_path, sizeof settings_path, "/proc/self/fd/%d", settings_fd);
  discard = std::fopen("/dev/null", "w");
  if (discard == nullptr) std::abort();
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
  } else if (result != 1 || !same(conf, untouched)) {
    std::abort();
  }

  Conf diagnosed = untouched;
  ConfDiagnosis diagnosis;
  if (read_conf_file(settings_path, &diagnosed, &diagnosis) != result) std::abort();
  if ((diagnosis.fault == CONF_USABLE) != (result == 0) || !same(diagnosed, conf)) std::abort();
  const int lines = line_count(data, size);
  if (diagnosis.line < 0 || diagnosis.line > lines || diagnosis.header_line > lines) std::abort();

  Conf checked = untouched;
  if (check_settings(settings_path, discard, discard, &checked) != result) std::abort();
  if (!same(checked, conf)) std::abort();
  return 0;
}
