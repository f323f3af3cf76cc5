#include "check/check.h"

int main(int argc, char** argv) { return check_main(argc, argv); }
