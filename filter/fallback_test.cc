#include <gtest/gtest.h>

#include "conf/defaults.h"
#include "filter/filter.h"

namespace {

// The lpd filter's fallback is a literal of its own, under its fixed name;
// it must be the built-in defaults as the paper tables scale them.
TEST(FilterFallback, IsTheBuiltInDefaults) {
  Conf conf{};
  ASSERT_EQ(default_conf(&conf), CONF_USABLE);
  EXPECT_EQ(conf.ink, Def_Conf.ink);
  EXPECT_EQ(conf.resolution, Def_Conf.resolution);
  EXPECT_EQ(conf.width, Def_Conf.width);
  EXPECT_EQ(conf.height, Def_Conf.height);
}

}  // namespace
