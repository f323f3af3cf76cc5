#include "app/submissions.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

// A Print-Job request holding what `build` adds, and the formats a printer
// takes.
struct Submission {
  ipp_t* request = ippNewRequest(IPP_OP_PRINT_JOB);
  ipp_t* printer = ippNew();
  ipp_attribute_t* formats;
  Submission() {
    static const char* const TAKEN[] = {
        "application/pdf", "application/postscript",  "image/jpeg", "image/png", "image/pwg-raster",
        "image/urf",       "application/octet-stream"};
    formats = ippAddStrings(printer, IPP_TAG_PRINTER, IPP_TAG_MIMETYPE, "document-format-supported",
                            static_cast<int>(std::size(TAKEN)), nullptr, TAKEN);
  }
  ~Submission() {
    ippDelete(request);
    ippDelete(printer);
  }
  Submission(const Submission&) = delete;
  Submission& operator=(const Submission&) = delete;
};

void add_format(ipp_t* request, const char* format) {
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_MIMETYPE, "document-format", nullptr, format);
}

void add_media_size(ipp_t* request, int width, int length) {
  ipp_t* size = ippNew();
  ippAddInteger(size, IPP_TAG_ZERO, IPP_TAG_INTEGER, "x-dimension", width);
  ippAddInteger(size, IPP_TAG_ZERO, IPP_TAG_INTEGER, "y-dimension", length);
  ipp_t* col = ippNew();
  ippAddCollection(col, IPP_TAG_ZERO, "media-size", size);
  ippAddCollection(request, IPP_TAG_JOB, "media-col", col);
  ippDelete(size);
  ippDelete(col);
}

TEST(Submissions, NamesTheFirstAttributeThePrinterLacks) {
  struct Case {
    const char* label;
    const char* format;      // null: none given
    const char* media;       // null: none given
    const char* color_mode;  // null: none given
    int dpi;                 // 0: none given
    int media_col_width;     // 0: no media-col
    const char* refused;     // the attribute named, or null
  };
  const Case cases[] = {
      {"nothing asked", nullptr, nullptr, nullptr, 0, 0, nullptr},
      {"PDF on A4 at 360 dpi", "application/pdf", "iso_a4_210x297mm", "color", 360, 0, nullptr},
      {"typed by its content", "application/octet-stream", nullptr, nullptr, 0, 0, nullptr},
      {"plain text", "text/plain", nullptr, nullptr, 0, 0, "document-format"},
      {"an unknown format", "application/x-foo", "iso_a4_210x297mm", nullptr, 0, 0,
       "document-format"},
      {"A0 by name", "application/pdf", "iso_a0_841x1189mm", nullptr, 0, 0, "media"},
      {"A0 by its dimensions", nullptr, nullptr, nullptr, 0, 84100, "media-col"},
      {"A4 by its dimensions", nullptr, nullptr, nullptr, 0, 21000, nullptr},
      {"a colour mode not offered", nullptr, nullptr, "process-monochrome", 0, 0,
       "print-color-mode"},
      {"a resolution not offered", nullptr, nullptr, nullptr, 600, 0, "printer-resolution"},
      {"the format before the size", "text/plain", "iso_a0_841x1189mm", nullptr, 0, 0,
       "document-format"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    Submission job;
    if (c.format != nullptr) add_format(job.request, c.format);
    if (c.media != nullptr) {
      ippAddString(job.request, IPP_TAG_JOB, IPP_TAG_KEYWORD, "media", nullptr, c.media);
    }
    if (c.color_mode != nullptr) {
      ippAddString(job.request, IPP_TAG_JOB, IPP_TAG_KEYWORD, "print-color-mode", nullptr,
                   c.color_mode);
    }
    if (c.dpi != 0) {
      ippAddResolution(job.request, IPP_TAG_JOB, "printer-resolution", IPP_RES_PER_INCH, c.dpi,
                       c.dpi);
    }
    if (c.media_col_width != 0) {
      add_media_size(job.request, c.media_col_width, c.media_col_width == 84100 ? 118900 : 29700);
    }
    char message[1024] = "";
    ipp_attribute_t* refused =
        unoffered_request_attribute(job.request, job.formats, message, sizeof message);
    EXPECT_STREQ(c.refused, refused != nullptr ? ippGetName(refused) : nullptr);
    EXPECT_EQ(c.refused != nullptr, message[0] != '\0') << message;
  }
}

TEST(Submissions, SaysWhatFormatWasAskedAndWhichThePrinterTakes) {
  Submission job;
  add_format(job.request, "text/plain");
  char message[1024] = "";
  ASSERT_NE(nullptr,
            unoffered_request_attribute(job.request, job.formats, message, sizeof message));
  EXPECT_EQ(std::string("The printer does not take text/plain documents; it takes "
                        "application/pdf, application/postscript, image/jpeg, image/png, "
                        "image/pwg-raster, image/urf"),
            message);
}

TEST(Submissions, CutsTheMessageToItsBuffer) {
  Submission job;
  add_format(job.request, "text/plain");
  char message[48];
  std::memset(message, 'x', sizeof message);
  ASSERT_NE(nullptr, unoffered_request_attribute(job.request, job.formats, message, 40));
  EXPECT_EQ(39U, std::strlen(message));
  EXPECT_EQ('x', message[40]);
}

}  // namespace
