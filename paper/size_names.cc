#include "paper/size_names.h"

#include <cstring>

#include "paper/catalogue.h"

// Sizes with a PWG name of their own use it; the others get a custom_ name
// that carries their real size in the tables (landscape sizes are named
// portrait, as PWG names are).
const SizeName SIZE_NAMES[33] = {
    {"A4", "A4", "iso_a4_210x297mm"},
    {"A5", "A5", "iso_a5_148x210mm"},
    {"A6", "A6", "iso_a6_105x148mm"},
    {"A3", "A3", "iso_a3_297x420mm"},
    {"A3+", "A3+ (Super A3)", "custom_super-a3_329x483mm"},
    {"B5", "B5 (JIS)", "jis_b5_182x257mm"},
    {"B4", "B4 (JIS)", "jis_b4_257x364mm"},
    {"PC", "Postcard", "jpn_hagaki_100x148mm"},
    {"DPC", "Double Postcard", "jpn_oufuku_148x200mm"},
    {"PHOTO", "Photo Paper", "custom_photo_113.6x164.4mm"},
    {"ENVC3", "Envelope Chou 3", "custom_env-chou3_120x260mm"},
    {"ENVC4", "Envelope Chou 4", "custom_env-chou4_90x223mm"},
    {"ENVY1", "Envelope You 1", "custom_env-you1_120x176mm"},
    {"ENVY2", "Envelope You 2", "custom_env-you2_114x162mm"},
    {"ENVY3", "Envelope You 3", "custom_env-you3_98x148mm"},
    {"ENVY4", "Envelope You 4", "jpn_you4_105x235mm"},
    {"LT", "US Letter", "na_letter_8.5x11in"},
    {"LGL", "US Legal", "na_legal_8.5x14in"},
    {"EXE", "Executive", "na_executive_7.25x10.5in"},
    {"HLT", "Half Letter", "na_invoice_5.5x8.5in"},
    {"INDEX5", "Index Card 5 x 8 in", "na_index-5x8_5x8in"},
    {"INDEX8", "Index Card 8 x 10 in", "na_govt-letter_8x10in"},
    {"ENV10", "Envelope #10", "na_number-10_4.125x9.5in"},
    {"ENVDL", "Envelope DL", "iso_dl_110x220mm"},
    {"ENVC6", "Envelope C6", "iso_c6_114x162mm"},
    {"ENV5X8", "Envelope 5 x 8 in", "custom_env-5x8_132x220mm"},
    {"PP100", "Photo Paper 100", "custom_pp100_100x149.9mm"},
    {"PP200", "Photo Paper 200", "custom_pp200_216x338mm"},
    {"4X6FULL", "4 x 6 in, Full Page", "na_index-4x6_4x6in"},
    {"L", "L (89 x 127 mm)", "oe_photo-l_3.5x5in"},
    {"PANORAM", "Panorama", "custom_panorama_210x594mm"},
    {"4X6", "4 x 6 in", "na_index-4x6_4x6in"},
    {"NC", "Name Card", "custom_name-card_55x89mm"},
};

const SizeName* find_size_name(const char* keyword) {
  if (keyword == nullptr) return nullptr;
  for (const SizeName& entry : SIZE_NAMES) {
    if (std::strcmp(entry.keyword, keyword) == 0) return &entry;
  }
  return nullptr;
}

const char* size_text(const char* keyword) {
  const SizeName* entry = find_size_name(keyword);
  return entry != nullptr ? entry->text : keyword;
}

const PaperConf* find_pwg_size(const char* source, const char* pwg) {
  const PaperConf* row = paper_table(source);
  if (row == nullptr || pwg == nullptr) return nullptr;
  for (; row->name != nullptr; ++row) {
    const SizeName* entry = find_size_name(row->name);
    if (entry != nullptr && std::strcmp(entry->pwg, pwg) == 0) return row;
  }
  return nullptr;
}

size_t collect_sizes(const PaperConf** rows) {
  size_t count = 0;
  for (int source = 0; source < Bin_Num; ++source) {
    for (const PaperConf* row = paper_table(Bins[source]); row->name != nullptr; ++row) {
      bool seen = false;
      for (size_t i = 0; i < count && !seen; ++i) seen = std::strcmp(rows[i]->name, row->name) == 0;
      if (!seen && count < MAX_SIZES) rows[count++] = row;
    }
  }
  return count;
}
