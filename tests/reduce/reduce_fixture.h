// Loading a one-module design from text and flattening it, for the tests of
// the reduction's own structures; the files go to a temporary folder that is
// removed after the test.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "flatten/flatten.h"
#include "netlist/load/load.h"
#include "reduce/reduce.h"
#include "test_util.h"

namespace vorq_test {

class ReduceTest : public ::testing::Test {
 protected:
  std::string dir_ = make_temp_dir();
  void TearDown() override {
    vorq::end_counting();
    std::filesystem::remove_all(dir_);
  }
  // Loads `text` as top.nld, flattens it and sets -a.
  void load(const std::string& text, int all_flag = 0) {
    write_file(dir_ + "/top.nld", text);
    vorq::reset_globals();
    vorq::strlist_append(&vorq::opt_dir, dir_.c_str());
    vorq::strlist_append(&vorq::write_dir, dir_.c_str());
    vorq::top_name = vorq::arena_strdup("top");
    vorq::read_module(vorq::top_name);
    ASSERT_EQ(vorq::flat(), 1);
    vorq::all = all_flag;
  }
};

}  // namespace vorq_test
