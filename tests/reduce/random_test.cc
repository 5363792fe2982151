// Random one-module designs: the one-pass builds of components and
// sub-components against the relinking joins they replace, and the running
// counts against full walks.
#include <random>
#include <vector>

#include "reduce_fixture.h"

namespace vorq_test {
namespace {

using namespace vorq;

// A random design: gates of every reversible class, buffers, inverters,
// registers, a tristate bus and constants; a gate may meet a net at two pins.
std::string random_design(unsigned seed, int cells) {
  std::mt19937 rng(seed);
  auto pick = [&](int n) { return int(rng() % unsigned(n)); };
  std::vector<std::string> sig;       // driver terminal of every signal
  std::vector<std::vector<std::string>> loads;
  std::string pins, comps, nets;
  auto add_sig = [&](const std::string& t) {
    sig.push_back(t);
    loads.emplace_back();
  };
  for (int i = 0; i < 6; ++i) {
    pins += " (def-pin a" + std::to_string(i) + " type input)";
    add_sig("a" + std::to_string(i));
  }
  const char* gates[] = {"and--2", "or--2", "nand--2", "nor--3", "eor--2", "enor--2",
                         "aoi--21", "oai--21", "ninv-", "inv-", "inv-", "inv-", "reg-1",
                         "ts_buf-", "high-"};
  int bus = -1;
  for (int c = 0; c < cells; ++c) {
    std::string cls = gates[pick(15)];
    std::string name = "c" + std::to_string(c);
    comps += " (def-comp " + cls + " " + name + ")";
    std::vector<std::string> ins, out;
    if (cls == "eor--2" || cls == "enor--2") ins = {"in1", "in2"};
    else if (cls == "aoi--21" || cls == "oai--21") ins = {"a1", "a2", "b1"};
    else if (cls == "nor--3") ins = {"x", "y", "z"};
    else if (cls == "and--2" || cls == "or--2" || cls == "nand--2") ins = {"p", "q"};
    else if (cls == "ts_buf-") ins = {"in", "nenb"};
    else if (cls != "high-") ins = {"in"};
    std::string o = (cls == "and--2" || cls == "or--2" || cls == "eor--2" || cls == "ninv-" ||
                     cls == "reg-1" || cls == "high-" || cls == "ts_buf-")
                        ? "out" : "nout";
    for (const std::string& p : ins) loads[pick(int(sig.size()))].push_back(name + "." + p);
    if (cls == "ts_buf-") {
      if (bus < 0) {
        add_sig(name + "." + o);
        bus = int(sig.size()) - 1;
      } else {
        loads[bus].push_back(name + "." + o);
      }
    } else {
      add_sig(name + "." + o);
    }
  }
  for (int i = 0; i < 8; ++i) {
    pins += " (def-pin y" + std::to_string(i) + " type output)";
    loads[sig.size() - 1 - pick(int(sig.size()) / 2)].push_back("y" + std::to_string(i));
  }
  for (size_t s = 0; s < sig.size(); ++s) {
    if (loads[s].empty()) continue;
    nets += " (def-net " + sig[s];
    for (const std::string& l : loads[s]) nets += " " + l;
    nets += ")\n";
  }
  return "(def-module top" + pins + "\n" + comps + "\n" + nets + ")";
}

using Groups = std::vector<std::vector<Cell*>>;

Groups comps_now() {
  Groups g;
  for (Cell* h = top->comps; h; h = h->comp_link) {
    g.emplace_back();
    for (Cell* m = h; m; m = m->comp_next) {
      EXPECT_EQ(m->comp, h);
      g.back().push_back(m);
    }
  }
  return g;
}

Groups subs_now() {
  Groups g;
  for (Cell* h = start_sub_comp; h; h = h->sub_comp_link) {
    g.emplace_back();
    for (Cell* m = h; m; m = m->sub_comp_next) {
      EXPECT_EQ(m->sub_comp, h);
      g.back().push_back(m);
    }
  }
  return g;
}

bool counted(const Net* n) { return n->type == K_TRISTATE || n->type == NET_SIGNAL; }

// The components as the joins of merge_conn_comp leave them.
void conn_comp_by_relinking() {
  Module* t = top;
  t->comps = nullptr;
  auto make = [&](Cell* c) {
    c->comp = c;
    c->comp_next = nullptr;
    c->comp_link = t->comps;
    t->comps = c;
  };
  for (Pin* p : pins_of(t))
    if (p->used) make(p);
  for (Instance* c : insts_of(t))
    if (c->cls != C_INV) make(c);
  for (Net* net : nets_of(t)) {
    if (!counted(net)) continue;
    Cell* s = net->source->target;
    Cell* h = s->comp;
    for (Node* n : nodes_of(net))
      if (!n->boundary && n->target->comp != h) h = merge_conn_comp(s, n->target);
  }
}

// The sub-components as the joins of merge_sub_comp leave them.
void plus_factor_by_relinking(Cell* comp, bool with_xor) {
  auto grouping = [&](int c) { return c >= C_NINV && c <= C_OAI && (with_xor || !is_xor_class(c)); };
  start_sub_comp = nullptr;
  for (Cell* m = comp; m; m = m->comp_next) {
    m->sub_comp = m;
    m->sub_comp_next = nullptr;
    m->sub_comp_link = start_sub_comp;
    start_sub_comp = m;
  }
  for (Net* net : nets_of(top)) {
    if (net->type != NET_SIGNAL) continue;
    Cell* d = net->source->target;
    if (d->comp != comp || !grouping(d->cls)) continue;
    Cell* h = d->sub_comp;
    for (Node* n : nodes_of(net))
      if (n->wt == 1 && grouping(n->target->cls) && n->target->sub_comp != h)
        h = merge_sub_comp(d, n->target);
  }
}

TEST_F(ReduceTest, RandomDesignsBuildGroupsAsRelinkingDoes) {
  for (unsigned seed = 1; seed <= 40; ++seed) {
    SCOPED_TRACE(seed);
    load(random_design(seed, 20 + int(seed) * 5), int(seed % 2));
    begin_counting();
    conn_comp();
    Groups fast = comps_now();
    conn_comp_by_relinking();
    ASSERT_EQ(fast, comps_now());

    std::mt19937 rng(seed);
    for (int round = 0; round < 3; ++round) {
      for (Instance* c : insts_of(top))
        if (is_gate_class(c->cls) && rng() % 3 == 0) rev_instance(c);
      for (Cell* h = top->comps; h; h = h->comp_link)
        for (bool with_xor : {true, false}) {
          with_xor ? plus_factor(h) : plus_factor_eor_enor(h);
          Groups got = subs_now();
          plus_factor_by_relinking(h, with_xor);
          ASSERT_EQ(got, subs_now());
          std::vector<Cell*> heads;
          for (const auto& grp : got) heads.push_back(grp[0]);
          ASSERT_EQ(heads, detail::resolved_heads(h, with_xor));
        }
    }
    // running counts against full walks
    for (Net* net : nets_of(top)) {
      int plus = 0, minus = 0;
      for (Node* n : nodes_of(net))
        if (!is_xor_class(n->target->cls)) plus += n->wt == 1, minus += n->wt == -1;
      ASSERT_EQ(net->plus_loads, plus);
      ASSERT_EQ(net->minus_loads, minus);
    }
    int inv = count_inv(top), wt = count_wt();
    end_counting();
    EXPECT_EQ(inv, count_inv(top));
    EXPECT_EQ(wt, count_wt());
  }
}

// Every weight and flag of the flat netlist after the reduction.
std::vector<int> outcome() {
  std::vector<int> v;
  for (Net* net : nets_of(top))
    for (Node* n : nodes_of(net)) v.push_back(n->wt * 4 + n->phase);
  for (Instance* c : insts_of(top)) v.push_back(c->dual * 2 + c->negate);
  return v;
}

// The reduction on random designs: sub-components resolved on demand reach
// exactly the decisions of whole rebuilds at every step, and the passes end
// (some designs loop and are stopped by the guard).
TEST_F(ReduceTest, RandomDesignsReduceAsWithWholeRebuilds) {
  for (unsigned seed = 100; seed < 160; ++seed) {
    SCOPED_TRACE(seed);
    std::string text = random_design(seed, 60 + int(seed % 5) * 60);
    std::vector<int> got[2];
    std::string err[2];
    for (int rebuild : {0, 1}) {
      load(text, int(seed % 2));
      detail::rebuild_every_step = rebuild;
      testing::internal::CaptureStderr();
      EXPECT_EQ(red_inv(), 1);
      err[rebuild] = testing::internal::GetCapturedStderr();
      detail::rebuild_every_step = false;
      got[rebuild] = outcome();
    }
    EXPECT_EQ(err[0], err[1]);
    EXPECT_TRUE(err[0].empty() ||
                err[0].find("vorq: the reduction of a component repeats itself") == 0) << err[0];
    ASSERT_EQ(got[0], got[1]);
  }
}

}  // namespace
}  // namespace vorq_test
