#include "netlist/netlist.h"

namespace vorq {

Module* top;
int first_inv_num;
int eor_enor_exist;
int reg_exist;
int all;
int h_or_f = 4;
StrList* opt_dir;
StrList* read_dir;
StrList* write_dir;
int lineno;
const char* file_name;
char buf[4096];
int sticky_cnt;
Cell* start_sub_comp;
const char* top_name;
int paren_depth;
int class_number;

void reset_globals() {
  top = nullptr;
  first_inv_num = eor_enor_exist = reg_exist = all = 0;
  h_or_f = 4;
  opt_dir = read_dir = write_dir = nullptr;
  lineno = 0;
  file_name = nullptr;
  buf[0] = 0;
  sticky_cnt = 0;
  start_sub_comp = nullptr;
  top_name = nullptr;
  paren_depth = 0;
  class_number = 0;
}

}  // namespace vorq
