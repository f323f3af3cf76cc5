// Classifies arbitrary short job files through the same mapping the filter
// uses, and checks the result against the signature rule.

#include <cstdint>
#include <cstdlib>

#include "filter/filter.h"
#include "fuzz/input_file.h"

namespace {

int job_fd = -1;

bool has_signature(const uint8_t* data, size_t size) {
  if (size >= 2 && data[0] == '%' && data[1] == '!') return true;
  return size >= 3 && data[0] == 0x04 && data[1] == '%' && data[2] == '!';
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  job_fd = make_input_file("job");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  replace_contents(job_fd, data, size);
  bool postscript = false;
  if (!classify_job(job_fd, &postscript)) std::abort();
  if (postscript != has_signature(data, size)) std::abort();
  return 0;
}
