// The filter allocates nothing of its own: under valgrind, its heap summary
// matches that of a C program doing only what the C library must (nothing
// for a pass-through; opening the settings file for a PostScript job).

#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>
#include <string>

#include "tests/support/files.h"
#include "tests/support/filter_process.h"
#include "tests/support/private_etc.h"

namespace ravo_test {
namespace {

// "N allocs, M frees, B bytes allocated" from a valgrind log, or "" if none.
std::string heap_usage(const std::string& log_path) {
  const std::string log = read_file(log_path);
  std::smatch match;
  static const std::regex usage("total heap usage: ([0-9,]+ allocs, [0-9,]+ frees, [0-9,]+ bytes)");
  return std::regex_search(log, match, usage) ? match[1].str() : "in use at exit? " + log;
}

class HeapTest : public PrivateEtcTest {
 protected:
  void SetUp() override {
    PrivateEtcTest::SetUp();
    if (IsSkipped() || HasFailure()) return;
#ifdef RAVO_SANITIZED
    GTEST_SKIP() << "valgrind cannot run a sanitized filter; the default build checks this";
#endif
    RAVO_REQUIRE(std::system("test -x " VALGRIND_PATH) == 0, "valgrind is not installed");
  }

  std::string filter_usage(const std::string& job) {
    const std::string log = scratch_dir() + "/filter.valgrind";
    FilterRun run{.job = job, .search_path = std::string(FAKE_GS_DIR) + ":/usr/bin:/bin"};
    run.environment.emplace_back("RAVO_FAKE_GS_LOG", scratch_dir());
    run.wrapper = {VALGRIND_PATH, "--log-file=" + log};
    EXPECT_EQ(run_filter(run).status, 0);
    return heap_usage(log);
  }

  static std::string reference_usage(const char* program) {
    const std::string log = scratch_dir() + "/reference.valgrind";
    const std::string command = std::string(VALGRIND_PATH " --log-file=") + log + " " + program;
    EXPECT_EQ(std::system(command.c_str()), 0);
    return heap_usage(log);
  }
};

TEST_F(HeapTest, PassThroughAllocatesNothing) {
  EXPECT_EQ(filter_usage(arbitrary_bytes(200000)), reference_usage(TRIVIAL_PROGRAM));
  EXPECT_EQ(filter_usage(""), reference_usage(TRIVIAL_PROGRAM));
}

TEST_F(HeapTest, PostScriptAllocatesOnlyWhatOpeningTheSettingsTakes) {
  const std::string job = "%!PS\nshowpage\n";
  EXPECT_EQ(filter_usage(job), reference_usage(OPEN_SETTINGS_PROGRAM)) << "without settings";
  put_settings("[Marven Jetto 412_519]\nink=MONO\nresolution=720\nmediasize=A4\n");
  EXPECT_EQ(filter_usage(job), reference_usage(OPEN_SETTINGS_PROGRAM)) << "with settings";
  put_settings("# malformed\n");
  EXPECT_EQ(filter_usage(job), reference_usage(OPEN_SETTINGS_PROGRAM)) << "malformed settings";
}

}  // namespace
}  // namespace ravo_test
