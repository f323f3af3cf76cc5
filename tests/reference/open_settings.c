/* Opens and closes the settings file as any C program reading a file through
   a standard stream must: the baseline for the filter's PostScript path. */
#include <stdio.h>

int main(void) {
  FILE* file = fopen("/etc/ravorc", "rb");
  if (file != NULL) fclose(file);
  return 0;
}
