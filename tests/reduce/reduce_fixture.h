// Loading one-module designs from text and flattening them, and lookups of the
// records the reduction tests look at.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "design_util.h"
#include "flatten/flatten.h"
#include "reduce/reduce.h"

namespace vorq_test {

class ReduceTest : public ::testing::Test {
 protected:
  void TearDown() override { vorq::end_counting(); }

  // Loads `text` as top.nld (plus any further files), flattens it and sets -a.
  void load(const std::string& text, int all_flag = 0, Files more = {}, Files ro = {}) {
    more["top.nld"] = text;
    load_design("top", more, ro);
    ASSERT_EQ(vorq::flat(), 1);
    vorq::all = all_flag;
  }

  static vorq::Instance* inst(const char* name) {
    vorq::Instance* c = vorq::instance_f(name, vorq::top);
    EXPECT_NE(c, nullptr) << name;
    return c;
  }
  static vorq::Node* pin(const char* inst_name, const char* pin_name) {
    vorq::Instance* c = inst(inst_name);
    for (vorq::Node* n : vorq::ring_of(c))
      if (std::strcmp(n->pin_name, pin_name) == 0) return n;
    ADD_FAILURE() << inst_name << "." << pin_name;
    return nullptr;
  }
  static vorq::Node* port(const char* name) { return vorq::pin_f(name, vorq::top)->node; }
  static vorq::Net* net_of(const char* inst_name, const char* pin_name) {
    return pin(inst_name, pin_name)->net;
  }
  // The component holding instance `name`.
  static vorq::Cell* comp_of(const char* name) { return inst(name)->comp; }
};

}  // namespace vorq_test
