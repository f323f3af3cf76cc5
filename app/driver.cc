#include "app/driver.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "app/face.h"
#include "app/job_claims.h"
#include "app/jobs.h"
#include "app/media.h"
#include "conf/conf.h"
#include "conf/defaults.h"
#include "paper/paper.h"
#include "paper/size_names.h"

namespace {

constexpr char MEDIA_TYPE[] = "stationery";

// The PWG names of the tables' sizes, made once; the driver data points to
// them for as long as the program runs.
struct MediaNames {
  const char* names[PAPPL_MAX_MEDIA];
  size_t count;
};

const MediaNames& media_names() {
  static const MediaNames names = [] {
    MediaNames made{};
    made.count = collect_pwg_names(made.names, PAPPL_MAX_MEDIA);
    return made;
  }();
  return names;
}

// What IPP Everywhere clients expect and PAPPL leaves to the driver. The
// printer reports no ink levels, so each supply's level is unknown.
ipp_t* make_driver_attrs() {
  ipp_t* attrs = ippNew();
  ippAddBoolean(attrs, IPP_TAG_PRINTER, "preferred-attributes-supported", 0);
  // No password-protected PDF is opened.
  ippAddInteger(attrs, IPP_TAG_PRINTER, IPP_TAG_INTEGER, "document-password-supported", 0);
  const char* overrides[] = {"document-number", "pages"};
  ippAddStrings(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "overrides-supported", 2, nullptr,
                overrides);
  ippAddString(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "print-rendering-intent-default", nullptr,
               "auto");
  ippAddString(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "print-rendering-intent-supported", nullptr,
               "auto");
  ippAddString(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "pwg-raster-document-sheet-back", nullptr,
               "normal");
  constexpr const char* COLORANTS[][2] = {{"black", "Black Ink"},
                                          {"cyan", "Cyan Ink"},
                                          {"magenta", "Magenta Ink"},
                                          {"yellow", "Yellow Ink"}};
  ipp_attribute_t* supply = nullptr;
  ipp_attribute_t* description = nullptr;
  int index = 0;
  for (const auto& colorant : COLORANTS) {
    char value[128];
    const int length = std::snprintf(
        value, sizeof value,
        "index=%d;class=supplyThatIsConsumed;type=ink;unit=percent;maxcapacity=100;level=-2;"
        "colorantname=%s;",
        index + 1, colorant[0]);
    if (supply == nullptr) {
      supply = ippAddOctetString(attrs, IPP_TAG_PRINTER, "printer-supply", value, length);
      description = ippAddString(attrs, IPP_TAG_PRINTER, IPP_TAG_TEXT, "printer-supply-description",
                                 nullptr, colorant[1]);
    } else {
      ippSetOctetString(attrs, &supply, index, value, length);
      ippSetString(attrs, &description, index, colorant[1]);
    }
    ++index;
  }
  return attrs;
}

// The ready media, one for each source: the sheet feeder, which the app
// calls "auto", and the roll. PAPPL 1.3.1 adds "auto" to
// media-source-supported after the driver's sources whatever they are, so it
// is listed twice; leaving it out of the driver's would leave the sheet
// feeder without ready media. The default is the defaults' size from the
// feeder.
void fill_ready_media(pappl_pr_driver_data_t* data) {
  const char* sources[] = {SOURCE_AUTO, SOURCE_ROLL};
  data->num_source = 0;
  for (const char* source : sources) {
    const int index = data->num_source++;
    data->source[index] = source;
    fill_media_col(*call_paper_conf(table_source(source, false), DEFAULTS.size), source, false,
                   &data->media_ready[index]);
    papplCopyString(data->media_ready[index].type, MEDIA_TYPE,
                    sizeof data->media_ready[index].type);
  }
  data->media_default = data->media_ready[0];
}

void identify(pappl_printer_t* printer, pappl_identify_actions_t /*actions*/, const char* message) {
  papplLogPrinter(printer, PAPPL_LOGLEVEL_INFO, "Identify: %s", message != nullptr ? message : "");
}

void delete_printer(pappl_printer_t* /*printer*/, pappl_pr_driver_data_t* data) {
  delete static_cast<PrinterState*>(data->extension);
  data->extension = nullptr;
}

// The test page is checked for write errors once, before it is closed.
// NOLINTBEGIN(cert-err33-c)

const char* colour_mode_name(pappl_color_mode_t mode) {
  return mode == PAPPL_COLOR_MODE_MONOCHROME ? "monochrome" : "color";
}

// A PostScript page naming the printer and the defaults it prints with.
const char* write_test_page(pappl_printer_t* printer, char* buffer, size_t size) {
  pappl_pr_driver_data_t data;
  papplPrinterGetDriverData(printer, &data);
  const int fd = papplPrinterOpenFile(printer, buffer, size, nullptr, "testpage", "ps", "w");
  if (fd < 0) return nullptr;
  FILE* out = fdopen(fd, "w");
  if (out == nullptr) {
    close(fd);
    return nullptr;
  }
  const pappl_media_col_t& media = data.media_default;
  const JobMedia job_media = resolve_media(media);
  char lines[5][192];
  std::snprintf(lines[0], sizeof lines[0], "Printer: %s (%s)", papplPrinterGetName(printer),
                DRIVER_DESCRIPTION);
  std::snprintf(lines[1], sizeof lines[1], "Media: %s (%s)", media.size_name,
                job_media.row != nullptr ? size_text(job_media.row->name) : "not in the tables");
  std::snprintf(lines[2], sizeof lines[2], "Source: %s, %s",
                media.source[0] != '\0' ? media.source : SOURCE_AUTO,
                is_borderless(media) ? "borderless" : "with margins");
  std::snprintf(lines[3], sizeof lines[3], "Resolution: %d dpi", data.x_default);
  std::snprintf(lines[4], sizeof lines[4], "Colour mode: %s", colour_mode_name(data.color_default));
  std::fputs(
      "%!PS-Adobe-3.0\n"
      "clippath pathbbox /top exch def /right exch def pop pop newpath\n"
      "/size right 28 div def\n"
      "/Helvetica findfont size scalefont setfont\n"
      "0 0 1 setrgbcolor size 2 div setlinewidth\n"
      "size size moveto right size sub size lineto right size sub top size sub lineto\n"
      "size top size sub lineto closepath stroke 0 setgray\n"
      "/y top size 3 mul sub def\n"
      "/show-line { size 2 mul y moveto show /y y size 1.6 mul sub def } def\n",
      out);
  put_ps_string(out, "Test page");
  std::fputs(" show-line\n", out);
  for (const char* line : lines) {
    put_ps_string(out, line);
    std::fputs(" show-line\n", out);
  }
  std::fputs("showpage\n", out);
  const bool written = std::ferror(out) == 0;
  return std::fclose(out) == 0 && written ? buffer : nullptr;
}

// NOLINTEND(cert-err33-c)

}  // namespace

// Its writes are checked with the rest of the test page's.
// NOLINTBEGIN(cert-err33-c)
void put_ps_string(FILE* out, const char* text) {
  std::fputc('(', out);
  for (; *text != '\0'; ++text) {
    if (*text == '(' || *text == ')' || *text == '\\') std::fputc('\\', out);
    std::fputc(*text, out);
  }
  std::fputc(')', out);
}
// NOLINTEND(cert-err33-c)

pappl_pr_driver_t drivers[1] = {
    {DRIVER_NAME, DRIVER_DESCRIPTION, "MFG:Marven;MDL:Jetto 412_519;", nullptr},
};

const char* autoadd_driver(const char* /*device_info*/, const char* /*device_uri*/,
                           const char* device_id, void* /*data*/) {
  if (device_id == nullptr) return nullptr;
  cups_option_t* pairs = nullptr;
  const int count = papplDeviceParseID(device_id, &pairs);
  const char* maker = cupsGetOption("MFG", count, pairs);
  if (maker == nullptr) maker = cupsGetOption("MANUFACTURER", count, pairs);
  const char* model = cupsGetOption("MDL", count, pairs);
  if (model == nullptr) model = cupsGetOption("MODEL", count, pairs);
  const bool ours = maker != nullptr && std::strcmp(maker, "Marven") == 0 && model != nullptr &&
                    std::strstr(model, "Jetto 412_519") != nullptr;
  cupsFreeOptions(count, pairs);
  return ours ? DRIVER_NAME : nullptr;
}

bool setup_driver(pappl_system_t* /*system*/, const char* driver_name, const char* /*device_uri*/,
                  const char* /*device_id*/, pappl_pr_driver_data_t* data, ipp_t** attrs,
                  void* /*context*/) {
  if (std::strcmp(driver_name, DRIVER_NAME) != 0) return false;
  data->extension = new PrinterState;
  data->delete_cb = delete_printer;
  data->identify_cb = identify;
  data->printfile_cb = print_raw;
  data->rstartjob_cb = raster_start_job;
  data->rstartpage_cb = raster_start_page;
  data->rwriteline_cb = raster_write_line;
  data->rendpage_cb = raster_end_page;
  data->rendjob_cb = raster_end_job;
  data->testpage_cb = write_test_page;
  data->format = "application/octet-stream";
  papplCopyString(data->make_and_model, DRIVER_DESCRIPTION, sizeof data->make_and_model);
  data->ppm = 5;
  data->ppm_color = 3;
  data->kind = PAPPL_KIND_DOCUMENT | PAPPL_KIND_PHOTO | PAPPL_KIND_POSTCARD | PAPPL_KIND_ENVELOPE |
               PAPPL_KIND_ROLL;
  data->orient_default = IPP_ORIENT_PORTRAIT;
  data->quality_default = IPP_QUALITY_NORMAL;
  data->color_supported =
      PAPPL_COLOR_MODE_AUTO | PAPPL_COLOR_MODE_COLOR | PAPPL_COLOR_MODE_MONOCHROME;
  data->color_default =
      DEFAULTS.ink == INK_MONO ? PAPPL_COLOR_MODE_MONOCHROME : PAPPL_COLOR_MODE_COLOR;
  data->raster_types = PAPPL_PWG_RASTER_TYPE_SRGB_8 | PAPPL_PWG_RASTER_TYPE_SGRAY_8;
  data->sides_supported = PAPPL_SIDES_ONE_SIDED;
  data->sides_default = PAPPL_SIDES_ONE_SIDED;
  data->num_resolution = 0;
  for (const int32_t resolution : OFFERED_RESOLUTIONS) {
    data->x_resolution[data->num_resolution] = resolution;
    data->y_resolution[data->num_resolution] = resolution;
    ++data->num_resolution;
  }
  data->x_default = data->y_default = DEFAULTS.resolution;
  data->borderless = true;
  const PaperConf& usual = *call_paper_conf(DEFAULTS.source, DEFAULTS.size);
  data->left_right = to_hundredths_mm(usual.left_offset);
  data->bottom_top = to_hundredths_mm(usual.top_offset);
  const MediaNames& names = media_names();
  data->num_media = static_cast<int>(names.count);
  for (size_t i = 0; i < names.count; ++i) data->media[i] = names.names[i];
  fill_ready_media(data);
  data->num_type = 1;
  data->type[0] = MEDIA_TYPE;
  data->identify_supported = PAPPL_IDENTIFY_ACTIONS_DISPLAY;
  data->identify_default = PAPPL_IDENTIFY_ACTIONS_DISPLAY;
  set_printer_icons(data);
  *attrs = make_driver_attrs();
  return true;
}
