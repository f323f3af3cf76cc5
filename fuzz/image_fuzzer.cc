// Decodes arbitrary bytes as a JPEG or PNG document onto a small page: the
// decoder must end, within its memory budget, either with one PNG image or
// with a reason.

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "app/images.h"
#include "fuzz/input_file.h"

namespace {

int image_fd = -1;

struct Taken {
  size_t bytes;
  bool starts_png;
};

bool take(void* context, const void* data, size_t size) {
  auto* taken = static_cast<Taken*>(context);
  if (taken->bytes == 0) {
    taken->starts_png = size >= 8 && std::memcmp(data, "\x89PNG\r\n\x1a\n", 8) == 0;
  }
  taken->bytes += size;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  image_fd = make_input_file("image");
  return 0;
}

// The first byte picks the kind, the page's orientation and colour, and
// whether the image fills the page.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t choice = data[0];
  replace_contents(image_fd, data + 1, size - 1);
  if (lseek(image_fd, 0, SEEK_SET) != 0) std::abort();
  const ImageKind kind = (choice & 1) != 0 ? ImageKind::PNG : ImageKind::JPEG;
  const OutputPage page{(choice & 2) != 0 ? 64u : 48u, (choice & 2) != 0 ? 48u : 64u,
                        (choice & 4) != 0, 1};
  Taken taken{0, false};
  char message[512] = "";
  const bool printed = print_image(image_fd, kind, page, (choice & 8) != 0, PngSink{take, &taken},
                                   message, sizeof message);
  if (printed && !taken.starts_png) std::abort();
  if (!printed && message[0] == '\0') std::abort();
  return 0;
}
