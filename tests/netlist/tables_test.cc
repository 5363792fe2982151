#include <gtest/gtest.h>

#include "netlist/netlist.h"

using namespace vorq;

TEST(Tables, ScreenFindsExactWordsOnly) {
  EXPECT_EQ(screen("input", TABLE_KEYWORD), 265);
  EXPECT_EQ(screen("area", TABLE_KEYWORD), 277);
  EXPECT_EQ(screen("unused-connected", TABLE_KEYWORD), 276);
  EXPECT_EQ(screen("inpu", TABLE_KEYWORD), 425);
  EXPECT_EQ(screen("Input", TABLE_KEYWORD), 425);
  EXPECT_EQ(screen("input\r", TABLE_KEYWORD), 425);
  EXPECT_EQ(screen("", TABLE_KEYWORD), 425);
  EXPECT_EQ(screen("and-", TABLE_PCD), 402);
  EXPECT_EQ(screen("reg---1", TABLE_PCD), 414);
  EXPECT_EQ(screen("ts_buf-", TABLE_PCD), 422);
  EXPECT_EQ(screen("and", TABLE_PCD), 425);
}

TEST(Tables, EveryRowIsFoundByBisectionAndBack) {
  for (int table : {TABLE_KEYWORD, TABLE_PCD}) {
    int lo = table == TABLE_KEYWORD ? 257 : 400;
    int hi = table == TABLE_KEYWORD ? 284 : 423;
    for (int code = lo; code <= hi; ++code) {
      const char* name = inv_screen(code, table);
      ASSERT_NE(name, nullptr) << code;
      EXPECT_EQ(screen(name, table), code) << name;
    }
  }
  EXPECT_STREQ(inv_screen(400, TABLE_PCD), "inv-");
  for (int code : {424, 425, 426, 427}) EXPECT_EQ(inv_screen(code, TABLE_PCD), nullptr);
}

TEST(Weights, NegationIsModuloFourAndObserved) {
  struct Count : WeightObserver {
    int w = 0, f = 0;
    void weights_changed(Node*, int, int) override { ++w; }
    void flags_changed(Instance*, bool, bool) override { ++f; }
  } count;
  set_weight_observer(&count);
  Node* n = make<Node>();
  set_weights(n, 1, 1);
  negate_node(n);
  EXPECT_EQ(n->wt, -1);
  EXPECT_EQ(n->phase, -1);
  set_weights(n, 0, -2);
  negate_node(n);
  EXPECT_EQ(n->wt, 0);
  EXPECT_EQ(n->phase, -2);
  Instance* c = make<Instance>();
  toggle_dual(c);
  toggle_negate(c);
  toggle_dual(c);
  EXPECT_FALSE(c->dual);
  EXPECT_TRUE(c->negate);
  set_weight_observer(nullptr);
  EXPECT_EQ(count.w, 3);
  EXPECT_EQ(count.f, 3);
}
