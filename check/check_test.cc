#include "check/check.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "tests/support/files.h"

namespace {

const std::string HEADER = "[Marven Jetto 412_519]\n";
const std::string MONO_720 = "ink=MONO\nresolution=720\n";
const std::string LONG_COMMENT = "#" + std::string(300, 'x') + "\n";  // read in two pieces
const char* const NOT_READ = "after writing \"ravorc not read\"\n";

std::string contents(FILE* file) {
  std::string text(static_cast<size_t>(std::ftell(file)), '\0');
  std::rewind(file);
  text.resize(std::fread(text.data(), 1, text.size(), file));
  std::fclose(file);
  return text;
}

struct Checked {
  int status;
  std::string out;
  std::string err;
};

Checked check_path(const std::string& path) {
  FILE* out = std::tmpfile();
  FILE* err = std::tmpfile();
  Conf conf{};
  const int status = check_settings(path.c_str(), out, err, &conf);
  return {status, contents(out), contents(err)};
}

TEST(CheckSettings, NamesTheLineAndTheReason) {
  const std::string dir = ravo_test::scratch_dir();
  const struct {
    const char* label;
    std::string content;  // or, when `path` is set, nothing is written
    std::string reason;   // the first line, after the file's path
    const char* fallback;
    const char* path = nullptr;
  } cases[] = {
      {"text first", "\n# printers\n" + HEADER,
       ":2: \"#printers\" stands before the first section header", NOT_READ},
      {"control bytes", "\x1b]0;owned\a\n" + HEADER,
       ":1: \"\\033]0;owned\\a\" stands before the first section header", NOT_READ},
      {"after a NUL byte", HEADER + std::string("#\0\n", 3) + "=\x01\n",
       ":3: \"=\\x01\" has no key before \"=\"", NOT_READ},
      {"bracket alone", "[Other]\n\n[\n", ":3: \"[\" is a section header without a name", NOT_READ},
      {"no section", "[Other]\n" + MONO_720, ": no section for the Marven Jetto 412_519",
       "without writing a message\n"},
      {"empty key after a long line", HEADER + LONG_COMMENT + "=A4\n",
       ":3: \"=A4\" has no key before \"=\"", NOT_READ},
      {"empty value", HEADER + "ink=\n", ":2: ink has no value; ink takes MONO", NOT_READ},
      {"missing key", HEADER + "resolution=720\nmediasize=A4\n", ": ink is not set", NOT_READ},
      {"bad resolution", HEADER + "ink=MONO\nresolution=abc\nmediasize=A4\n",
       ":3: resolution abc is not a positive number", NOT_READ},
      {"missing resolution", HEADER + "ink=MONO\nmediasize=A4\n", ": resolution is not set",
       NOT_READ},
      {"size the source lacks", HEADER + MONO_720 + "mediasize=NC\nmediasize=4X6\n",
       ":5: mediasize 4X6 is not a size of paper source AUTO; paper source AUTO has A4, A5,",
       NOT_READ},
      {"source with no sizes", HEADER + MONO_720 + "papersource=T4AUTO\nmediasize=A4\n",
       ":4: paper source T4AUTO has no paper sizes; the paper sources are AUTO, ROLL,", NOT_READ},
      {"unknown source", HEADER + MONO_720 + "mediasize=A4\npapersource=auto\n",
       ":5: papersource auto is not a paper source; the paper sources are AUTO, ROLL, TROLL, "
       "TR3300, TR820, TAUTO\n",
       NOT_READ},
      {"too long", HEADER + MONO_720 + "mediasize=" + std::string(20, 'A') + "\n",
       ":4: mediasize AAAAAAAAAAAAAAAAAAAA is too long to be a name", NOT_READ},
      {"page too large", HEADER + "ink=MONO\nresolution=255076\nmediasize=PANORAM\n",
       ":3: resolution 255076 makes the PANORAM page too large to count in pixels; it takes at "
       "most 255075 dots per inch",
       NOT_READ},
      {"missing file", "", ": cannot be opened: No such file or directory",
       "after writing \"/etc/ravorc : No such file\"\n", "/absent"},
      {"directory", "", ": cannot be read: Is a directory", "without writing a message\n", "/"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const std::string path =
        c.path != nullptr ? dir + c.path : ravo_test::write_scratch_file("ravorc", c.content);
    const Checked got = check_path(path);
    EXPECT_EQ(got.status, 1);
    EXPECT_EQ(got.out, "");
    EXPECT_EQ(got.err.rfind(path + c.reason, 0), 0u) << got.err;
    EXPECT_TRUE(got.err.ends_with(c.fallback)) << got.err;
  }
}

TEST(CheckSettings, ShowsWhereAUsableFileSetEachValueAndTheCommand) {
  const std::string path = ravo_test::write_scratch_file(
      "ravorc", "[Other]\n" + LONG_COMMENT + "[Marven]\x1b\nink=COLOR\nresolution=180\n" +
                    LONG_COMMENT + "mediasize=A4\nmediasize=NC\npapersource=ROLL\nink=MONO\n");
  const Checked got = check_path(path);
  EXPECT_EQ(got.status, 0);
  EXPECT_EQ(got.err, "");
  EXPECT_EQ(got.out, path + ":3: section [Marven]\\033\n" + path + ":10: ink=MONO: 8-bit grey\n" +
                         path + ":5: resolution=180\n" + path + ":8: mediasize=NC\n" + path +
                         ":9: papersource=ROLL\n" + "raster: 630 x 389 pixels at 180 dpi\n" +
                         "command: gs -r180 -g630x389 -q -dNOPROMPT -dNOPAUSE -dSAFER "
                         "-sstdout=%stderr -sDEVICE=pnggray -sOutputFile=- - -c quit\n");
}

}  // namespace
