#include "driver/driver.h"

#include "netlist/netlist.h"

namespace vorq {

void parse_args(int, char**) {}

int run_main(int, char**) {
  keldramos_banner(stderr, "VORQ", nullptr, nullptr);
  return 0;
}

}  // namespace vorq
