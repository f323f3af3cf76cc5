#include "filter/rasterise.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "filter/filter.h"

namespace {

const std::string OPTIONS = " -q -dNOPROMPT -dNOPAUSE -dSAFER -sstdout=%stderr -sDEVICE=";
const std::string OUTPUT = " -sOutputFile=- - -c quit";

TEST(FormatGsCommand, OneCommandPerInkWithThePageInPixels) {
  const struct {
    Conf conf;
    std::string expected;
  } cases[] = {
      {Def_Conf, "gs -r360 -g2976x4209" + OPTIONS + "png16m" + OUTPUT},
      {{2, 720, 5952, 8418}, "gs -r720 -g5952x8418" + OPTIONS + "pnggray" + OUTPUT},
      {{1, 300, 2480, 3507}, "gs -r300 -g2480x3507" + OPTIONS + "png16m" + OUTPUT},
      {{1, -300, -2480, -3507}, "gs -r-300 -g-2480x-3507" + OPTIONS + "png16m" + OUTPUT},
      {{2, 2147483647, 2147483647, 2147483647},
       "gs -r2147483647 -g2147483647x2147483647" + OPTIONS + "pnggray" + OUTPUT},
      // The longest command there can be.
      {{2, INT32_MIN, INT32_MIN, INT32_MIN},
       "gs -r-2147483648 -g-2147483648x-2147483648" + OPTIONS + "pnggray" + OUTPUT},
  };
  for (const auto& c : cases) {
    char command[COMMAND_SIZE + 1];
    std::memset(command, '#', sizeof command);
    const size_t length = format_gs_command(c.conf, command);
    EXPECT_EQ(std::string(command), c.expected);
    EXPECT_EQ(length, c.expected.size());
    EXPECT_EQ(command[COMMAND_SIZE], '#');
  }
}

}  // namespace
