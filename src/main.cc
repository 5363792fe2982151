#include "driver/driver.h"

int main(int argc, char** argv) { return vorq::run_main(argc, argv); }
