#include "filter/filter.h"

int main() { return filter_main(); }
