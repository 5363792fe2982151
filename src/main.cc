#include "driver/driver.h"
#include "writer/writer.h"

int main(int argc, char** argv) {
  vorq::guard_outputs_on_signals();
  return vorq::run_main(argc, argv);
}
