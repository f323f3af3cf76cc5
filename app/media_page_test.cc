#include "app/media_page.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "app/media.h"
#include "paper/size_names.h"

namespace {

constexpr size_t CAPACITY = 2 * MAX_SIZES;

const ReadyChoice* find_choice(const ReadyChoice* choices, size_t count, const char* pwg,
                               bool borderless) {
  for (size_t i = 0; i < count; ++i) {
    if (std::strcmp(choices[i].pwg, pwg) == 0 && choices[i].borderless == borderless) {
      return &choices[i];
    }
  }
  return nullptr;
}

TEST(MediaPageTest, EachSourceOffersExactlyItsOwnSizes) {
  struct Case {
    const char* source;
    const char* pwg;
    bool borderless;
    const char* text;  // null: not offered
  };
  const Case cases[] = {
      {"main-roll", "custom_name-card_55x89mm", false, "Name Card"},
      {"main-roll", "custom_name-card_55x89mm", true, "Name Card"},
      {"main-roll", "na_number-10_4.125x9.5in", false, nullptr},
      {"main-roll", "custom_super-a3_329x483mm", false, "A3+ (Super A3)"},
      {"main-roll", "custom_photo_113.6x164.4mm", false, nullptr},
      {"main-roll", "iso_a5_148x210mm", true, nullptr},
      {"auto", "custom_super-a3_329x483mm", false, "A3+ (Super A3)"},
      {"auto", "na_number-10_4.125x9.5in", false, "Envelope #10"},
      {"auto", "na_invoice_5.5x8.5in", false, "Half Letter"},
      {"auto", "na_index-4x6_4x6in", false, "4 x 6 in, Full Page"},
      {"auto", "iso_a4_210x297mm", true, "A4"},
      {"auto", "iso_a3_297x420mm", true, nullptr},
      {"tray-2", "iso_a4_210x297mm", false, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.source) + " " + c.pwg + (c.borderless ? " borderless" : ""));
    ReadyChoice choices[CAPACITY];
    const size_t count = ready_choices(c.source, choices, CAPACITY);
    const ReadyChoice* choice = find_choice(choices, count, c.pwg, c.borderless);
    if (c.text == nullptr) {
      EXPECT_EQ(choice, nullptr);
    } else {
      ASSERT_NE(choice, nullptr);
      EXPECT_STREQ(choice->text, c.text);
    }
  }
}

TEST(MediaPageTest, EveryChoiceOfferedIsLoadedAsItsTableHasIt) {
  for (const char* source : {SOURCE_AUTO, SOURCE_ROLL}) {
    ReadyChoice choices[CAPACITY];
    const size_t count = ready_choices(source, choices, CAPACITY);
    EXPECT_GT(count, 0U);
    for (size_t i = 0; i < count; ++i) {
      SCOPED_TRACE(std::string(source) + " " + choices[i].pwg);
      EXPECT_EQ(find_choice(choices, i, choices[i].pwg, choices[i].borderless), nullptr)
          << "offered twice";
      char value[128];
      format_ready_choice(choices[i], value, sizeof value);
      char pwg[64];
      bool borderless = !choices[i].borderless;
      ASSERT_TRUE(parse_ready_choice(value, pwg, sizeof pwg, &borderless));
      EXPECT_STREQ(pwg, choices[i].pwg);
      EXPECT_EQ(borderless, choices[i].borderless);
      pappl_media_col_t col;
      char message[512] = "";
      ASSERT_TRUE(ready_media_for(source, pwg, borderless, &col, message, sizeof message))
          << message;
      EXPECT_STREQ(col.size_name, choices[i].pwg);
      EXPECT_STREQ(col.source, source);
      EXPECT_EQ(is_borderless(col), borderless);
      const JobMedia media = resolve_media(col);
      ASSERT_NE(media.row, nullptr);
      EXPECT_STREQ(size_text(media.row->name), choices[i].text);
    }
  }
}

TEST(MediaPageTest, RefusesASizeTheSourceCannotFeedSayingWhatItTakes) {
  pappl_media_col_t col;
  char message[1024] = "";
  EXPECT_FALSE(ready_media_for(SOURCE_ROLL, "na_number-10_4.125x9.5in", false, &col, message,
                               sizeof message));
  EXPECT_NE(std::strstr(message, "na_number-10_4.125x9.5in"), nullptr) << message;
  EXPECT_NE(std::strstr(message, "main-roll"), nullptr) << message;
  EXPECT_NE(std::strstr(message, "Name Card"), nullptr) << message;
  EXPECT_FALSE(ready_media_for("tray-2", "iso_a4_210x297mm", false, &col, message, sizeof message));
  EXPECT_NE(std::strstr(message, "no media source tray-2"), nullptr) << message;
}

TEST(MediaPageTest, ParsesOnlyTheValuesTheFormSends) {
  const char* const bad[] = {"",
                             " borderless",
                             "iso_a4_210x297mm  borderless",
                             "iso_a4_210x297mm margins",
                             "iso_a4_210x297mm borderless ",
                             "a_name_that_is_much_too_long_for_any_media_size_name_of_ipp_at_all_"};
  for (const char* value : bad) {
    char pwg[64];
    bool borderless = false;
    EXPECT_FALSE(parse_ready_choice(value, pwg, sizeof pwg, &borderless)) << "'" << value << "'";
  }
}

pappl_media_col_t loaded(const char* source, const char* pwg, int margin) {
  pappl_media_col_t col{};
  std::snprintf(col.source, sizeof col.source, "%s", source);
  std::snprintf(col.size_name, sizeof col.size_name, "%s", pwg);
  col.left_margin = col.right_margin = col.top_margin = col.bottom_margin = margin;
  if (const pwg_media_t* media = pwgMediaForPWG(pwg)) {
    col.size_width = media->width;
    col.size_length = media->length;
  }
  return col;
}

ipp_t* media_col(const char* source, const char* pwg, int width, int length, int margin) {
  ipp_t* col = ippNew();
  if (pwg != nullptr) {
    ippAddString(col, IPP_TAG_ZERO, IPP_TAG_KEYWORD, "media-size-name", nullptr, pwg);
  } else {
    ipp_t* size = ippNew();
    ippAddInteger(size, IPP_TAG_ZERO, IPP_TAG_INTEGER, "x-dimension", width);
    ippAddInteger(size, IPP_TAG_ZERO, IPP_TAG_INTEGER, "y-dimension", length);
    ippAddCollection(col, IPP_TAG_ZERO, "media-size", size);
    ippDelete(size);
  }
  if (margin >= 0) {
    for (const char* name :
         {"media-bottom-margin", "media-left-margin", "media-right-margin", "media-top-margin"}) {
      ippAddInteger(col, IPP_TAG_ZERO, IPP_TAG_INTEGER, name, margin);
    }
  }
  if (source != nullptr) {
    ippAddString(col, IPP_TAG_ZERO, IPP_TAG_KEYWORD, "media-source", nullptr, source);
  }
  return col;
}

TEST(MediaPageTest, ChecksMediaReadyAgainstEachSlotsSource) {
  const pappl_media_col_t current[] = {loaded("auto", "iso_a4_210x297mm", 296),
                                       loaded("main-roll", "iso_a4_210x297mm", 296),
                                       loaded("", "", 0)};
  struct Case {
    const char* first;
    const char* second;
    const char* third;
    bool feedable;
  };
  const Case cases[] = {
      {"custom_super-a3_329x483mm", "custom_name-card_55x89mm", nullptr, true},
      {"iso_a4_210x297mm", "na_number-10_4.125x9.5in", nullptr, false},
      {"iso_a4_210x297mm", "no-such-size", nullptr, false},
      {"iso_a4_210x297mm", "iso_a4_210x297mm", "na_number-10_4.125x9.5in", true},  // no source
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.first) + " " + (c.second != nullptr ? c.second : "-"));
    ipp_t* request = ippNew();
    const char* values[] = {c.first, c.second, c.third};
    const int count = c.third != nullptr ? 3 : c.second != nullptr ? 2 : 1;
    ipp_attribute_t* attr = ippAddStrings(request, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "media-ready",
                                          count, nullptr, values);
    char message[1024] = "";
    EXPECT_EQ(feedable_ready_attribute(attr, current, 3, message, sizeof message), c.feedable);
    if (!c.feedable) {
      EXPECT_NE(std::strstr(message, "cannot be fed"), nullptr) << message;
    }
    ippDelete(request);
  }
}

TEST(MediaPageTest, ChecksMediaColReadyAsPapplReadsIt) {
  const pappl_media_col_t current[] = {loaded("auto", "iso_a4_210x297mm", 296),
                                       loaded("main-roll", "iso_a4_210x297mm", 296)};
  struct Case {
    const char* label;
    int slot;  // which value of two the case's collection is; the other is current
    const char* source;
    const char* pwg;
    int width, length;  // when pwg is null
    int margin;         // -1: as loaded
    bool feedable;
  };
  const Case cases[] = {
      {"envelope to the roll", 1, "main-roll", "na_number-10_4.125x9.5in", 0, 0, -1, false},
      {"envelope to the roll's slot", 1, nullptr, "na_number-10_4.125x9.5in", 0, 0, -1, false},
      {"name card by its size", 1, nullptr, nullptr, 5500, 8900, -1, true},
      {"name card on sheets", 0, nullptr, "custom_name-card_55x89mm", 0, 0, -1, false},
      {"A4 borderless on the roll", 1, nullptr, "iso_a4_210x297mm", 0, 0, 0, true},
      {"A5 borderless on the roll", 1, nullptr, "iso_a5_148x210mm", 0, 0, 0, false},
      {"unknown name", 0, nullptr, "nonsense", 0, 0, -1, false},
      {"a source the printer lacks", 0, "tray-2", "iso_a4_210x297mm", 0, 0, -1, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    ipp_t* request = ippNew();
    ipp_t* values[2] = {nullptr, nullptr};
    values[c.slot] = media_col(c.source, c.pwg, c.width, c.length, c.margin);
    values[1 - c.slot] =
        media_col(current[1 - c.slot].source, current[1 - c.slot].size_name, 0, 0, -1);
    ipp_attribute_t* attr = ippAddCollections(request, IPP_TAG_PRINTER, "media-col-ready", 2,
                                              const_cast<const ipp_t**>(values));
    char message[1024] = "";
    EXPECT_EQ(feedable_ready_attribute(attr, current, 2, message, sizeof message), c.feedable)
        << message;
    ippDelete(values[0]);
    ippDelete(values[1]);
    ippDelete(request);
  }
}

}  // namespace
