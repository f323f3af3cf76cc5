#include "app/job_watch.h"

#include <gtest/gtest.h>

namespace {

TEST(JobWatch, CancelsOnlyAJobWhoseDocumentIsLate) {
  struct Case {
    bool has_document;
    time_t created;
    time_t now;
    bool overdue;
  };
  const Case cases[] = {
      {false, 1000, 1030, false},  // at the limit
      {false, 1000, 1031, true},   // just past it
      {true, 1000, 5000, false},   // its document came
      {false, 0, 5000, false},     // no time of creation known
      {false, 1000, 900, false},   // a clock set back
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.overdue, document_overdue(c.has_document, c.created, c.now, 30))
        << c.has_document << " " << c.created << " " << c.now;
  }
}

}  // namespace
