#include "app/media.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

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

JobMedia resolve_media(const pappl_media_col_t& col) {
  JobMedia media{table_source(col.source, is_borderless(col)), nullptr};
  if (media.source == nullptr) return media;
  media.row = find_pwg_size(media.source, pwg_name_of(col));
  if (media.row == nullptr) media.row = find_size_of(media.source, col.size_width, col.size_length);
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
