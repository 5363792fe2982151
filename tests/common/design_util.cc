#include "design_util.h"

#include <sys/stat.h>

#include <cstring>

#include "netlist/load/load.h"
#include "test_util.h"

namespace vorq_test {

Design write_design(const Files& files, const Files& ro_files) {
  Design d;
  d.dir = make_temp_dir();
  for (const auto& [name, text] : files) write_file(d.dir + "/" + name, text);
  if (!ro_files.empty()) {
    d.ro_dir = make_temp_dir();
    for (const auto& [name, text] : ro_files) write_file(d.ro_dir + "/" + name, text);
  }
  d.top = nullptr;
  return d;
}

void load_written(Design& d, const std::string& top_name) {
  vorq::reset_globals();
  vorq::strlist_append(&vorq::opt_dir, d.dir.c_str());
  if (!d.ro_dir.empty()) vorq::strlist_append(&vorq::read_dir, d.ro_dir.c_str());
  vorq::strlist_append(&vorq::write_dir, make_temp_dir().c_str());
  vorq::top_name = vorq::arena_strdup(top_name.c_str());
  vorq::read_module(vorq::top_name);
  d.top = vorq::top;
}

Design load_design(const std::string& top_name, const Files& files, const Files& ro_files) {
  Design d = write_design(files, ro_files);
  load_written(d, top_name);
  return d;
}

vorq::Module* module_at(const std::string& path) {
  vorq::Module* m = vorq::top;
  size_t start = 0;
  while (m && start < path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    std::string part = path.substr(start, end - start);
    vorq::Module* found = nullptr;
    for (vorq::Module* c : vorq::modules())
      if (c->parent == m && c->inst_name && part == c->inst_name) {
        found = c;
        break;
      }
    m = found;
    start = end + 1;
  }
  return m;
}

}  // namespace vorq_test
