#include "filter/filter.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "tests/support/files.h"

namespace {

TEST(CheckPostscript, SignatureAtTheStartOnly) {
  const struct {
    std::string head;
    bool postscript;
  } cases[] = {
      {"", false},
      {"%", false},
      {"!", false},
      {"%!", true},
      {"!%", false},
      {"%%", false},
      {"%!PS-Adobe-3.0", true},
      {" %!", false},
      {"\n%!", false},
      {std::string("\x04", 1), false},
      {"\x04%", false},
      {"\x04%!", true},
      {"\x04%!PS", true},
      {"\x04%%", false},
      {"\x04\x04%!", false},
      {std::string("\0%!", 3), false},
      {"%\x04!", false},
  };
  for (const auto& c : cases) {
    const auto* head = reinterpret_cast<const unsigned char*>(c.head.data());
    EXPECT_EQ(check_postscript(head, c.head.size()), c.postscript) << c.head;
  }
}

TEST(CheckPostscript, NeverLooksPastTheLength) {
  const auto* whole = reinterpret_cast<const unsigned char*>("\x04%!");
  EXPECT_FALSE(check_postscript(whole, 2));
  EXPECT_FALSE(check_postscript(reinterpret_cast<const unsigned char*>("%!"), 1));
  EXPECT_FALSE(check_postscript(nullptr, 0));
}

struct Copy {
  int status;
  std::string output;
  std::string messages;
};

Copy copy(FILE* in, FILE* out) {
  testing::internal::CaptureStderr();
  Copy result{pass_through(in, out), "", ""};
  result.messages = testing::internal::GetCapturedStderr();
  return result;
}

TEST(PassThrough, CopiesEveryByteAcrossChunkBoundaries) {
  const size_t sizes[] = {
      0, 1, COPY_CHUNK - 1, COPY_CHUNK, COPY_CHUNK + 1, COPY_CHUNK + 2, 3 * COPY_CHUNK + 17};
  for (const size_t size : sizes) {
    std::string job = ravo_test::arbitrary_bytes(size);
    if (size > 100) job.replace(size / 2, 64, 64, '\0');
    FILE* in = std::fopen(ravo_test::write_scratch_file("job", job).c_str(), "rb");
    FILE* out = std::fopen((ravo_test::scratch_dir() + "/out").c_str(), "wb");
    ASSERT_TRUE(in != nullptr && out != nullptr);
    const Copy got = copy(in, out);
    std::fclose(in);
    std::fclose(out);
    EXPECT_EQ(got.status, 0) << size;
    EXPECT_EQ(got.messages, "") << size;
    EXPECT_TRUE(ravo_test::read_file(ravo_test::scratch_dir() + "/out") == job) << size;
  }
}

TEST(PassThrough, CopiesFromTheCurrentPosition) {
  FILE* in = std::fopen(ravo_test::write_scratch_file("job", "%!PS skipped|kept").c_str(), "rb");
  FILE* out = std::fopen((ravo_test::scratch_dir() + "/out").c_str(), "wb");
  ASSERT_TRUE(in != nullptr && out != nullptr);
  std::fseek(in, 13, SEEK_SET);
  EXPECT_EQ(copy(in, out).status, 0);
  std::fclose(in);
  std::fclose(out);
  EXPECT_EQ(ravo_test::read_file(ravo_test::scratch_dir() + "/out"), "kept");
}

TEST(PassThrough, ReportsLostDataAsFailure) {
  const std::string job = ravo_test::write_scratch_file("job", "some job\n");

  // A stream that cannot be read.
  FILE* unreadable = std::fopen(job.c_str(), "ab");
  FILE* out = std::fopen((ravo_test::scratch_dir() + "/out").c_str(), "wb");
  ASSERT_TRUE(unreadable != nullptr && out != nullptr);
  Copy got = copy(unreadable, out);
  std::fclose(unreadable);
  std::fclose(out);
  EXPECT_EQ(got.status, 1);
  EXPECT_EQ(got.messages, "reading standard input : Bad file descriptor\n");

  // A device that takes no bytes, buffered and unbuffered.
  for (const bool buffered : {true, false}) {
    FILE* in = std::fopen(job.c_str(), "rb");
    FILE* full = std::fopen("/dev/full", "wb");
    ASSERT_TRUE(in != nullptr && full != nullptr);
    if (!buffered) std::setvbuf(full, nullptr, _IONBF, 0);
    got = copy(in, full);
    std::fclose(in);
    std::fclose(full);
    EXPECT_EQ(got.status, 1);
    EXPECT_EQ(got.messages, "writing standard output : No space left on device\n");
  }
}

TEST(DefaultSettings, AreColourA4At360Dpi) {
  EXPECT_EQ(Def_Conf.ink, INK_COLOUR);
  EXPECT_EQ(Def_Conf.resolution, 360);
  EXPECT_EQ(Def_Conf.width, 2976);
  EXPECT_EQ(Def_Conf.height, 4209);
}

}  // namespace
