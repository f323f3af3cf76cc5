#include "cups/ppd_writer.h"

#include <cups/ppd.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <span>
#include <string>

#include "cups/pstoravo.h"
#include "paper/catalogue.h"
#include "paper/paper.h"
#include "tests/support/files.h"

#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

namespace {

TEST(Ppd, OffersEverySizeOnlyFromTheSourcesThatFeedIt) {
  const std::string path = ravo_test::scratch_dir() + "/jetto.ppd";
  FILE* out = std::fopen(path.c_str(), "w");
  ASSERT_NE(out, nullptr);
  ASSERT_EQ(write_ppd(out, "9.9"), 0);
  std::fclose(out);
  ppd_file_t* ppd = ppdOpenFile(path.c_str());
  ASSERT_NE(ppd, nullptr);

  const ppd_option_t* sizes = ppdFindOption(ppd, "PageSize");
  ASSERT_NE(sizes, nullptr);
  std::set<std::string> forbidden;  // both ways round
  for (int source = 0; source < Bin_Num; ++source) {
    for (int i = 0; i < sizes->num_choices; ++i) {
      const char* name = sizes->choices[i].choice;
      SCOPED_TRACE(std::string(Bins[source]) + " " + name);
      ppdMarkDefaults(ppd);
      ppdMarkOption(ppd, "InputSlot", Bins[source]);
      ppdMarkOption(ppd, "PageSize", name);
      const PaperConf* row = call_paper_conf(Bins[source], name);
      EXPECT_EQ(ppdConflicts(ppd) > 0, row == nullptr);
      if (row == nullptr) {
        forbidden.insert(std::string("InputSlot ") + Bins[source] + " PageSize " + name);
        forbidden.insert(std::string("PageSize ") + name + " InputSlot " + Bins[source]);
      }
      const ppd_size_t* size = ppdPageSize(ppd, name);
      ASSERT_NE(size, nullptr);
      // The size's code asks for the page its PaperDimension gives.
      float width = 0;
      float length = 0;
      EXPECT_EQ(std::sscanf(sizes->choices[i].code, "<</PageSize[%f %f]", &width, &length), 2);
      EXPECT_EQ(width, size->width);
      EXPECT_EQ(length, size->length);
      // The first source with the size sets its dimensions; others may
      // differ by a unit (L is 1260 wide on sheets, 1261 on trimmed roll).
      if (row != nullptr) {
        EXPECT_NEAR(size->width * 5, row->width, 1.01);
        EXPECT_NEAR(size->length * 5, row->height, 1.01);
      }
    }
  }
  std::set<std::string> constrained;
  for (const ppd_const_t& c : std::span(ppd->consts, static_cast<size_t>(ppd->num_consts))) {
    constrained.insert(std::string(c.option1) + " " + c.choice1 + " " + c.option2 + " " +
                       c.choice2);
  }
  EXPECT_EQ(constrained, forbidden);
  ppdClose(ppd);
}

TEST(ConfForChoices, UsesTheLpdFiltersValidation) {
  const struct {
    JobChoices choices;
    ConfFault fault;
    Conf conf;
  } cases[] = {
      {{"A4", "AUTO", "360dpi", "RGB"}, CONF_USABLE, {1, 360, 2976, 4209}},
      {{"A6", "AUTO", "180dpi", "Gray"}, CONF_USABLE, {2, 180, 744, 1049}},
      {{"L", "TROLL", "720dpi", "Gray"}, CONF_USABLE, {2, 720, 2522, 3600}},
      {{"NC", "AUTO", "360dpi", "RGB"}, CONF_SIZE_NOT_IN_SOURCE, {}},
      {{"A4", "AUTO", "360x720dpi", "RGB"}, CONF_BAD_RESOLUTION, {}},
      {{"A4", "AUTO", "360dpi", "CMYK"}, CONF_BAD_INK, {}},
      {{nullptr, nullptr, nullptr, nullptr}, CONF_BAD_INK, {}},
  };
  for (const auto& c : cases) {
    Conf conf{};
    EXPECT_EQ(conf_for_choices(c.choices, &conf), c.fault) << c.choices.page_size;
    EXPECT_EQ(conf.width, c.conf.width);
    EXPECT_EQ(conf.height, c.conf.height);
    EXPECT_EQ(conf.ink, c.conf.ink);
  }
}

}  // namespace
