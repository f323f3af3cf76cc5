#include "cups/ppd_writer.h"

#include <cups/ppd.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <set>
#include <span>
#include <string>

#include "cups/pstoravo.h"
#include "paper/catalogue.h"
#include "paper/paper.h"
#include "paper/size_names.h"
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

// The PPD as written, opened with libcups.
ppd_file_t* written_ppd() {
  const std::string path = ravo_test::scratch_dir() + "/written.ppd";
  FILE* out = std::fopen(path.c_str(), "w");
  if (out == nullptr) return nullptr;
  const int status = write_ppd(out, "9.9");
  std::fclose(out);
  return status == 0 ? ppdOpenFile(path.c_str()) : nullptr;
}

// Applications draw only where the printer prints: each size's imageable
// area keeps its table row's left and top margins, and lies on the page.
TEST(Ppd, ImageableAreaKeepsTheMarginsOfTheSizesRow) {
  ppd_file_t* ppd = written_ppd();
  ASSERT_NE(ppd, nullptr);
  const PaperConf* rows[MAX_SIZES];
  const size_t count = collect_sizes(rows);
  for (const PaperConf* row : std::span(rows, count)) {
    SCOPED_TRACE(row->name);
    const ppd_size_t* size = ppdPageSize(ppd, row->name);
    ASSERT_NE(size, nullptr);
    EXPECT_NEAR(size->left * 5, row->left_offset, 0.01);
    EXPECT_NEAR((size->length - size->top) * 5, row->top_offset, 0.01);
    EXPECT_NEAR((size->top - size->bottom) * 5,
                std::min(row->print_height, row->height - row->top_offset), 0.01);
    EXPECT_NEAR((size->right - size->left) * 5,
                std::min(row->print_width, row->width - row->left_offset), 0.01);
  }
  ppdClose(ppd);
}

// The filter prints each page once; CUPS makes the copies, whole jobs one
// after another, so that copies of a document come out collated.
TEST(Ppd, LeavesCopiesToCups) {
  ppd_file_t* ppd = written_ppd();
  ASSERT_NE(ppd, nullptr);
  EXPECT_EQ(ppd->manual_copies, 1);
  ppdClose(ppd);
}

// Every size keyword names one default, the same for all, which CUPS and
// cupstestppd require of the page size's companions too.
TEST(Ppd, NamesOneDefaultSizeForEverySizeKeyword) {
  ppd_file_t* ppd = written_ppd();
  ASSERT_NE(ppd, nullptr);
  std::set<std::string> defaults;
  for (const char* keyword :
       {"DefaultPageSize", "DefaultPageRegion", "DefaultImageableArea", "DefaultPaperDimension"}) {
    const ppd_attr_t* attr = ppdFindAttr(ppd, keyword, nullptr);
    ASSERT_NE(attr, nullptr) << keyword;
    ASSERT_NE(attr->value, nullptr) << keyword;
    defaults.insert(attr->value);
  }
  EXPECT_EQ(defaults.size(), 1U);
  ppdClose(ppd);
}

// A PPD that could not be written whole is a failure, for the build to stop.
TEST(Ppd, SaysWhenItCouldNotBeWritten) {
  FILE* full = std::fopen("/dev/full", "w");
  ASSERT_NE(full, nullptr);
  EXPECT_EQ(write_ppd(full, "9.9"), 1);
  std::fclose(full);
}

}  // namespace
