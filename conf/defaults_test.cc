#include "conf/defaults.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>

#include "filter/filter.h"

namespace {

// The lpd filter's fallback is a literal of its own; it must be the defaults
// record as the tables scale it.
TEST(Defaults, AgreeWithTheFiltersFallbackSettings) {
  Conf conf{};
  ASSERT_EQ(default_conf(&conf), CONF_USABLE);
  EXPECT_EQ(conf.ink, Def_Conf.ink);
  EXPECT_EQ(conf.resolution, Def_Conf.resolution);
  EXPECT_EQ(conf.width, Def_Conf.width);
  EXPECT_EQ(conf.height, Def_Conf.height);
}

TEST(Defaults, ResolutionIsOffered) {
  EXPECT_NE(std::find(std::begin(OFFERED_RESOLUTIONS), std::end(OFFERED_RESOLUTIONS),
                      DEFAULTS.resolution),
            std::end(OFFERED_RESOLUTIONS));
}

}  // namespace
