#include "app/media.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

pappl_media_col_t job_col(const char* source, int margin, const char* size_name) {
  pappl_media_col_t col{};
  std::snprintf(col.source, sizeof col.source, "%s", source);
  std::snprintf(col.size_name, sizeof col.size_name, "%s", size_name);
  col.left_margin = col.right_margin = col.top_margin = col.bottom_margin = margin;
  return col;
}

TEST(MediaTest, ResolvesSourceMarginsAndSizeToATableRow) {
  struct Case {
    const char* source;
    int margin;
    const char* size;
    const char* table;  // null: no such source
    const char* row;    // null: the table lacks the size
    int width;          // of the row, 1/360 inch
  };
  const Case cases[] = {
      {"auto", 296, "iso_a4_210x297mm", "AUTO", "A4", 2976},
      {"", 296, "iso_a4_210x297mm", "AUTO", "A4", 2976},
      {"auto", 0, "iso_a4_210x297mm", "TAUTO", "A4", 2976},
      {"main-roll", 296, "na_index-4x6_4x6in", "ROLL", "4X6", 1417},
      {"auto", 296, "na_index-4x6_4x6in", "AUTO", "4X6FULL", 1440},
      {"main-roll", 0, "oe_photo-l_3.5x5in", "TROLL", "L", 1261},
      {"main-roll", 296, "oe_photo-l_3.5x5in", "ROLL", "L", 1260},
      {"auto", 0, "iso_a3_297x420mm", "TAUTO", nullptr, 0},
      {"auto", 296, "custom_name-card_55x89mm", "AUTO", nullptr, 0},
      {"tray-2", 296, "iso_a4_210x297mm", nullptr, nullptr, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.source) + " " + c.size + " margin " + std::to_string(c.margin));
    const JobMedia media = resolve_media(job_col(c.source, c.margin, c.size));
    if (c.table == nullptr) {
      EXPECT_EQ(media.source, nullptr);
      continue;
    }
    ASSERT_NE(media.source, nullptr);
    EXPECT_STREQ(media.source, c.table);
    if (c.row == nullptr) {
      EXPECT_EQ(media.row, nullptr);
      continue;
    }
    ASSERT_NE(media.row, nullptr);
    EXPECT_STREQ(media.row->name, c.row);
    EXPECT_EQ(media.row->width, c.width);
  }
}

TEST(MediaTest, ResolvesASizeByItsDimensionsWhenItsNameIsNotOurs) {
  // PAPPL names a size given only by its dimensions custom_...
  struct Case {
    const char* source;
    const char* name;
    int width;
    int length;
    const char* row;
  };
  const Case cases[] = {
      {"auto", "", 21000, 29700, "A4"},
      {"main-roll", "custom_55x89mm_55x89mm", 5500, 8900, "NC"},
      {"main-roll", "custom_55x90mm_55x90mm", 5500, 9000, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    pappl_media_col_t col = job_col(c.source, 296, c.name);
    col.size_width = c.width;
    col.size_length = c.length;
    const JobMedia media = resolve_media(col);
    if (c.row == nullptr) {
      EXPECT_EQ(media.row, nullptr);
    } else {
      ASSERT_NE(media.row, nullptr);
      EXPECT_STREQ(media.row->name, c.row);
    }
  }
}

TEST(MediaTest, NamesTheSizeTheSourceAndWhatItTakes) {
  char text[512];
  describe_unfeedable(job_col("main-roll", 0, "iso_a3_297x420mm"), text, sizeof text);
  EXPECT_STREQ(text,
               "Size iso_a3_297x420mm cannot be fed from main-roll without margins, which takes "
               "A4, Postcard, 4 x 6 in, L (89 x 127 mm), Name Card");
  describe_unfeedable(job_col("auto", 296, "custom_name-card_55x89mm"), text, 40);
  EXPECT_EQ(std::strlen(text), 39u);
}

TEST(MediaTest, DescribesLandscapeSizesPortraitWithTheirTableMargins) {
  pappl_media_col_t col;
  ASSERT_TRUE(fill_media_col(*call_paper_conf("AUTO", "ENV10"), "auto", false, &col));
  EXPECT_STREQ(col.size_name, "na_number-10_4.125x9.5in");
  EXPECT_EQ(col.size_width, 10477);
  EXPECT_EQ(col.size_length, 24130);
  EXPECT_EQ(col.left_margin, 296);
  ASSERT_TRUE(fill_media_col(*call_paper_conf("AUTO", "A4"), "auto", false, &col));
  EXPECT_EQ(col.bottom_margin, 1397);  // 4209 - 3969 - 42 of 1/360 inch
  ASSERT_TRUE(fill_media_col(*call_paper_conf("TROLL", "L"), "main-roll", true, &col));
  EXPECT_TRUE(is_borderless(col));
  EXPECT_STREQ(col.source, "main-roll");
}

TEST(MediaTest, ListsEachPwgNameOnceAndPwgKnowsThemAll) {
  const char* names[PAPPL_MAX_MEDIA];
  const size_t count = collect_pwg_names(names, PAPPL_MAX_MEDIA);
  EXPECT_EQ(count, 32u);  // 33 keywords; 4X6 and 4X6FULL share a name
  for (size_t i = 0; i < count; ++i) {
    EXPECT_NE(pwgMediaForPWG(names[i]), nullptr) << names[i];
    for (size_t j = 0; j < i; ++j) EXPECT_STRNE(names[i], names[j]);
  }
}

TEST(MediaTest, IsBorderlessOnlyWithAllFourMarginsZero) {
  struct Case {
    int left, right, top, bottom;
    bool borderless;
  };
  const Case cases[] = {
      {0, 0, 0, 0, true},
      // The roll's ready media: side margins, none at top and bottom.
      {296, 296, 0, 0, false},
      {296, 0, 0, 0, false},
      {0, 296, 0, 0, false},
      {0, 0, 296, 0, false},
      {0, 0, 0, 296, false},
  };
  for (const Case& c : cases) {
    pappl_media_col_t col{};
    col.left_margin = c.left;
    col.right_margin = c.right;
    col.top_margin = c.top;
    col.bottom_margin = c.bottom;
    EXPECT_EQ(is_borderless(col), c.borderless)
        << c.left << " " << c.right << " " << c.top << " " << c.bottom;
  }
  pappl_media_col_t roll{};
  ASSERT_TRUE(fill_media_col(*call_paper_conf("ROLL", "A4"), "main-roll", false, &roll));
  const JobMedia media = resolve_media(roll);
  ASSERT_NE(media.source, nullptr);
  EXPECT_STREQ(media.source, "ROLL");
}

TEST(MediaTest, FeedsASizeNamedWithoutASourceFromTheTableThatHasIt) {
  struct Case {
    const char* size;
    int margin;
    const char* table;
  };
  const Case cases[] = {
      {"iso_a4_210x297mm", 0, "TAUTO"},   {"iso_a4_210x297mm", 296, "AUTO"},
      {"na_index-4x6_4x6in", 0, "TROLL"},  // the feeder takes it only with margins
      {"oe_photo-l_3.5x5in", 0, "TROLL"}, {"custom_name-card_55x89mm", 296, "ROLL"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size);
    const JobMedia media = resolve_media(job_col("", c.margin, c.size));
    ASSERT_NE(media.row, nullptr);
    EXPECT_STREQ(media.source, c.table);
  }
}

// A job's attributes, as ipptool would send them.
struct Request {
  ipp_t* ipp = ippNew();
  Request(const Request&) = delete;
  Request& operator=(const Request&) = delete;
  Request() = default;
  ~Request() { ippDelete(ipp); }
  JobRequest attributes() const {
    return {ippFindAttribute(ipp, "media", IPP_TAG_ZERO),
            ippFindAttribute(ipp, "media-col", IPP_TAG_BEGIN_COLLECTION),
            ippFindAttribute(ipp, "print-color-mode", IPP_TAG_ZERO),
            ippFindAttribute(ipp, "printer-resolution", IPP_TAG_RESOLUTION)};
  }
};

void add_col(ipp_t* ipp, int width, int length, const char* source) {
  ipp_t* col = ippNew();
  ipp_t* size = ippNew();
  ippAddInteger(size, IPP_TAG_ZERO, IPP_TAG_INTEGER, "x-dimension", width);
  ippAddInteger(size, IPP_TAG_ZERO, IPP_TAG_INTEGER, "y-dimension", length);
  ippAddCollection(col, IPP_TAG_ZERO, "media-size", size);
  if (source != nullptr) {
    ippAddString(col, IPP_TAG_ZERO, IPP_TAG_KEYWORD, "media-source", nullptr, source);
  }
  ippAddCollection(ipp, IPP_TAG_JOB, "media-col", col);
  ippDelete(size);
  ippDelete(col);
}

TEST(MediaTest, ChecksWhatAJobAsksForAgainstWhatThePrinterHas) {
  struct Case {
    const char* name;
    const char* media;
    int width, length;  // media-col's size, 0 for none
    const char* source;
    const char* mode;
    int dpi;
    const char* said;  // the start of the message, null when it passes
    int down = 0;      // the resolution's second value, where it is not `dpi`
  };
  const Case cases[] = {
      {"nothing asked", nullptr, 0, 0, nullptr, nullptr, 0, nullptr},
      {"A4 by name", "iso_a4_210x297mm", 0, 0, nullptr, nullptr, 0, nullptr},
      {"A0 by name", "iso_a0_841x1189mm", 0, 0, nullptr, nullptr, 0,
       "The printer has no size iso_a0_841x1189mm; it has iso_a4_210x297mm,"},
      {"A4 by size", nullptr, 21000, 29700, "auto", nullptr, 0, nullptr},
      {"name card by size from the roll", nullptr, 5500, 8900, "main-roll", nullptr, 0, nullptr},
      {"A0 by size", nullptr, 84100, 118900, nullptr, nullptr, 0,
       "The printer has no size of 841.00x1189.00mm; it has"},
      {"another source", nullptr, 21000, 29700, "tray-2", nullptr, 0,
       "The printer has no media source tray-2; it has auto and main-roll"},
      {"monochrome at 720 dpi", nullptr, 0, 0, nullptr, "monochrome", 720, nullptr},
      {"bi-level", nullptr, 0, 0, nullptr, "bi-level", 0,
       "The printer has no colour mode bi-level; it has auto, color and monochrome"},
      {"300 dpi", nullptr, 0, 0, nullptr, nullptr, 300,
       "The printer has no resolution 300x300dpi; it has 180 dpi, 360 dpi, 720 dpi"},
      {"360 by 180 dpi", nullptr, 0, 0, nullptr, nullptr, 360,
       "The printer has no resolution 360x180dpi; it has", 180},
      {"180 by 360 dpi", nullptr, 0, 0, nullptr, nullptr, 180,
       "The printer has no resolution 180x360dpi; it has", 360},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Request request;
    if (c.media != nullptr) {
      ippAddString(request.ipp, IPP_TAG_JOB, IPP_TAG_KEYWORD, "media", nullptr, c.media);
    }
    if (c.width > 0) add_col(request.ipp, c.width, c.length, c.source);
    if (c.mode != nullptr) {
      ippAddString(request.ipp, IPP_TAG_JOB, IPP_TAG_KEYWORD, "print-color-mode", nullptr, c.mode);
    }
    if (c.dpi > 0) {
      ippAddResolution(request.ipp, IPP_TAG_JOB, "printer-resolution", IPP_RES_PER_INCH, c.dpi,
                       c.down > 0 ? c.down : c.dpi);
    }
    char message[512] = "";
    const bool passes = check_request(request.attributes(), message, sizeof message);
    EXPECT_EQ(passes, c.said == nullptr) << message;
    if (c.said != nullptr) {
      EXPECT_EQ(std::string(message).rfind(c.said, 0), 0u) << message;
    }
    EXPECT_EQ(names_source(request.attributes()), c.source != nullptr);
  }
}

// A message cut short by its buffer is the whole message's start, whatever
// the buffer's size: no piece of it goes missing before the end.
TEST(MediaTest, CutsAMessageOnlyAtTheEndOfItsBuffer) {
  struct Case {
    const char* name;
    const char* media;
    const char* source;
    int dpi;
  };
  const Case cases[] = {
      {"a size the printer lacks", "iso_a0_841x1189mm", nullptr, 0},
      {"another source", nullptr, "tray-2", 0},
      {"a resolution the printer lacks", nullptr, nullptr, 300},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Request request;
    if (c.media != nullptr) {
      ippAddString(request.ipp, IPP_TAG_JOB, IPP_TAG_KEYWORD, "media", nullptr, c.media);
    }
    if (c.source != nullptr) add_col(request.ipp, 21000, 29700, c.source);
    if (c.dpi > 0) {
      ippAddResolution(request.ipp, IPP_TAG_JOB, "printer-resolution", IPP_RES_PER_INCH, c.dpi,
                       c.dpi);
    }
    char whole[4096] = "";
    ASSERT_FALSE(check_request(request.attributes(), whole, sizeof whole));
    const std::string full = whole;
    ASSERT_LT(full.size() + 1, sizeof whole);
    for (size_t size = 1; size <= full.size() + 1; ++size) {
      std::vector<char> message(size, '#');
      EXPECT_FALSE(check_request(request.attributes(), message.data(), size));
      EXPECT_EQ(std::string(message.data()), full.substr(0, size - 1)) << "in " << size << " bytes";
    }
  }
}

// Paper units (1/360 in) become hundredths of a millimetre rounded to the
// nearest, halves up: 9 units are 63.5, 10 are 70.56, 11 are 77.61.
TEST(MediaTest, RoundsPaperUnitsToTheNearestHundredthOfAMillimetre) {
  const struct {
    int32_t units;
    int hundredths;
  } cases[] = {{0, 0}, {1, 7}, {9, 64}, {10, 71}, {11, 78}, {360, 2540}, {2976, 20997}};
  for (const auto& c : cases) EXPECT_EQ(to_hundredths_mm(c.units), c.hundredths) << c.units;
}

}  // namespace
