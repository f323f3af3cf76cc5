#include "app/server.h"
#include "app/face.h"

int main(int argc, char** argv) {
  prepare_state_home();
  return run_printer_app(argc, argv);
}
