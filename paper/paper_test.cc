#include "paper/paper.h"

#include <gtest/gtest.h>

#include <array>
#include <set>
#include <span>
#include <string>

namespace {

struct TableFacts {
  const char* label;
  std::span<const PaperConf> table;
  const char* names;                // the rows' names in order, blank-separated
  std::array<long, 6> column_sums;  // of every row, the end row included
};

const TableFacts TABLES[] = {
    {"paper_auto",
     paper_auto,
     "A4 A5 A6 A3 A3+ B5 B4 PC DPC PHOTO ENVC3 ENVC4 ENVY1 ENVY2 ENVY3 ENVY4 LT "
     "LGL EXE HLT INDEX5 INDEX8 ENV10 ENVDL ENVC6 ENV5X8 PP100 PP200 4X6FULL L "
     "PANORAM",
     {74185, 102619, 71104, 94570, 1301, 2066}},
    {"paper_roll",
     paper_roll,
     "A4 A5 A6 A3 A3+ B5 B4 PC DPC LT LGL 4X6 L NC",
     {35966, 48818, 34790, 48818, 587, -1}},
    {"paper_roll_trim", paper_roll_trim, "A4 PC 4X6 L NC", {8331, 11045, 8686, 11045, -1, -1}},
    {"paper_auto_trim", paper_auto_trim, "A4 PC", {4392, 6306, 4534, 5826, -1, 83}},
    {"paper_auto_trim_4", paper_auto_trim_4, "", {-1, -1, -1, -1, -1, -1}},
};

TEST(PaperTables, RowsEndAndSumAsPublished) {
  for (const TableFacts& facts : TABLES) {
    SCOPED_TRACE(facts.label);
    std::string names;
    std::set<std::string> seen;
    std::array<long, 6> sums{};
    for (const PaperConf& row : facts.table) {
      const int32_t fields[] = {row.width,        row.height,      row.print_width,
                                row.print_height, row.left_offset, row.top_offset};
      for (size_t i = 0; i < 6; ++i) sums[i] += fields[i];
      if (row.name == nullptr) continue;
      EXPECT_TRUE(seen.insert(row.name).second) << "twice: " << row.name;
      names += names.empty() ? "" : " ";
      names += row.name;
    }
    EXPECT_EQ(names, facts.names);
    EXPECT_EQ(sums, facts.column_sums);
    const PaperConf& end = facts.table.back();
    EXPECT_EQ(end.name, nullptr);
    EXPECT_EQ(end.width, -1);
    EXPECT_EQ(end.top_offset, -1);
  }
}

TEST(PaperTables, PrintableAreaFollowsTheFeed) {
  for (const PaperConf* table : {paper_roll_trim, paper_auto_trim}) {
    for (const PaperConf* row = table; row->name != nullptr; ++row) {
      EXPECT_EQ(row->print_width, row->width + 71) << row->name;
      EXPECT_EQ(row->left_offset, 0) << row->name;
    }
  }
  for (const PaperConf* table : {paper_roll, paper_roll_trim}) {
    for (const PaperConf* row = table; row->name != nullptr; ++row) {
      EXPECT_EQ(row->print_height, row->height) << row->name;
      EXPECT_EQ(row->top_offset, 0) << row->name;
    }
  }
}

struct Lookup {
  const char* source;
  const char* name;
  const PaperConf* expected;
};

TEST(CallPaperConf, ChoosesTableBySourceAndRowByName) {
  const Lookup cases[] = {
      {"AUTO", "A4", &paper_auto[0]},
      {nullptr, "L", &paper_auto[29]},
      {"", "L", &paper_auto[29]},
      {"AUTO", "PANORAM", &paper_auto[30]},
      {"ROLL", "NC", &paper_roll[13]},
      {"ROLL", "L", &paper_roll[12]},
      {"TROLL", "L", &paper_roll_trim[3]},
      {"TR3300", "L", &paper_roll_trim[3]},
      {"TR820", "L", &paper_roll_trim[3]},
      {"TAUTO", "A4", &paper_auto_trim[0]},
      {"TAUTO", "PC", &paper_auto_trim[1]},
      // Missing rows, empty and unknown tables, and case.
      {"AUTO", "NC", nullptr},
      {"AUTO", "4X6", nullptr},
      {"ROLL", "PANORAM", nullptr},
      {"TAUTO", "L", nullptr},
      {"T4AUTO", "A4", nullptr},
      {"T4AUTO", "", nullptr},
      {"auto", "A4", nullptr},
      {"AUTO", "a4", nullptr},
      {"AUTO ", "A4", nullptr},
      {"AUT", "A4", nullptr},
      {"CASSETTE", "A4", nullptr},
      {"AUTO", "", nullptr},
      {"AUTO", nullptr, nullptr},
      {"AUTO", "A4 ", nullptr},
  };
  for (const Lookup& c : cases) {
    EXPECT_EQ(call_paper_conf(c.source, c.name), c.expected)
        << (c.source ? c.source : "(null)") << " / " << (c.name ? c.name : "(null)");
  }
}

TEST(CallPaperConf, FindsEveryRowOfEveryTable) {
  const struct {
    const char* source;
    const PaperConf* table;
  } sources[] = {{"AUTO", paper_auto},         {"ROLL", paper_roll},
                 {"TROLL", paper_roll_trim},   {"TR3300", paper_roll_trim},
                 {"TR820", paper_roll_trim},   {"TAUTO", paper_auto_trim},
                 {"T4AUTO", paper_auto_trim_4}};
  for (const auto& source : sources) {
    for (const PaperConf* row = source.table; row->name != nullptr; ++row) {
      EXPECT_EQ(call_paper_conf(source.source, row->name), row)
          << source.source << " / " << row->name;
    }
  }
}

}  // namespace
