#include "tests/support/files.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace ravo_test {

namespace {

std::string* made_dir = nullptr;

void remove_scratch_dir() {
  std::error_code ignored;
  if (made_dir != nullptr) std::filesystem::remove_all(*made_dir, ignored);
}

}  // namespace

const std::string& scratch_dir() {
  if (made_dir == nullptr) {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && *tmp ? tmp : "/tmp") + "/ravo-test-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
      std::perror("mkdtemp");
      std::abort();
    }
    made_dir = new std::string(pattern);
    std::atexit(remove_scratch_dir);
  }
  return *made_dir;
}

std::string write_scratch_file(const std::string& name, const std::string& content) {
  const std::string path = scratch_dir() + "/" + name;
  std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
  return path;
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

std::string arbitrary_bytes(size_t count) {
  std::string bytes(count, '\0');
  unsigned state = 12345;
  for (char& byte : bytes) {
    state = state * 1103515245u + 12345u;
    byte = static_cast<char>(state >> 16);
  }
  return bytes;
}

}  // namespace ravo_test
