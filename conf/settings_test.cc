#include "conf/settings.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "tests/support/files.h"

namespace {

constexpr Conf UNTOUCHED = {-7, -7, -7, -7};
constexpr const char* NOT_READ = "ravorc not read\n";
const std::string HEADER = "[Marven Jetto 412_519]\n";
const std::string A4_MONO_720 = "ink=MONO\nresolution=720\nmediasize=A4\n";

struct Outcome {
  int result;
  Conf conf;
  std::string messages;
};

Outcome read_settings_at(const std::string& path) {
  Outcome outcome{-1, UNTOUCHED, ""};
  testing::internal::CaptureStderr();
  outcome.result = read_conf_file(path.c_str(), &outcome.conf);
  outcome.messages = testing::internal::GetCapturedStderr();
  return outcome;
}

Outcome read_settings(const std::string& content) {
  return read_settings_at(ravo_test::write_scratch_file("ravorc", content));
}

struct Case {
  const char* label;
  std::string content;
  Conf expected;  // UNTOUCHED when the reader fails
  const char* messages;
};

void check(const Case& c) {
  SCOPED_TRACE(c.label);
  const Outcome got = read_settings(c.content);
  const bool filled = c.expected.ink != UNTOUCHED.ink;
  EXPECT_EQ(got.result, filled ? 0 : 1);
  EXPECT_EQ(got.conf.ink, c.expected.ink);
  EXPECT_EQ(got.conf.resolution, c.expected.resolution);
  EXPECT_EQ(got.conf.width, c.expected.width);
  EXPECT_EQ(got.conf.height, c.expected.height);
  EXPECT_EQ(got.messages, c.messages);
}

TEST(ReadConf, ValuesOfThePrintersSection) {
  const Case cases[] = {
      {"plain", HEADER + "ink=COLOR\nresolution=360\nmediasize=A4\n", {1, 360, 2976, 4209}, ""},
      {"blanks anywhere",
       HEADER + "ink = MONO\n re so lution = 720\n\tmediasize =A4 \n",
       {2, 720, 5952, 8418},
       ""},
      {"lower-case mono is colour",
       HEADER + "ink=mono\nresolution=720\nmediasize=A4\n",
       {1, 720, 5952, 8418},
       ""},
      {"ink value split at the first equals",
       HEADER + "ink=MONO=X\nresolution=360\nmediasize=A4\n",
       {1, 360, 2976, 4209},
       ""},
      {"any other ink is colour",
       HEADER + "ink=BLACK\nresolution=360\nmediasize=A4\n",
       {1, 360, 2976, 4209},
       ""},
      {"CR LF endings",
       "[Marven Jetto 412_519]\r\nink=MONO\r\nresolution=720\r\nmediasize=A4\r\n",
       {2, 720, 5952, 8418},
       ""},
      {"no final newline",
       HEADER + "ink=MONO\nresolution=720\nmediasize=A4",
       {2, 720, 5952, 8418},
       ""},
      {"later lines overwrite",
       HEADER + "ink=MONO\nink=COLOR\nresolution=1\nresolution=300\nmediasize=B5\nmediasize=A4\n",
       {1, 300, 2480, 3507},
       ""},
      {"trailing digits ignored",
       HEADER + "ink=MONO\nresolution=720dpi\nmediasize=A4\n",
       {2, 720, 5952, 8418},
       ""},
      {"leading zero is decimal",
       HEADER + "ink=MONO\nresolution=010\nmediasize=A4\n",
       {2, 10, 82, 116},
       ""},
      {"plus sign", HEADER + "ink=MONO\nresolution=+360\nmediasize=A4\n", {2, 360, 2976, 4209}, ""},
      {"comments and foreign keys ignored",
       HEADER + "# note\ncolour=yes\nduplex\nInk=MONO\nink=MONO\nresolution=360\nmediasize=A4\n",
       {2, 360, 2976, 4209},
       ""},
      {"roll source",
       HEADER + "ink=COLOR\nresolution=360\nmediasize=NC\npapersource=ROLL\n",
       {1, 360, 1261, 779},
       ""},
      {"trim roll source",
       HEADER + "ink=COLOR\nresolution=360\nmediasize=L\npapersource=TR3300\n",
       {1, 360, 1261, 1800},
       ""},
      {"leading-part header", "[Marven]\n" + A4_MONO_720, {2, 720, 5952, 8418}, ""},
      {"header text after the bracket",
       "[MarvenJetto]extra\n" + A4_MONO_720,
       {2, 720, 5952, 8418},
       ""},
      {"header without closing bracket",
       "[MarvenJetto412_519\n" + A4_MONO_720,
       {2, 720, 5952, 8418},
       ""},
      {"other sections skipped unread",
       "\n[Other]\n# not examined\n=bad\nink=COLOR\n[Marven Jetto 412_519]\n" + A4_MONO_720,
       {2, 720, 5952, 8418},
       ""},
      {"first matching section only",
       HEADER + A4_MONO_720 + "[Marven]\nresolution=360\nmediasize=PC\n=broken\n",
       {2, 720, 5952, 8418},
       ""},
      {"the next header ends the section",
       HEADER + "ink=MONO\nresolution=720\n[Other]\nmediasize=A4\n", UNTOUCHED, NOT_READ},
      {"empty header selects nothing",
       "[]\nink=COLOR\nresolution=360\nmediasize=A4\n[Marven]\n" + A4_MONO_720,
       {2, 720, 5952, 8418},
       ""},
      {"empty header with text selects nothing", "[]Marven\n" + A4_MONO_720, UNTOUCHED, ""},
      {"value with a non-ASCII byte",
       HEADER + "ink=\xA0MONO\nresolution=360\nmediasize=A4\n",
       {1, 360, 2976, 4209},
       ""},
      {"overlong value overwritten",
       HEADER + "mediasize=" + std::string(240, 'A') + "\n" + A4_MONO_720,
       {2, 720, 5952, 8418},
       ""},
  };
  for (const Case& c : cases) check(c);
}

TEST(ReadConf, RejectedSettings) {
  const Case cases[] = {
      {"comment before the first header", "# printer settings\n" + HEADER + A4_MONO_720, UNTOUCHED,
       NOT_READ},
      {"bracket alone", "[\n" + HEADER + A4_MONO_720, UNTOUCHED, NOT_READ},
      {"bracket alone after a header", "[Other]\n[\n" + HEADER + A4_MONO_720, UNTOUCHED, NOT_READ},
      {"empty key", HEADER + A4_MONO_720 + "=A4\n", UNTOUCHED, NOT_READ},
      {"empty size", HEADER + A4_MONO_720 + "mediasize=\n", UNTOUCHED, NOT_READ},
      {"empty ink", HEADER + A4_MONO_720 + "ink=\n", UNTOUCHED, NOT_READ},
      {"empty source", HEADER + A4_MONO_720 + "papersource=\n", UNTOUCHED, NOT_READ},
      {"key without value", HEADER + "ink\n" + A4_MONO_720, UNTOUCHED, NOT_READ},
      {"no mediasize", HEADER + "ink=MONO\nresolution=720\n", UNTOUCHED, NOT_READ},
      {"no resolution", HEADER + "ink=MONO\nmediasize=A4\n", UNTOUCHED, NOT_READ},
      {"no ink", HEADER + "resolution=720\nmediasize=A4\n", UNTOUCHED, NOT_READ},
      {"resolution without digits", HEADER + "ink=MONO\nresolution=abc\nmediasize=A4\n", UNTOUCHED,
       NOT_READ},
      {"hexadecimal resolution", HEADER + "ink=MONO\nresolution=0x10\nmediasize=A4\n", UNTOUCHED,
       NOT_READ},
      {"zero resolution", HEADER + "ink=MONO\nresolution=0\nmediasize=A4\n", UNTOUCHED, NOT_READ},
      {"negative resolution", HEADER + "ink=MONO\nresolution=-300\nmediasize=A4\n", UNTOUCHED,
       NOT_READ},
      {"saturated resolution", HEADER + "ink=MONO\nresolution=99999999999999999999\nmediasize=A4\n",
       UNTOUCHED, NOT_READ},
      {"lower-case size", HEADER + "ink=MONO\nresolution=720\nmediasize=a4\n", UNTOUCHED, NOT_READ},
      {"size with a second equals", HEADER + A4_MONO_720 + "mediasize=A4=B5\n", UNTOUCHED,
       NOT_READ},
      {"size the sheet table lacks",
       HEADER + "ink=COLOR\nresolution=360\nmediasize=NC\npapersource=AUTO\n", UNTOUCHED, NOT_READ},
      {"source with an empty table", HEADER + A4_MONO_720 + "papersource=T4AUTO\n", UNTOUCHED,
       NOT_READ},
      {"unknown source", HEADER + A4_MONO_720 + "papersource=auto\n", UNTOUCHED, NOT_READ},
      {"trailing non-ASCII byte", HEADER + "ink=MONO\nresolution=720\nmediasize=A4\xA0\n",
       UNTOUCHED, NOT_READ},
      {"12-character size", HEADER + "ink=MONO\nresolution=720\nmediasize=A4AAAAAAAAAA\n",
       UNTOUCHED, NOT_READ},
      {"240-character size",
       HEADER + "ink=MONO\nresolution=720\nmediasize=" + std::string(240, 'A') + "\n", UNTOUCHED,
       NOT_READ},
      {"240-character source", HEADER + A4_MONO_720 + "papersource=" + std::string(240, 'R') + "\n",
       UNTOUCHED, NOT_READ},
      // No section for this printer: no message.
      {"empty file", "", UNTOUCHED, ""},
      {"blank lines only", "\n \n\t\r\n", UNTOUCHED, ""},
      {"other models only", "[Other]\nink=MONO\n[MarvenJetto412_519X]\n" + A4_MONO_720, UNTOUCHED,
       ""},
      {"header case matters", "[marvenjetto412_519]\n" + A4_MONO_720, UNTOUCHED, ""},
  };
  for (const Case& c : cases) check(c);
}

TEST(ReadConf, LongLinesArriveInPiecesOf253Characters) {
  const std::string filler = "#" + std::string(252, 'x');  // one whole piece
  const Case cases[] = {
      {"second piece is a key line",
       HEADER + "ink=COLOR\nresolution=720\nmediasize=A4\n" + filler + "ink=MONO\n",
       {2, 720, 5952, 8418},
       ""},
      {"split inside a key",
       HEADER + A4_MONO_720 + filler.substr(0, 251) + "mediasize=B5\n",
       {2, 720, 5952, 8418},
       ""},
      {"second piece is an empty key", HEADER + A4_MONO_720 + filler + "=B5\n", UNTOUCHED,
       NOT_READ},
      {"second piece of a header is a stray line",
       "[Other" + std::string(250, 'x') + "]\n" + HEADER + A4_MONO_720,
       {2, 720, 5952, 8418},
       ""},
      {"first piece is a stray line", filler + "[Marven]\n" + A4_MONO_720, UNTOUCHED, NOT_READ},
  };
  for (const Case& c : cases) check(c);
}

TEST(ReadConf, PathsThatAreNoSettingsFile) {
  const std::string missing = ravo_test::scratch_dir() + "/absent";
  Outcome got = read_settings_at(missing);
  EXPECT_EQ(got.result, 1);
  EXPECT_EQ(got.conf.ink, UNTOUCHED.ink);
  EXPECT_EQ(got.messages, missing + " : No such file\n");

  // A directory opens but reads nothing: no section, no message.
  got = read_settings_at(ravo_test::scratch_dir());
  EXPECT_EQ(got.result, 1);
  EXPECT_EQ(got.conf.ink, UNTOUCHED.ink);
  EXPECT_EQ(got.messages, "");
}

TEST(SeekModelSection, ReturnsTheHeaderLineAndLeavesTheFileAfterIt) {
  constexpr char NUL_LINES[] = "[Other]\nx\0y\n\0\n[Marven]\nnext\n";
  const struct {
    std::string content;
    int expected;
    const char* next_piece;
  } cases[] = {
      {HEADER + "ink=MONO\n", 1, "ink=MONO\n"},
      {"\n\n[Other]\nx=y\n\n[Marven]\nnext\n", 6, "next\n"},
      {"[" + std::string(252, 'O') + "]\n[Marven]\nnext\n", 2, "next\n"},
      {"[Other]\n" + std::string(300, 'x') + "\n[Marven]\nnext\n", 3, "next\n"},
      {std::string(NUL_LINES, sizeof NUL_LINES - 1), 4, "next\n"},
      {"", 0, nullptr},
      {"[Other]\n", 0, nullptr},
      {"x\n[Marven]\n", -1, nullptr},
      {"\n[\n", -1, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.content.substr(0, 40));
    FILE* file = std::fopen(ravo_test::write_scratch_file("seek", c.content).c_str(), "rb");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(seek_model_section(file), c.expected);
    if (c.next_piece != nullptr) {
      char piece[PIECE_SIZE];
      ASSERT_NE(std::fgets(piece, PIECE_SIZE, file), nullptr);
      EXPECT_STREQ(piece, c.next_piece);
    }
    std::fclose(file);
  }
}

TEST(StripSpace, RemovesPosixWhitespaceOnly) {
  const struct {
    std::string input;
    std::string expected;
  } cases[] = {
      {"", ""},
      {" \t\n\v\f\r", ""},
      {"ink = MONO\r\n", "ink=MONO"},
      {" a b  c ", "abc"},
      {"Marven Jetto 412_519", "MarvenJetto412_519"},
      {"\xA0x\x85y\xFF", "\xA0x\x85y\xFF"},
      {std::string(253, ' '), ""},
      {std::string(126, 'a') + std::string(127, ' '), std::string(126, 'a')},
  };
  for (const auto& c : cases) {
    std::string text = c.input;
    EXPECT_EQ(strip_space(text.data()), text.data());
    EXPECT_STREQ(text.c_str(), c.expected.c_str());
  }
}

TEST(ConfError, ClosesTheFileAndWritesOneLine) {
  FILE* file = std::fopen(ravo_test::write_scratch_file("error", "x").c_str(), "rb");
  ASSERT_NE(file, nullptr);
  testing::internal::CaptureStderr();
  EXPECT_EQ(conf_error(file), 1);
  EXPECT_EQ(conf_error(nullptr), 1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), std::string(NOT_READ) + NOT_READ);
}

TEST(SettingsKeys, InMatchingOrder) {
  ASSERT_EQ(Param_Num, 4);
  EXPECT_STREQ(Params[0], "ink");
  EXPECT_STREQ(Params[1], "resolution");
  EXPECT_STREQ(Params[2], "mediasize");
  EXPECT_STREQ(Params[3], "papersource");
}

TEST(ReadConf, TheShippedExampleIsUsable) {
  const Outcome got = read_settings_at(EXAMPLES_DIR "/ravorc");
  EXPECT_EQ(got.result, 0);
  EXPECT_EQ(got.conf.ink, 1);
  EXPECT_EQ(got.conf.width, 2976);
  EXPECT_EQ(got.messages, "");
}

}  // namespace
