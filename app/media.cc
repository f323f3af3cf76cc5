#include "app/media.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "conf/conf.h"
#include "paper/size_names.h"

namespace {

struct SourceMap {
  const char* ipp;
  bool borderless;
  const char* table;
};

constexpr SourceMap SOURCES[] = {
    {SOURCE_AUTO, false, "AUTO"},
    {SOURCE_AUTO, true, "TAUTO"},
    {SOURCE_ROLL, false, "ROLL"},
    {SOURCE_ROLL, true, "TROLL"},
};

int clamp_zero(int32_t value) { return value > 0 ? to_hundredths_mm(value) : 0; }

void copy_text(char* to, size_t size, const char* from) {
  static_cast<void>(std::snprintf(to, size, "%s", from != nullptr ? from : ""));
}

// The PWG name a job's media-col stands for: its name, or the standard or
// custom size of its dimensions.
const char* pwg_name_of(const pappl_media_col_t& col) {
  if (col.size_name[0] != '\0') return col.size_name;
  const pwg_media_t* media = pwgMediaForSize(col.size_width, col.size_length);
  return media != nullptr ? media->pwg : "";
}

// The row of `source` whose PWG size is `width` x `length` hundredths of a
// millimetre, give or take a tenth of a millimetre: a client may name a size
// by its dimensions alone, which PAPPL then calls custom_.
const PaperConf* find_size_of(const char* source, int width, int length) {
  constexpr int SLACK = 10;
  for (const PaperConf* row = paper_table(source); row->name != nullptr; ++row) {
    const SizeName* name = find_size_name(row->name);
    const pwg_media_t* media = name != nullptr ? pwgMediaForPWG(name->pwg) : nullptr;
    if (media != nullptr && std::abs(media->width - width) <= SLACK &&
        std::abs(media->length - length) <= SLACK) {
      return row;
    }
  }
  return nullptr;
}

}  // namespace

const char* table_source(const char* ipp_source, bool borderless) {
  if (ipp_source == nullptr || ipp_source[0] == '\0') ipp_source = SOURCE_AUTO;
  for (const SourceMap& entry : SOURCES) {
    if (entry.borderless == borderless && std::strcmp(entry.ipp, ipp_source) == 0) {
      return entry.table;
    }
  }
  return nullptr;
}

bool is_borderless(const pappl_media_col_t& col) {
  return col.left_margin == 0 && col.right_margin == 0 && col.top_margin == 0 &&
         col.bottom_margin == 0;
}

int to_hundredths_mm(int32_t units) {
  return static_cast<int>((int64_t{units} * 2540 + PAPER_UNITS_PER_INCH / 2) /
                          PAPER_UNITS_PER_INCH);
}

bool fill_media_col(const PaperConf& row, const char* ipp_source, bool borderless,
                    pappl_media_col_t* col) {
  const SizeName* name = find_size_name(row.name);
  if (name == nullptr) return false;
  const pwg_media_t* media = pwgMediaForPWG(name->pwg);
  if (media == nullptr) return false;
  *col = pappl_media_col_t{};
  copy_text(col->size_name, sizeof col->size_name, name->pwg);
  copy_text(col->source, sizeof col->source, ipp_source);
  col->size_width = media->width;
  col->size_length = media->length;
  if (!borderless) {
    col->left_margin = clamp_zero(row.left_offset);
    col->top_margin = clamp_zero(row.top_offset);
    col->right_margin = clamp_zero(row.width - row.print_width - row.left_offset);
    col->bottom_margin = clamp_zero(row.height - row.print_height - row.top_offset);
  }
  return true;
}

namespace {

JobMedia resolve_from(const char* source, bool borderless, const pappl_media_col_t& col) {
  JobMedia media{table_source(source, borderless), nullptr};
  if (media.source == nullptr) return media;
  media.row = find_pwg_size(media.source, pwg_name_of(col));
  if (media.row == nullptr) media.row = find_size_of(media.source, col.size_width, col.size_length);
  return media;
}

}  // namespace

JobMedia resolve_media(const pappl_media_col_t& col) {
  const bool borderless = is_borderless(col);
  const JobMedia media = resolve_from(col.source, borderless, col);
  if (media.row != nullptr || col.source[0] != '\0') return media;
  // PAPPL offers every size borderless, with no source: a size that no
  // table feeds borderless prints with the margins of the table that has it.
  const JobMedia others[] = {resolve_from(SOURCE_ROLL, borderless, col),
                             resolve_from(SOURCE_AUTO, false, col),
                             resolve_from(SOURCE_ROLL, false, col)};
  for (const JobMedia& other : others) {
    if (other.row != nullptr) return other;
  }
  return media;
}

void describe_unfeedable(const pappl_media_col_t& col, char* text, size_t size) {
  const char* source = col.source[0] != '\0' ? col.source : SOURCE_AUTO;
  const char* margins = is_borderless(col) ? "without margins" : "with margins";
  const char* table = table_source(col.source, is_borderless(col));
  if (table == nullptr) {
    static_cast<void>(std::snprintf(text, size,
                                    "The printer has no media source %s %s; it has %s and %s",
                                    source, margins, SOURCE_AUTO, SOURCE_ROLL));
    return;
  }
  int length = std::snprintf(text, size, "Size %s cannot be fed from %s %s, which takes",
                             pwg_name_of(col), source, margins);
  const char* separator = " ";
  for (const PaperConf* row = paper_table(table); row->name != nullptr; ++row) {
    if (length < 0 || static_cast<size_t>(length) >= size) return;
    length += std::snprintf(text + length, size - static_cast<size_t>(length), "%s%s", separator,
                            size_text(row->name));
    separator = ", ";
  }
}

size_t collect_pwg_names(const char** names, size_t capacity) {
  const PaperConf* rows[MAX_SIZES];
  const size_t count = collect_sizes(rows);
  size_t named = 0;
  for (size_t i = 0; i < count; ++i) {
    const SizeName* name = find_size_name(rows[i]->name);
    if (name == nullptr) continue;
    bool seen = false;
    for (size_t j = 0; j < named && !seen; ++j) seen = std::strcmp(names[j], name->pwg) == 0;
    if (!seen && named < capacity) names[named++] = name->pwg;
  }
  return named;
}

namespace {

// Appends to `text` as far as it holds.
void append(char* text, size_t size, const char* format, const char* value) {
  const size_t used = std::strlen(text);
  if (used + 1 < size) static_cast<void>(std::snprintf(text + used, size - used, format, value));
}

void say_sizes(char* text, size_t size) {
  const char* names[MAX_SIZES];
  const size_t count = collect_pwg_names(names, MAX_SIZES);
  append(text, size, "%s", "; it has");
  for (size_t i = 0; i < count; ++i) append(text, size, i == 0 ? " %s" : ", %s", names[i]);
}

bool has_pwg_name(const char* name) {
  const char* names[MAX_SIZES];
  const size_t count = collect_pwg_names(names, MAX_SIZES);
  return std::any_of(names, names + count,
                     [name](const char* known) { return std::strcmp(known, name) == 0; });
}

// Whether a size of the tables is `width` x `length` hundredths of a
// millimetre.
bool has_dimensions(int width, int length) {
  constexpr const char* TABLES[] = {"AUTO", "ROLL", "TAUTO", "TROLL"};
  return std::any_of(std::begin(TABLES), std::end(TABLES), [width, length](const char* source) {
    return find_size_of(source, width, length) != nullptr;
  });
}

bool refuse(char* message, size_t size, const char* format, const char* value) {
  static_cast<void>(std::snprintf(message, size, format, value));
  return false;
}

bool check_media_col(ipp_t* col, char* message, size_t size) {
  ipp_attribute_t* source = ippFindAttribute(col, "media-source", IPP_TAG_ZERO);
  if (source != nullptr) {
    const char* name = ippGetString(source, 0, nullptr);
    if (name == nullptr ||
        (std::strcmp(name, SOURCE_AUTO) != 0 && std::strcmp(name, SOURCE_ROLL) != 0)) {
      refuse(message, size, "The printer has no media source %s", name != nullptr ? name : "?");
      append(message, size, "%s", "; it has auto and main-roll");
      return false;
    }
  }
  if (ipp_attribute_t* name = ippFindAttribute(col, "media-size-name", IPP_TAG_ZERO)) {
    const char* text = ippGetString(name, 0, nullptr);
    if (text == nullptr || !has_pwg_name(text)) {
      refuse(message, size, "The printer has no size %s", text != nullptr ? text : "?");
      say_sizes(message, size);
      return false;
    }
    return true;
  }
  ipp_attribute_t* media_size = ippFindAttribute(col, "media-size", IPP_TAG_BEGIN_COLLECTION);
  if (media_size == nullptr) return true;
  ipp_t* dimensions = ippGetCollection(media_size, 0);
  ipp_attribute_t* x = ippFindAttribute(dimensions, "x-dimension", IPP_TAG_INTEGER);
  ipp_attribute_t* y = ippFindAttribute(dimensions, "y-dimension", IPP_TAG_INTEGER);
  const int width = x != nullptr ? ippGetInteger(x, 0) : 0;
  const int length = y != nullptr ? ippGetInteger(y, 0) : 0;
  if (has_dimensions(width, length)) return true;
  char asked[64];
  static_cast<void>(
      std::snprintf(asked, sizeof asked, "%.2fx%.2fmm", width / 100.0, length / 100.0));
  refuse(message, size, "The printer has no size of %s", asked);
  say_sizes(message, size);
  return false;
}

}  // namespace

ipp_attribute_t* unoffered_attribute(const JobRequest& request, char* message, size_t size) {
  if (request.media_col != nullptr) {
    if (!check_media_col(ippGetCollection(request.media_col, 0), message, size)) {
      return request.media_col;
    }
  } else if (request.media != nullptr) {
    const char* name = ippGetString(request.media, 0, nullptr);
    if (name == nullptr || !has_pwg_name(name)) {
      refuse(message, size, "The printer has no size %s", name != nullptr ? name : "?");
      say_sizes(message, size);
      return request.media;
    }
  }
  if (request.print_color_mode != nullptr) {
    const char* mode = ippGetString(request.print_color_mode, 0, nullptr);
    const bool known =
        mode != nullptr && (std::strcmp(mode, "auto") == 0 || std::strcmp(mode, "color") == 0 ||
                            std::strcmp(mode, "monochrome") == 0);
    if (!known) {
      refuse(message, size, "The printer has no colour mode %s; it has auto, color and monochrome",
             mode != nullptr ? mode : "?");
      return request.print_color_mode;
    }
  }
  if (request.printer_resolution != nullptr) {
    ipp_res_t units = IPP_RES_PER_INCH;
    int down = 0;
    const int across = ippGetResolution(request.printer_resolution, 0, &down, &units);
    bool offered = false;
    for (const int32_t dpi : OFFERED_RESOLUTIONS) {
      offered = offered || (units == IPP_RES_PER_INCH && across == dpi && down == dpi);
    }
    if (!offered) {
      char asked[64];
      static_cast<void>(std::snprintf(asked, sizeof asked, "%dx%d%s", across, down,
                                      units == IPP_RES_PER_INCH ? "dpi" : "dpcm"));
      refuse(message, size, "The printer has no resolution %s; it has", asked);
      for (size_t i = 0; i < std::size(OFFERED_RESOLUTIONS); ++i) {
        char dpi[16];
        static_cast<void>(std::snprintf(dpi, sizeof dpi, "%d dpi", OFFERED_RESOLUTIONS[i]));
        append(message, size, i == 0 ? " %s" : ", %s", dpi);
      }
      return request.printer_resolution;
    }
  }
  return nullptr;
}

bool check_request(const JobRequest& request, char* message, size_t size) {
  return unoffered_attribute(request, message, size) == nullptr;
}

bool names_source(const JobRequest& request) {
  if (request.media_col == nullptr) return false;
  return ippFindAttribute(ippGetCollection(request.media_col, 0), "media-source", IPP_TAG_ZERO) !=
         nullptr;
}

bool check_job_request(pappl_job_t* job, pappl_pr_options_t* options, char* message, size_t size) {
  const JobRequest request{papplJobGetAttribute(job, "media"),
                           papplJobGetAttribute(job, "media-col"),
                           papplJobGetAttribute(job, "print-color-mode"),
                           papplJobGetAttribute(job, "printer-resolution")};
  if (!check_request(request, message, size)) return false;
  if (!names_source(request)) options->media.source[0] = '\0';
  return true;
}
