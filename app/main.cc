#include "app/server.h"

int main(int argc, char** argv) { return run_printer_app(argc, argv); }
