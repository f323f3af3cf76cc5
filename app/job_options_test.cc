#include "app/job_options.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// A job's raster comes from the lpd filter's own tables; a resolution that
// makes no raster is refused, with the size and resolution named.
TEST(JobOptions, MakesTheRasterOfAPaperRowAtAResolution) {
  const struct {
    const char* source;
    const char* size;
    int32_t ink;
    int32_t resolution;
    bool made;
    Conf conf;
    const char* message;
  } cases[] = {
      {"AUTO", "A4", INK_COLOUR, 360, true, {INK_COLOUR, 360, 2976, 4209}, ""},
      {"AUTO", "A6", INK_MONO, 180, true, {INK_MONO, 180, 744, 1049}, ""},
      {"AUTO", "A4", INK_COLOUR, 0, false, {}, "Size A4 at 0 dpi cannot be printed"},
      {"TROLL", "L", INK_MONO, -360, false, {}, "Size L at -360 dpi cannot be printed"},
  };
  for (const auto& c : cases) {
    const PaperConf* paper = call_paper_conf(c.source, c.size);
    ASSERT_NE(paper, nullptr) << c.size;
    Conf conf{};
    char message[JOB_MESSAGE_SIZE] = "";
    EXPECT_EQ(job_conf(*paper, c.ink, c.resolution, &conf, message), c.made) << c.resolution;
    EXPECT_STREQ(message, c.message);
    if (c.made) {
      EXPECT_EQ(conf.ink, c.conf.ink);
      EXPECT_EQ(conf.resolution, c.conf.resolution);
      EXPECT_EQ(conf.width, c.conf.width);
      EXPECT_EQ(conf.height, c.conf.height);
    }
  }
}

TEST(JobOptions, PrintsGreyOnlyForAMonochromeJob) {
  pappl_pr_options_t options{};
  for (const pappl_color_mode_t mode :
       {PAPPL_COLOR_MODE_AUTO, PAPPL_COLOR_MODE_COLOR, PAPPL_COLOR_MODE_AUTO_MONOCHROME}) {
    options.print_color_mode = mode;
    EXPECT_EQ(job_ink(options), INK_COLOUR) << mode;
  }
  options.print_color_mode = PAPPL_COLOR_MODE_MONOCHROME;
  EXPECT_EQ(job_ink(options), INK_MONO);
}

}  // namespace
