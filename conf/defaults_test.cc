#include "conf/defaults.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>

namespace {

TEST(Defaults, ResolutionIsOffered) {
  EXPECT_NE(std::find(std::begin(OFFERED_RESOLUTIONS), std::end(OFFERED_RESOLUTIONS),
                      DEFAULTS.resolution),
            std::end(OFFERED_RESOLUTIONS));
}

// The defaults name a size of their source's table.
TEST(Defaults, MakeAUsableRecord) {
  Conf conf{};
  ASSERT_EQ(default_conf(&conf), CONF_USABLE);
  EXPECT_EQ(conf.ink, DEFAULTS.ink);
  EXPECT_EQ(conf.resolution, DEFAULTS.resolution);
}

}  // namespace
