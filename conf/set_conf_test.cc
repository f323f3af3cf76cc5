#include "conf/set_conf.h"

#include <gtest/gtest.h>

namespace {

constexpr Conf UNTOUCHED = {-7, -7, -7, -7};

bool operator==(const Conf& a, const Conf& b) {
  return a.ink == b.ink && a.resolution == b.resolution && a.width == b.width &&
         a.height == b.height;
}

struct Case {
  int32_t ink;
  int32_t resolution;
  const char* media;
  const char* source;
  Conf expected;  // UNTOUCHED when refused
};

TEST(SetConf, ScalesThePageOrRefusesWithoutTouchingTheRecord) {
  const Case cases[] = {
      {2, 720, "A4", "AUTO", {2, 720, 5952, 8418}},
      {1, 360, "A4", "AUTO", {1, 360, 2976, 4209}},
      {1, 300, "A4", "AUTO", {1, 300, 2480, 3507}},
      {1, 180, "A4", "AUTO", {1, 180, 1488, 2104}},
      {1, 1440, "A4", "AUTO", {1, 1440, 11904, 16836}},
      {1, 180, "PC", "AUTO", {1, 180, 708, 1049}},
      {1, 300, "PC", "AUTO", {1, 300, 1180, 1748}},
      {1, 1440, "L", "", {1, 1440, 5040, 7200}},
      {1, 300, "L", nullptr, {1, 300, 1050, 1500}},
      {2, 180, "A6", "AUTO", {2, 180, 744, 1049}},
      {1, 1, "A4", "AUTO", {1, 1, 8, 11}},
      {1, 360, "NC", "ROLL", {1, 360, 1261, 779}},
      {1, 360, "L", "TR820", {1, 360, 1261, 1800}},
      {2, 360, "PC", "TAUTO", {2, 360, 1417, 2098}},
      // The largest resolution whose pixels fit, for the tallest page and A4.
      {1, 255075, "PANORAM", "AUTO", {1, 255075, 2108620, 5965212}},
      {1, 255076, "A4", "AUTO", {1, 255076, 2108628, 2982263}},
      {1, 255076, "PANORAM", "AUTO", UNTOUCHED},
      {1, INT32_MAX, "A4", "AUTO", UNTOUCHED},
      // Missing or unusable values.
      {0, 360, "A4", "AUTO", UNTOUCHED},
      {3, 360, "A4", "AUTO", UNTOUCHED},
      {-1, 360, "A4", "AUTO", UNTOUCHED},
      {1, 0, "A4", "AUTO", UNTOUCHED},
      {1, -300, "A4", "AUTO", UNTOUCHED},
      {1, INT32_MIN, "A4", "AUTO", UNTOUCHED},
      {1, 360, "", "AUTO", UNTOUCHED},
      {1, 360, nullptr, "AUTO", UNTOUCHED},
      {1, 360, "a4", "AUTO", UNTOUCHED},
      {1, 360, "NC", "AUTO", UNTOUCHED},
      {1, 360, "A4", "T4AUTO", UNTOUCHED},
      {1, 360, "A4", "CASSETTE", UNTOUCHED},
  };
  for (const Case& c : cases) {
    Conf conf = UNTOUCHED;
    const int result = set_conf(&conf, c.ink, c.resolution, c.media, c.source);
    EXPECT_EQ(result, c.expected == UNTOUCHED ? 1 : 0)
        << c.ink << " " << c.resolution << " " << (c.media ? c.media : "(null)");
    EXPECT_TRUE(conf == c.expected)
        << c.ink << " " << c.resolution << " " << (c.media ? c.media : "(null)") << " gave "
        << conf.ink << " " << conf.resolution << " " << conf.width << "x" << conf.height;
  }
}

TEST(SetConf, RefusesANullRecord) { EXPECT_EQ(set_conf(nullptr, 1, 360, "A4", "AUTO"), 1); }

// A row found already scales as the same row found by name, with the same
// checks of the ink and the resolution.
TEST(SetConf, ARowFoundAlreadyScalesAsByName) {
  struct Row {
    int32_t ink;
    int32_t resolution;
    const char* media;
    const char* source;
  };
  const Row rows[] = {{1, 360, "A4", "AUTO"}, {2, 180, "PC", "TAUTO"}, {1, 720, "NC", "ROLL"},
                      {3, 360, "A4", "AUTO"}, {1, 0, "A4", "AUTO"},    {1, 255076, "A4", "AUTO"}};
  for (const Row& r : rows) {
    Conf by_name = UNTOUCHED;
    Conf by_row = UNTOUCHED;
    EXPECT_EQ(
        fill_conf(&by_name, r.ink, r.resolution, r.media, r.source),
        fill_conf_for_paper(&by_row, r.ink, r.resolution, *call_paper_conf(r.source, r.media)))
        << r.media << " at " << r.resolution;
    EXPECT_TRUE(by_name == by_row) << r.media << " at " << r.resolution;
  }
}

}  // namespace
