#include "paper/paper.h"

#include <cstring>

namespace {

constexpr PaperConf END_ROW = {nullptr, -1, -1, -1, -1, -1, -1};

}  // namespace

// One row a line, as the tables are published.
// clang-format off
const PaperConf paper_auto[32] = {
    {"A4", 2976, 4209, 2892, 3969, 42, 42},
    {"A5", 2098, 2976, 2014, 2736, 42, 42},
    {"A6", 1488, 2098, 1404, 1858, 42, 42},
    {"A3", 4209, 5953, 4125, 5713, 42, 42},
    {"A3+", 4663, 6846, 4579, 6606, 42, 42},
    {"B5", 2580, 3643, 2496, 3403, 42, 42},
    {"B4", 3643, 5159, 3559, 4919, 42, 42},
    {"PC", 1417, 2098, 1333, 1858, 42, 42},
    {"DPC", 2835, 2098, 2751, 1858, 42, 42},
    {"PHOTO", 1610, 2330, 1526, 2246, 42, 42},
    {"ENVC3", 1701, 3685, 1617, 3091, 42, 396},
    {"ENVC4", 1276, 3161, 1192, 2666, 42, 297},
    {"ENVY1", 1701, 2494, 1617, 2254, 42, 42},
    {"ENVY2", 1616, 2296, 1532, 2056, 42, 42},
    {"ENVY3", 1389, 2098, 1305, 1858, 42, 42},
    {"ENVY4", 1488, 3331, 1404, 3091, 42, 42},
    {"LT", 3060, 3960, 2976, 3720, 42, 42},
    {"LGL", 3060, 5040, 2976, 4800, 42, 42},
    {"EXE", 2610, 3780, 2526, 3540, 42, 42},
    {"HLT", 1980, 3060, 1896, 2820, 42, 42},
    {"INDEX5", 1800, 2880, 1716, 2640, 42, 42},
    {"INDEX8", 2880, 3600, 2796, 3360, 42, 42},
    {"ENV10", 3420, 1485, 2976, 1245, 42, 42},
    {"ENVDL", 3118, 1559, 2976, 1319, 42, 42},
    {"ENVC6", 2296, 1616, 2212, 1376, 42, 42},
    {"ENV5X8", 3118, 1871, 2976, 1631, 42, 42},
    {"PP100", 1417, 2125, 1333, 1885, 42, 42},
    {"PP200", 3061, 4790, 2976, 4394, 42, 198},
    {"4X6FULL", 1440, 2160, 1356, 1920, 42, 42},
    {"L", 1260, 1800, 1176, 1560, 42, 42},
    {"PANORAM", 2976, 8419, 2892, 8179, 42, 42},
    END_ROW,
};

const PaperConf paper_roll[15] = {
    {"A4", 2976, 4209, 2892, 4209, 42, 0},
    {"A5", 2098, 2976, 2014, 2976, 42, 0},
    {"A6", 1488, 2098, 1404, 2098, 42, 0},
    {"A3", 4209, 5953, 4125, 5953, 42, 0},
    {"A3+", 4663, 6846, 4579, 6846, 42, 0},
    {"B5", 2580, 3643, 2496, 3643, 42, 0},
    {"B4", 3643, 5159, 3559, 5159, 42, 0},
    {"PC", 1417, 2098, 1333, 2098, 42, 0},
    {"DPC", 2835, 2098, 2751, 2098, 42, 0},
    {"LT", 3060, 3960, 2976, 3960, 42, 0},
    {"LGL", 3060, 5040, 2976, 5040, 42, 0},
    {"4X6", 1417, 2160, 1333, 2160, 42, 0},
    {"L", 1260, 1800, 1176, 1800, 42, 0},
    {"NC", 1261, 779, 1177, 779, 42, 0},
    END_ROW,
};

const PaperConf paper_roll_trim[6] = {
    {"A4", 2976, 4209, 3047, 4209, 0, 0},
    {"PC", 1417, 2098, 1488, 2098, 0, 0},
    {"4X6", 1417, 2160, 1488, 2160, 0, 0},
    {"L", 1261, 1800, 1332, 1800, 0, 0},
    {"NC", 1261, 779, 1332, 779, 0, 0},
    END_ROW,
};

const PaperConf paper_auto_trim[3] = {
    {"A4", 2976, 4209, 3047, 3969, 0, 42},
    {"PC", 1417, 2098, 1488, 1858, 0, 42},
    END_ROW,
};

const PaperConf paper_auto_trim_4[1] = {
    END_ROW,
};
// clang-format on

namespace {

struct PaperSource {
  const char* keyword;
  const PaperConf* table;
};

// Searched in order; a null or empty keyword means the sheet feeder.
constexpr PaperSource PAPER_SOURCES[] = {
    {"AUTO", paper_auto},          {"ROLL", paper_roll},       {"TROLL", paper_roll_trim},
    {"TR3300", paper_roll_trim},   {"TR820", paper_roll_trim}, {"TAUTO", paper_auto_trim},
    {"T4AUTO", paper_auto_trim_4},
};

}  // namespace

const PaperConf* paper_table(const char* source) {
  if (source == nullptr || source[0] == '\0') return paper_auto;
  for (const PaperSource& entry : PAPER_SOURCES) {
    if (std::strcmp(source, entry.keyword) == 0) return entry.table;
  }
  return nullptr;
}

const PaperConf* call_paper_conf(const char* source, const char* name) {
  const PaperConf* row = paper_table(source);
  if (row == nullptr || name == nullptr) return nullptr;
  for (; row->name != nullptr; ++row) {
    if (std::strcmp(row->name, name) == 0) return row;
  }
  return nullptr;
}
