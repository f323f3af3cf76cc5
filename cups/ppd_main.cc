// Writes the printer's PPD to standard output: ravoppd VERSION.

#include <cstdio>

#include "cups/ppd_writer.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    static_cast<void>(std::fputs("usage: ravoppd VERSION\n", stderr));
    return 2;
  }
  return write_ppd(stdout, argv[1]) != 0 || std::fclose(stdout) != 0 ? 1 : 0;
}
