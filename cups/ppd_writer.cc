#include "cups/ppd_writer.h"

#include <cstdint>
#include <cstring>
#include <initializer_list>

#include "conf/defaults.h"
#include "paper/catalogue.h"
#include "paper/paper.h"
#include "paper/size_names.h"

// The PPD is written line by line; a failed write shows in the stream's
// error flag, which write_ppd reads at the end.
// NOLINTBEGIN(cert-err33-c)

namespace {

struct SourceText {
  const char* keyword;
  const char* text;
};
constexpr SourceText SOURCE_TEXTS[] = {
    {"AUTO", "Sheet Feeder"},
    {"ROLL", "Roll Paper"},
    {"TROLL", "Roll Paper, Borderless"},
    {"TR3300", "Roll Paper 3300, Borderless"},
    {"TR820", "Roll Paper 820, Borderless"},
    {"TAUTO", "Sheet Feeder, Borderless"},
};
static_assert(sizeof SOURCE_TEXTS / sizeof SOURCE_TEXTS[0] == 6, "one text for each of Bins");

// Writes a length in 1/360 inch as points (1/72 inch): a fifth of it, exact
// to the tenth.
void write_points(FILE* out, int32_t units) {
  const int32_t tenths = units * 2;
  if (tenths % 10 == 0) {
    std::fprintf(out, "%d", tenths / 10);
  } else {
    std::fprintf(out, "%d.%d", tenths / 10, tenths % 10);
  }
}

// Writes a width and a height, or two corners' coordinates, in points.
void write_point_pair(FILE* out, int32_t first, int32_t second) {
  write_points(out, first);
  std::fputc(' ', out);
  write_points(out, second);
}

void write_page_size(FILE* out, const char* keyword, const PaperConf& row) {
  std::fprintf(out, "*%s %s/%s: \"<</PageSize[", keyword, row.name, size_text(row.name));
  write_point_pair(out, row.width, row.height);
  std::fputs("]/ImagingBBox null>>setpagedevice\"\n", out);
}

// The printable area of `row` in points from the page's lower left corner,
// clipped to the page where a borderless area is wider than it.
void write_imageable_area(FILE* out, const PaperConf& row) {
  const int32_t right = row.left_offset + row.print_width;
  const int32_t bottom = row.height - row.top_offset - row.print_height;
  std::fprintf(out, "*ImageableArea %s/%s: \"", row.name, size_text(row.name));
  write_point_pair(out, row.left_offset, bottom > 0 ? bottom : 0);
  std::fputc(' ', out);
  write_point_pair(out, right < row.width ? right : row.width, row.height - row.top_offset);
  std::fputs("\"\n", out);
}

void write_header(FILE* out, const char* version) {
  std::fprintf(out,
               "*PPD-Adobe: \"4.3\"\n"
               "*%% PPD for the Marven Jetto 412_519, made by ravo %s from its paper tables.\n"
               "*%% Do not edit: it is made anew with every build.\n"
               "*FormatVersion: \"4.3\"\n"
               "*FileVersion: \"%s\"\n"
               "*LanguageVersion: English\n"
               "*LanguageEncoding: ISOLatin1\n"
               "*PCFileName: \"JETTO412.PPD\"\n"
               "*Manufacturer: \"Marven\"\n"
               "*Product: \"(Jetto 412_519)\"\n"
               "*ModelName: \"Marven Jetto 412-519\"\n"
               "*ShortNickName: \"Marven Jetto 412_519\"\n"
               "*NickName: \"Marven Jetto 412_519, ravo %s\"\n"
               "*PSVersion: \"(3010.000) 0\"\n"
               "*LanguageLevel: \"3\"\n"
               "*ColorDevice: True\n"
               "*DefaultColorSpace: RGB\n"
               "*FileSystem: False\n"
               "*Throughput: \"1\"\n"
               "*LandscapeOrientation: Plus90\n"
               "*TTRasterizer: Type42\n"
               "*cupsVersion: 2.4\n"
               "*cupsLanguages: \"en\"\n"
               "*cupsManualCopies: True\n"
               "*cupsFilter2: \"application/vnd.cups-postscript "
               "application/vnd.marven-jetto-png 100 pstoravo\"\n",
               version, version, version);
}

void write_sizes(FILE* out, const PaperConf* const* rows, size_t count, const char* fallback) {
  for (const char* keyword : {"PageSize", "PageRegion"}) {
    const bool page_size = std::strcmp(keyword, "PageSize") == 0;
    std::fprintf(out, "\n*OpenUI *%s%s: PickOne\n", keyword, page_size ? "/Media Size" : "");
    std::fprintf(out, "*OrderDependency: 10 AnySetup *%s\n", keyword);
    std::fprintf(out, "*Default%s: %s\n", keyword, fallback);
    for (size_t i = 0; i < count; ++i) write_page_size(out, keyword, *rows[i]);
    std::fprintf(out, "*CloseUI: *%s\n", keyword);
  }
  std::fprintf(out, "\n*DefaultImageableArea: %s\n", fallback);
  for (size_t i = 0; i < count; ++i) write_imageable_area(out, *rows[i]);
  std::fprintf(out, "\n*DefaultPaperDimension: %s\n", fallback);
  for (size_t i = 0; i < count; ++i) {
    std::fprintf(out, "*PaperDimension %s/%s: \"", rows[i]->name, size_text(rows[i]->name));
    write_point_pair(out, rows[i]->width, rows[i]->height);
    std::fputs("\"\n", out);
  }
}

void write_sources(FILE* out, const PaperConf* const* rows, size_t count) {
  std::fputs(
      "\n*OpenUI *InputSlot/Paper Source: PickOne\n"
      "*OrderDependency: 20 AnySetup *InputSlot\n",
      out);
  std::fprintf(out, "*DefaultInputSlot: %s\n", DEFAULTS.source);
  for (const SourceText& source : SOURCE_TEXTS) {
    std::fprintf(out, "*InputSlot %s/%s: \"\"\n", source.keyword, source.text);
  }
  std::fputs("*CloseUI: *InputSlot\n\n", out);
  // Sizes a source cannot feed are refused before the job is sent.
  for (const SourceText& source : SOURCE_TEXTS) {
    for (size_t i = 0; i < count; ++i) {
      if (call_paper_conf(source.keyword, rows[i]->name) != nullptr) continue;
      std::fprintf(out, "*UIConstraints: *InputSlot %s *PageSize %s\n", source.keyword,
                   rows[i]->name);
      std::fprintf(out, "*UIConstraints: *PageSize %s *InputSlot %s\n", rows[i]->name,
                   source.keyword);
    }
  }
}

void write_modes(FILE* out) {
  std::fprintf(out,
               "\n*OpenUI *Resolution/Resolution: PickOne\n"
               "*OrderDependency: 20 AnySetup *Resolution\n"
               "*DefaultResolution: %ddpi\n",
               DEFAULTS.resolution);
  for (const int32_t dpi : OFFERED_RESOLUTIONS) {
    std::fprintf(out, "*Resolution %ddpi/%d dpi: \"<</HWResolution[%d %d]>>setpagedevice\"\n", dpi,
                 dpi, dpi, dpi);
  }
  std::fputs("*CloseUI: *Resolution\n", out);
  // The filter chooses the interpreter's device from the colour mode, so the
  // job itself needs no code for it.
  std::fprintf(out,
               "\n*OpenUI *ColorModel/Color Mode: PickOne\n"
               "*OrderDependency: 20 AnySetup *ColorModel\n"
               "*DefaultColorModel: %s\n"
               "*ColorModel RGB/Color: \"\"\n"
               "*ColorModel Gray/Grayscale: \"\"\n"
               "*CloseUI: *ColorModel\n",
               DEFAULTS.ink == INK_MONO ? "Gray" : "RGB");
}

void write_fonts(FILE* out) {
  std::fputs(
      "\n*DefaultFont: Courier\n"
      "*Font Courier: Standard \"(002.004S)\" Standard ROM\n"
      "*Font Courier-Bold: Standard \"(002.004S)\" Standard ROM\n"
      "*Font Helvetica: Standard \"(001.006S)\" Standard ROM\n"
      "*Font Helvetica-Bold: Standard \"(001.007S)\" Standard ROM\n"
      "*Font Times-Roman: Standard \"(001.007S)\" Standard ROM\n"
      "*Font Times-Bold: Standard \"(001.007S)\" Standard ROM\n"
      "*Font Symbol: Special \"(001.007S)\" Special ROM\n",
      out);
}

}  // namespace

int write_ppd(FILE* out, const char* version) {
  const PaperConf* rows[MAX_SIZES];
  const size_t count = collect_sizes(rows);
  write_header(out, version);
  write_sizes(out, rows, count, DEFAULTS.size);
  write_sources(out, rows, count);
  write_modes(out);
  write_fonts(out);
  return std::ferror(out) != 0 ? 1 : 0;
}

// NOLINTEND(cert-err33-c)
