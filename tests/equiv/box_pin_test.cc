// Black-box pins by direction: two inverters in a row behind (or in front of)
// a pin of every direction, against one inverter. Where the pin drives or is
// observed the difference is refuted; unused and global pins hide it.
// cases/*: designs kept as found, each with `check` (vorq-equiv's arguments,
// then the status and a point the verdict names); a `cmd` runs vorq first.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "test_util.h"

namespace {

namespace fs = std::filesystem;

std::string design(bool pin_drives, bool broken) {
  std::string from = pin_drives ? "x1.P" : "a", to = pin_drives ? "y" : "x1.P";
  return "(def-module t\n(def-pin a type input)\n(def-pin y type output)\n(def-comp inv- n1 n2)\n"
         "(def-comp box x1)\n(def-net " + from + " n1.in)\n" +
         (broken ? "(def-net n1.nout " + to + ")\n)\n" : "(def-net n1.nout n2.in)\n(def-net n2.nout " + to + ")\n)\n");
}

TEST(EquivBoxPins, EveryDirection) {
  const struct { const char* dir; bool drives; int status; } rows[] = {
      {"output", true, 1},      {"output-connected", true, 1},   {"tristate", true, 1},
      {"tristate_connected", true, 1}, {"bidirect", true, 1},    {"bidirect_connected", true, 1},
      {"bidirect", false, 1},   {"bidirect_connected", false, 1}, {"input", false, 1},
      {"input-connected", false, 1}, {"unused", false, 0},       {"unused-connected", false, 0},
      {"global", false, 0}};
  for (const auto& r : rows) {
    std::string d = vorq_test::make_temp_dir();
    for (const char* sub : {"/lib", "/gold", "/bad"}) fs::create_directory(d + sub);
    vorq_test::write_file(d + "/lib/box.pcd", std::string("(def-module box\n(def-pin P type ") + r.dir + ")\n)\n");
    vorq_test::write_file(d + "/gold/t.nld", design(r.drives, false));
    vorq_test::write_file(d + "/bad/t.nld", design(r.drives, true));
    vorq_test::RunResult res = vorq_test::run_program(
        VORQ_EQUIV_BINARY, {"--gold", "t", "gold", "-r", "lib", "--new", "t", "bad", "-r", "lib"}, d);
    EXPECT_EQ(res.status, r.status) << r.dir << "\n" << res.out << res.err;
    if (r.status == 1) {
      EXPECT_NE(res.out.find(r.drives ? "port y" : "pin x1.P"), std::string::npos) << res.out;
    }
    fs::remove_all(d);
  }
}

TEST(EquivBoxPins, KeptCases) {
  for (const auto& c : fs::directory_iterator(std::string(VORQ_SOURCE_DIR) + "/tests/equiv/cases")) {
    std::string d = vorq_test::make_temp_dir(), line, point;
    fs::copy(c.path(), d, fs::copy_options::recursive);
    std::vector<std::string> vorq_args, args;
    std::istringstream cmd(vorq_test::read_file(d + "/cmd")), check(vorq_test::read_file(d + "/check"));
    for (std::string w; cmd >> w;) vorq_args.push_back(w);
    if (!vorq_args.empty()) {
      fs::create_directory(d + "/out");
      ASSERT_EQ(vorq_test::run_vorq(vorq_args, d).status, 0) << c.path();
    }
    std::getline(check, line);
    for (std::istringstream words(line); words >> line;) args.push_back(line);
    int status = -1;
    check >> status >> std::ws;
    std::getline(check, point);
    vorq_test::RunResult res = vorq_test::run_program(VORQ_EQUIV_BINARY, args, d);
    EXPECT_EQ(res.status, status) << c.path() << "\n" << res.out << res.err;
    EXPECT_NE(res.out.find(point), std::string::npos) << c.path() << "\n" << res.out;
    fs::remove_all(d);
  }
}

}  // namespace
