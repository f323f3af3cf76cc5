#include "paper/size_names.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "paper/catalogue.h"

namespace {

TEST(SizeNames, NameEverySizeOfEveryTableOnce) {
  const PaperConf* rows[MAX_SIZES];
  const size_t count = collect_sizes(rows);
  EXPECT_EQ(count, sizeof SIZE_NAMES / sizeof SIZE_NAMES[0]);
  for (size_t i = 0; i < count; ++i) {
    const SizeName* entry = find_size_name(rows[i]->name);
    ASSERT_NE(entry, nullptr) << rows[i]->name;
    // Each source finds its own row of the size back by the PWG name.
    for (int source = 0; source < Bin_Num; ++source) {
      const PaperConf* row = call_paper_conf(Bins[source], rows[i]->name);
      if (row != nullptr) {
        EXPECT_EQ(find_pwg_size(Bins[source], entry->pwg), row);
      }
    }
  }
}

// The README's table of size names is this one, with the pixels at 360 dpi
// of the first table that holds each size.
TEST(SizeNames, ReadmeListsEachNameWithItsPixels) {
  std::ifstream readme(README_PATH);
  const std::string text((std::istreambuf_iterator<char>(readme)), {});
  ASSERT_FALSE(text.empty());
  for (const SizeName& entry : SIZE_NAMES) {
    const PaperConf* size = nullptr;
    for (int source = 0; source < Bin_Num && size == nullptr; ++source) {
      size = call_paper_conf(Bins[source], entry.keyword);
    }
    ASSERT_NE(size, nullptr) << entry.keyword;
    const std::string row = std::string("\n| `") + entry.keyword + "` | " + entry.text + " | `" +
                            entry.pwg + "` | " + std::to_string(size->width) + " x " +
                            std::to_string(size->height) + " ";
    EXPECT_NE(text.find(row), std::string::npos) << row;
  }
}

TEST(SizeNames, SharedPwgNamesResolveByPaperSource) {
  const struct {
    const char* source;
    const char* pwg;
    const char* keyword;  // null: the source has no such size
  } cases[] = {
      {"AUTO", "na_index-4x6_4x6in", "4X6FULL"}, {"ROLL", "na_index-4x6_4x6in", "4X6"},
      {"AUTO", "oe_photo-l_3.5x5in", "L"},       {"TAUTO", "oe_photo-l_3.5x5in", nullptr},
      {"AUTO", "na_letter_8.5x11in", "LT"},      {"T4AUTO", "iso_a4_210x297mm", nullptr},
      {"BOGUS", "iso_a4_210x297mm", nullptr},    {"AUTO", "iso_a4_210x298mm", nullptr},
  };
  for (const auto& c : cases) {
    const PaperConf* row = find_pwg_size(c.source, c.pwg);
    EXPECT_EQ(row == nullptr ? std::string("(none)") : row->name,
              c.keyword == nullptr ? "(none)" : c.keyword)
        << c.source << " " << c.pwg;
  }
  EXPECT_EQ(find_pwg_size("TROLL", "oe_photo-l_3.5x5in")->width, 1261);
  EXPECT_STREQ(size_text("LT"), "US Letter");
  EXPECT_STREQ(size_text("XX"), "XX");
}

}  // namespace
