// Loading designs from text for the flattening tests, and lookups of the
// records they look at, before and after flattening.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>

#include "design_util.h"
#include "flatten/flatten.h"

namespace vorq_test {

class FlattenTest : public ::testing::Test {
 protected:
  // Loads `top_text` as top.nld (plus further files).
  void load(const std::string& top_text, Files more = {}, Files ro = {}) {
    more["top.nld"] = top_text;
    load_design("top", more, ro);
  }
  // flat() with its standard error.
  int run_flat(std::string* err = nullptr) {
    testing::internal::CaptureStderr();
    int r = vorq::flat();
    std::string e = testing::internal::GetCapturedStderr();
    if (err) *err = e;
    else EXPECT_EQ(e, "");
    return r;
  }
  int run_unprotect(std::string* err = nullptr) {
    testing::internal::CaptureStderr();
    int r = vorq::unprotect_irreversible_nets();
    std::string e = testing::internal::GetCapturedStderr();
    if (err) *err = e;
    else EXPECT_EQ(e, "");
    return r;
  }

  static bool same(const char* a, const char* b) { return a && b && std::strcmp(a, b) == 0; }

  // The instance `name` of the module copy at `path` ("" the top module),
  // wherever flattening has put it.
  static vorq::Instance* inst(const std::string& path, const char* name) {
    vorq::Module* m = module_at(path);
    EXPECT_NE(m, nullptr) << path;
    for (vorq::Module* k : vorq::modules()) {
      for (vorq::Instance* c : vorq::insts_of(k))
        if (c->owner == m && same(c->name, name)) return c;
      for (vorq::Instance* c : vorq::list_of(k->sub_insts))
        if (c->owner == m && same(c->name, name)) return c;
    }
    ADD_FAILURE() << path << ":" << name;
    return nullptr;
  }
  // The Node of pin `pin` of that instance.
  static vorq::Node* pin(const std::string& path, const char* name, const char* pin_name) {
    vorq::Instance* c = inst(path, name);
    if (!c) return nullptr;
    for (vorq::Node* n : vorq::ring_of(c))
      if (same(n->pin_name, pin_name)) return n;
    ADD_FAILURE() << path << ":" << name << "." << pin_name;
    return nullptr;
  }
  static vorq::Pin* port_pin(const std::string& path, const char* name) {
    return vorq::pin_f(name, module_at(path));
  }
  static vorq::Node* port(const std::string& path, const char* name) {
    vorq::Pin* p = port_pin(path, name);
    EXPECT_NE(p, nullptr) << path << ":" << name;
    return p ? p->node : nullptr;
  }
  static std::pair<int, int> weights(vorq::Node* n) { return {n->wt, n->phase}; }

  // Is the net in the top module's net list?
  static bool in_flat_list(vorq::Net* net) {
    for (vorq::Net* n : vorq::nets_of(vorq::top))
      if (n == net) return true;
    return false;
  }
  static bool on_net(vorq::Node* node, vorq::Net* net) {
    for (vorq::Node* n : vorq::nodes_of(net))
      if (n == node) return true;
    return false;
  }
  static int count_nodes(vorq::Net* net) {
    int k = 0;
    for (vorq::Node* n : vorq::nodes_of(net)) k += n != nullptr;
    return k;
  }
  static int count_nets(vorq::Module* m) {
    int k = 0;
    for (vorq::Net* n : vorq::nets_of(m)) k += n != nullptr;
    return k;
  }
  // Instances of a class in the top module's list.
  static int count_class(int cls) {
    int k = 0;
    for (vorq::Instance* c : vorq::insts_of(vorq::top)) k += c->cls == cls;
    return k;
  }
};

}  // namespace vorq_test
