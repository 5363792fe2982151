// The run driver: banner, command line, and the stages of one run in order.
#pragma once

namespace vorq {

// Fills the run's globals from the command line, or prints the usage text and
// ends the process with status 1.
void parse_args(int argc, char** argv);

// The whole run; returns the exit status (0 after every completed run).
int run_main(int argc, char** argv);

}  // namespace vorq
