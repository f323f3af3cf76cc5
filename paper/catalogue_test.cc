#include "paper/catalogue.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "paper/paper.h"

namespace {

TEST(CatalogueLists, NamesAndCounts) {
  ASSERT_EQ(Ink_Num, 2);
  EXPECT_STREQ(Inks[0], "COLOR");
  EXPECT_STREQ(Inks[1], "MONO");
  ASSERT_EQ(Bin_Num, 6);
  std::string bins;
  for (int32_t i = 0; i < Bin_Num; ++i) bins += std::string(Bins[i]) + " ";
  EXPECT_EQ(bins, "AUTO ROLL TROLL TR3300 TR820 TAUTO ");
}

TEST(CatalogueLists, EveryPaperSourceHasATable) {
  for (int32_t i = 0; i < Bin_Num; ++i) {
    EXPECT_NE(call_paper_conf(Bins[i], "A4"), nullptr) << Bins[i];
  }
}

TEST(CatalogueLists, MediaSizesAgreeWithThePaperTables) {
  int sizes = 0;
  const MediaSize* size = Media_Size;
  for (; size->name[0] != '\0'; ++size, ++sizes) {
    const PaperConf* paper = call_paper_conf("AUTO", size->name);
    if (paper == nullptr) paper = call_paper_conf("ROLL", size->name);
    ASSERT_NE(paper, nullptr) << size->name;
    // "L" is listed at its borderless roll width.
    if (std::string(size->name) == "L") paper = call_paper_conf("TROLL", "L");
    EXPECT_EQ(size->width, paper->width) << size->name;
    EXPECT_EQ(size->height, paper->height) << size->name;
  }
  EXPECT_EQ(sizes, 21);
  EXPECT_EQ(size->width, 0);
  EXPECT_EQ(size->height, 0);
}

TEST(RoundOff, AddsAHalfAndTruncatesTowardZero) {
  constexpr double inf = std::numeric_limits<double>::infinity();
  const struct {
    double value;
    int32_t expected;
  } cases[] = {
      {2.5, 3},
      {2.49, 2},
      {359.5, 360},
      {0.0, 0},
      {-0.7, 0},
      {-1.5, -1},
      {-2.6, -2},
      {0.49999999999999994, 0},
      {0.5, 1},
      {2147483646.5, 2147483647},
      {2147483646.9, 2147483647},
      {2147483647.5, INT32_MIN},
      {-2147483648.0, -2147483647},
      {-2147483648.5, INT32_MIN},
      {2147483647.4, 2147483647},
      {-2147483649.0, INT32_MIN},
      {1e300, INT32_MIN},
      {inf, INT32_MIN},
      {-inf, INT32_MIN},
      {std::nan(""), INT32_MIN},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(round_off(c.value), c.expected) << c.value;
  }
}

}  // namespace
