// Names of rewritten module copies, renumbered cells and new ports.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "design_util.h"
#include "hierarchy/groups.h"
#include "hierarchy/hierarchy.h"

using namespace vorq;
using vorq_test::load_design;
using vorq_test::module_at;

namespace {

Instance* inst_named(Module* m, const char* name) {
  for (ClassGroup* g : list_of(m->groups)) {
    std::vector<ClassGroup*> stack{g};
    while (!stack.empty()) {
      ClassGroup* at = stack.back();
      stack.pop_back();
      for (Instance* i = at->first; i; i = i->next)
        if (i->name && std::string(i->name) == name) return i;
      if (at->left) stack.push_back(at->left);
      if (at->right) stack.push_back(at->right);
    }
  }
  return nullptr;
}

// Marks every instance of the module used and groups them.
void group_all(Module* m) {
  for (Instance* i : insts_of(m)) i->used = true;
  make_comp(m);
}

}  // namespace

TEST(MakeName, Forms) {
  EXPECT_STREQ(make_name("adder", 3, 10), "adder-3");
  EXPECT_STREQ(make_name("nand-", 10, 11), "nand-10");
  EXPECT_STREQ(make_name("in", 12, C_PIN), "in12");
  EXPECT_STREQ(make_name("x", 0, 11), "x0");
}

TEST(ClassName, CopiesNumberedPastReadOnlyNamesAndUnusedCopiesKeepTheirs) {
  load_design("top",
              {{"top.nld",
                "(def-module top\n"
                " (def-pin a type input)\n"
                " (def-comp adder u1 u2 u3)\n"
                " (def-comp adder-1 ro)\n"
                " (def-net a u1.x u2.x u3.x ro.x))\n"},
               {"adder.nld",
                "(def-module adder (def-pin x type input) (def-comp reg-1 adder-3)"
                " (def-net x adder-3.in))\n"}},
              {{"adder-1.pcd", "(def-module adder-1 (def-pin x type input))\n"}});
  // insts are in reverse file order: the list is top, ro, u3, u2, u1
  Module* u1 = module_at("u1");
  Module* u2 = module_at("u2");
  Module* u3 = module_at("u3");
  u1->inst->used = true;
  u2->inst->used = false;
  u3->inst->used = true;
  class_name();
  EXPECT_STREQ(u3->name, "adder-2");  // adder-1 is the cell's
  EXPECT_STREQ(u2->name, "adder");    // not written: keeps its name
  // adder-3 is the name of the copy's own register
  EXPECT_STREQ(u1->name, "adder-4");
  EXPECT_STREQ(module_at("ro")->name, "adder-1");
  EXPECT_STREQ(top->name, "top");
}

TEST(ClassName, InstanceNamesOfOtherCopiesAreTaken) {
  // an instance named p-1 elsewhere in the design takes that class name
  load_design("top",
              {{"top.nld",
                "(def-module top\n"
                " (def-pin a type input)\n"
                " (def-comp mid p-1)\n"
                " (def-comp p q)\n"
                " (def-net a p-1.x q.x))\n"},
               {"mid.nld", "(def-module mid (def-pin x type input) (def-comp p r) (def-net x r.x))\n"},
               {"p.nld", "(def-module p (def-pin x type input) (def-comp reg-1 s) (def-net x s.in))\n"}});
  for (Module* m : modules())
    if (m->inst) m->inst->used = true;
  class_name();
  EXPECT_STREQ(module_at("q")->name, "p-2");
  EXPECT_STREQ(module_at("p-1/r")->name, "p-3");
  EXPECT_STREQ(module_at("p-1")->name, "mid-1");
}

TEST(InstName, ClassesNumberedByWidthSkippingPortsAndKeptNames) {
  load_design("top",
              {{"top.nld",
                "(def-module top\n"
                " (def-pin and-2 type input)\n"
                " (def-pin y type output)\n"
                " (def-comp and--2 A)\n"
                " (def-comp and--3 B)\n"
                " (def-comp and--2 C)\n"
                " (def-comp reg-1 inv-1)\n"
                " (def-comp inv- g7 g8)\n"
                " (def-net and-2 A.i1 B.i1 C.i1 inv-1.in g7.in)\n"
                " (def-net A.out y g8.in))\n"}});
  Module* m = top;
  // the loader lists instances in reverse file order; grouping wants insts order
  // A, B, C: reverse the list back
  Instance* rev = nullptr;
  for (Instance* i = m->insts; i;) {
    Instance* nxt = i->next;
    i->next = rev;
    rev = i;
    i = nxt;
  }
  m->insts = rev;
  group_all(m);
  inst_name(m);
  Instance* a = inst_named(m, "and-1");
  Instance* c = inst_named(m, "and-3");
  Instance* b = inst_named(m, "and-4");
  ASSERT_TRUE(a && b && c);
  // and-2 is a port of the top module
  EXPECT_EQ(a->width, 2);
  EXPECT_EQ(c->width, 2);
  EXPECT_EQ(b->width, 3);
  // a register called inv-1 keeps its name; the inverters skip it
  EXPECT_NE(inst_named(m, "inv-1"), nullptr);
  EXPECT_EQ(inst_named(m, "inv-1")->cls, C_REG);
  EXPECT_NE(inst_named(m, "inv-2"), nullptr);
  EXPECT_NE(inst_named(m, "inv-3"), nullptr);
}

TEST(PinName, NewPortsSkipUsedPortsAndWrittenInstances) {
  load_design("top",
              {{"top.nld",
                "(def-module top (def-pin a type input) (def-comp sub u) (def-net a u.in1))\n"},
               {"sub.nld",
                "(def-module sub\n"
                " (def-pin in1 type input)\n"
                " (def-pin in2 type input)\n"
                " (def-comp reg-1 out1)\n"
                " (def-net in1 out1.in))\n"}});
  Module* m = module_at("u");
  for (Pin* p : pins_of(m)) p->used = std::string(p->name) == "in1";
  // three new ports: an input, an output and a tristate one
  int dirs[] = {K_INPUT, K_OUTPUT, K_TRISTATE};
  std::vector<Pin*> made;
  for (int d : dirs) {
    Pin* p = make<Pin>();
    p->cls = C_PIN;
    p->dir = d;
    p->owner = m;
    p->used = true;
    Node* n = make<Node>();
    n->target = p;
    p->node = n;
    p->next = m->pins;
    m->pins = p;
    made.push_back(p);
  }
  group_all(m);
  pin_name(m);
  // in1 is a used port; in2 is not used and may be taken again
  EXPECT_STREQ(made[0]->name, "in2");
  EXPECT_EQ(made[0]->node->pin_name, made[0]->name);
  // the pins are named in `pins` order: the tristate port first, out1 is a register
  EXPECT_STREQ(made[2]->name, "out2");
  EXPECT_STREQ(made[1]->name, "out3");
}
