// Reads a file that should hold PNG images back to back, decoding each whole
// with libpng, and says what it holds: "2 x 1261x1800 colour", several such
// runs joined by ", ", or "nothing" for an empty or missing file. Anything
// else in the file (a stray byte before, between or after the images, a bad
// chunk or checksum) is reported on standard output and fails. With --pixels,
// each image gets a line of its own with a digest of its decoded samples
// (64-bit FNV-1a), so that two images can be compared pixel for pixel
// whatever their compression: "2976x4209 colour 9c3f...".
//
// Usage: ravo_png_info [--pixels] FILE

#include <png.h>

#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

struct Image {
  png_uint_32 width;
  png_uint_32 height;
  bool colour;
  uint64_t digest;
};

std::string error_text;

void on_error(png_structp png, png_const_charp message) {
  error_text = message;
  png_longjmp(png, 1);
}

void on_warning(png_structp, png_const_charp) {}

// Decodes the image at the file's position; false with `error_text` set when
// it is not a whole PNG image of 8-bit grey or RGB.
bool read_image(std::FILE* file, Image* image) {
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, on_error, on_warning);
  png_infop info = png_create_info_struct(png);
  std::vector<png_byte> row;
  if (setjmp(png_jmpbuf(png)) != 0) {
    png_destroy_read_struct(&png, &info, nullptr);
    return false;
  }
  png_init_io(png, file);
  png_read_info(png, info);
  image->width = png_get_image_width(png, info);
  image->height = png_get_image_height(png, info);
  const int type = png_get_color_type(png, info);
  image->colour = type == PNG_COLOR_TYPE_RGB;
  if (png_get_bit_depth(png, info) != 8 ||
      (type != PNG_COLOR_TYPE_RGB && type != PNG_COLOR_TYPE_GRAY) ||
      png_get_interlace_type(png, info) != PNG_INTERLACE_NONE) {
    error_text = "not 8-bit grey or RGB";
    png_destroy_read_struct(&png, &info, nullptr);
    return false;
  }
  row.resize(png_get_rowbytes(png, info));
  image->digest = 14695981039346656037U;
  for (png_uint_32 y = 0; y < image->height; ++y) {
    png_read_row(png, row.data(), nullptr);
    for (const png_byte sample : row) image->digest = (image->digest ^ sample) * 1099511628211U;
  }
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const bool pixels = argc == 3 && std::string(argv[1]) == "--pixels";
  if (argc != 2 && !pixels) {
    std::fprintf(stderr, "usage: %s [--pixels] FILE\n", argv[0]);
    return 2;
  }
  std::FILE* file = std::fopen(argv[argc - 1], "rb");
  std::vector<Image> images;
  for (int next; file != nullptr && (next = std::fgetc(file)) != EOF;) {
    std::ungetc(next, file);
    Image image{};
    if (!read_image(file, &image)) {
      std::printf("image %zu: %s\n", images.size() + 1, error_text.c_str());
      return 1;
    }
    images.push_back(image);
  }
  if (pixels) {
    for (const Image& image : images) {
      std::printf("%ux%u %s %016llx\n", image.width, image.height, image.colour ? "colour" : "grey",
                  static_cast<unsigned long long>(image.digest));
    }
    return 0;
  }
  if (images.empty()) std::printf("nothing");
  const char* separator = "";
  for (size_t i = 0, run = 1; i < images.size(); ++i, ++run) {
    const Image& a = images[i];
    if (i + 1 < images.size() && images[i + 1].width == a.width &&
        images[i + 1].height == a.height && images[i + 1].colour == a.colour) {
      continue;
    }
    std::printf("%s%zu x %ux%u %s", separator, run, a.width, a.height,
                a.colour ? "colour" : "grey");
    separator = ", ";
    run = 0;
  }
  std::printf("\n");
  return 0;
}
