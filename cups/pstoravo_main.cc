#include "cups/pstoravo.h"

int main(int argc, char** argv) { return pstoravo_main(argc, argv); }

#if defined(__SANITIZE_ADDRESS__)
// libcups 2.4 leaks a little of the PPD cache that cupsMarkOptions builds for
// IPP options such as media. CUPS runs filters with an environment of its
// own, so the sanitized filter carries its settings and the suppression.
extern "C" const char* __asan_default_options() { return "fast_unwind_on_malloc=0"; }
extern "C" const char* __lsan_default_suppressions() { return "leak:_ppdCacheCreateWithPPD"; }
#endif
