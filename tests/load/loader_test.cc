#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <random>

#include "design_util.h"
#include "netlist/load/load.h"
#include "test_util.h"

using namespace vorq;
using testing::ExitedWithCode;
using vorq_test::Design;
using vorq_test::Files;
using vorq_test::load_design;
using vorq_test::load_written;
using vorq_test::module_at;
using vorq_test::write_design;
using V = std::vector<std::string>;

namespace {

std::string exact(const std::string& text) {
  std::string re = "^";
  for (char c : text) {
    if (std::string("\\.[](){}*+?^$|").find(c) != std::string::npos) re += '\\';
    re += c;
  }
  return re + "$";
}

// Runs `fn` in a child process; its exit status (-1 for a signal) and
// standard error.
struct Outcome {
  int status;
  std::string err;
};

template <class F>
Outcome in_child(F fn) {
  std::string path = vorq_test::make_temp_dir() + "/stderr";
  std::fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    if (!std::freopen(path.c_str(), "w", stderr)) _exit(3);
    fn();
    std::exit(0);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, vorq_test::read_file(path)};
}

// Loads with standard error captured.
std::string load_capturing(Design& d, const std::string& top) {
  testing::internal::CaptureStderr();
  load_written(d, top);
  return testing::internal::GetCapturedStderr();
}

V module_list() {
  V v;
  for (Module* m : modules()) v.push_back(std::string(m->name) + ":" + m->inst_name);
  return v;
}

template <class T>
V names(T* first) {
  V v;
  for (T* p = first; p; p = p->next) v.push_back(p->name);
  return v;
}

// The Nodes of one cell's ring, from its first Node, as "net#.pin".
V ring_names(Module* m, Node* start) {
  V v;
  for (Node* d : ring_from(start)) {
    int k = 0;
    for (Net* n = m->nets; n && n != d->net; n = n->next) ++k;
    v.push_back(std::to_string(k) + "." + d->pin_name);
  }
  return v;
}

const Files kAdder = {
    {"top.nld",
     "(def-module top (def-pin a type input) (def-pin y type output)\n"
     " (def-comp half h1 h2) (def-comp inv- i0)\n"
     " (def-net a h1.a) (def-net h1.y h2.a) (def-net h2.y i0.in) (def-net i0.nout y))\n"},
    {"half.nld",
     "(def-module half (def-pin a type input) (def-pin y type output)\n"
     " (def-comp inv- n1 n2) (def-comp cell c)\n"
     " (def-net a n1.in) (def-net n1.nout c.a) (def-net c.y n2.in) (def-net n2.nout y))\n"},
    {"cell.pcd", "(def-module cell (def-pin a type input) (def-pin y type output))\n"},
};

}  // namespace

// ---- expansion ------------------------------------------------------------

TEST(Loader, SingleModule) {
  Design d = write_design({{"top.nld", "(def-module top (def-comp inv- g))\n"}});
  EXPECT_EQ(load_capturing(d, "top"), "\tRead " + d.dir + "/top.nld\n");
  ASSERT_NE(top, nullptr);
  EXPECT_EQ(top->next, nullptr);
  EXPECT_EQ(top->kind, KIND_WRITABLE);
  EXPECT_EQ(top->inst_name, top->name);
  EXPECT_EQ(top->parent, nullptr);
  EXPECT_EQ(top->inst, nullptr);
  EXPECT_EQ(first_inv_num, 1);
}

TEST(Loader, BreadthFirstCopiesAndReadLines) {
  Design d = write_design(kAdder);
  std::string err = load_capturing(d, "top");
  // each class is read once, in breadth-first order
  EXPECT_EQ(err, "\tRead " + d.dir + "/top.nld\n\tRead " + d.dir + "/half.nld\n\tRead " + d.dir +
                     "/cell.pcd\n");
  // the parsed list of top holds h2 before h1
  EXPECT_EQ(module_list(), (V{"top:top", "half:h2", "half:h1", "cell:c", "cell:c"}));
  EXPECT_EQ(first_inv_num, 1 + 2 * 2);

  Module* h1 = module_at("h1");
  Module* h2 = module_at("h2");
  ASSERT_TRUE(h1 && h2);
  EXPECT_EQ(h1->parent, top);
  EXPECT_EQ(h1->inst, instance_f("h1", top));
  EXPECT_EQ(instance_f("h1", top)->module, h1);
  EXPECT_EQ(module_at("h1/c")->parent, h1);
  EXPECT_EQ(module_at("h2/c")->inst, instance_f("c", h2));
  EXPECT_EQ(module_at("h1/c")->kind, KIND_PCD);
  EXPECT_EQ(h1->kind, KIND_WRITABLE);
  // h2 was read, h1 copied from it, in the same order
  EXPECT_EQ(names(h1->pins), names(h2->pins));
  EXPECT_EQ(names(h1->insts), names(h2->insts));
  EXPECT_NE(h1->pins, h2->pins);
  EXPECT_NE(h1->name, h2->name);
}

TEST(Loader, CopiesAreDeepAndInOrder) {
  Design d = write_design(kAdder);
  load_capturing(d, "top");
  Module* o = module_at("h2");
  Module* c = module_at("h1");
  Net* on = o->nets;
  for (Net* cn : nets_of(c)) {
    ASSERT_NE(on, nullptr);
    Node* od = on->nodes;
    for (Node* cd : nodes_of(cn)) {
      ASSERT_NE(od, nullptr);
      EXPECT_EQ(cd->net, cn);
      EXPECT_EQ(cd->dir, od->dir);
      EXPECT_STREQ(cd->pin_name, od->pin_name);
      EXPECT_EQ(cd->target->owner, c);
      EXPECT_STREQ(cd->target->name, od->target->name);
      if (cd->target->cls == C_PIN) {
        EXPECT_EQ(cd->pin_name, cd->target->name);
      } else {
        EXPECT_NE(cd->pin_name, od->pin_name);
      }
      od = od->next;
    }
    EXPECT_EQ(od, nullptr);
    on = on->next;
  }
  EXPECT_EQ(on, nullptr);
  for (Instance* i : insts_of(c)) EXPECT_EQ(i->node->target, i);
  for (Pin* p : pins_of(c)) EXPECT_EQ(p->node->target, p);
  Instance* cc = instance_f("c", c);
  EXPECT_STREQ(cc->class_name, "cell");
  EXPECT_NE(cc->class_name, instance_f("c", o)->class_name);
}

TEST(Loader, CopyMapsEveryRecordToItsOwnCopy) {
  // two instances and two ports of one name each: every Node of a copy must
  // reach the copy of its own target
  Files f = {
      {"top.nld", "(def-module top (def-comp dup u1 u2))\n"},
      {"dup.nld",
       "(def-module dup (def-pin p type input) (def-comp inv- g)\n"
       " (def-net p g.in)\n"
       " (def-pin p type output) (def-comp ninv- g)\n"
       " (def-net g.out p))\n"},
  };
  load_design("top", f);
  Module* o = module_at("u2");
  Module* c = module_at("u1");
  auto index_of = [](Cell* first, Cell* x) {
    int k = 0;
    for (Cell* p = first; p; p = p->next, ++k)
      if (p == x) return k;
    return -1;
  };
  for (Net *on = o->nets, *cn = c->nets; on; on = on->next, cn = cn->next)
    for (Node *od = on->nodes, *cd = cn->nodes; od; od = od->next, cd = cd->next) {
      Cell* list_o = od->target->cls == C_PIN ? o->pins : o->insts;
      Cell* list_c = cd->target->cls == C_PIN ? c->pins : c->insts;
      EXPECT_EQ(index_of(list_c, cd->target), index_of(list_o, od->target)) << od->pin_name;
      EXPECT_EQ(cd->target->cls, od->target->cls);
      EXPECT_EQ(cd->target->dir, od->target->dir);
    }
  EXPECT_EQ(first_inv_num, 2);
}

TEST(Loader, ModulesAreKnownByTheirDefModuleName) {
  // x.nld defines y: read again for every instance of class x, copied for y
  Files f = {
      {"top.nld", "(def-module top (def-comp x a) (def-comp x b) (def-comp w c))\n"},
      {"x.nld", "(def-module y (def-comp inv- g))\n"},
      {"w.nld", "(def-module w (def-comp y d))\n"},
  };
  Design d = write_design(f);
  std::string err = load_capturing(d, "top");
  EXPECT_EQ(err, "\tRead " + d.dir + "/top.nld\n\tRead " + d.dir + "/w.nld\n\tRead " + d.dir +
                     "/x.nld\n\tRead " + d.dir + "/x.nld\n");
  EXPECT_EQ(module_list(), (V{"top:top", "w:c", "y:b", "y:a", "y:d"}));
  EXPECT_EQ(first_inv_num, 3);
  EXPECT_EQ(original(instance_f("d", module_at("c"))), module_at("b"));
  EXPECT_EQ(original(instance_f("a", top)), nullptr);
}

// ---- where files are found --------------------------------------------------

TEST(Loader, SearchOrder) {
  // PCD anywhere before NLD anywhere; writable before read-only
  Files rw = {
      {"top.nld", "(def-module top (def-comp a ia) (def-comp b ib) (def-comp c ic))\n"},
      {"a.nld", "(def-module a (def-comp inv- g))\n"},
      {"c.nld", "(def-module c (def-comp inv- g))\n"},
  };
  Files ro = {
      {"a.pcd", "(def-module a (def-pin x type input))\n"},
      {"b.nld", "(def-module b (def-comp inv- g))\n"},
      {"c.nld", "(def-module c)\n"},
      {"top.nld", "(def-module wrong)\n"},
  };
  Design d = write_design(rw, ro);
  std::string err = load_capturing(d, "top");
  EXPECT_EQ(err, "\tRead " + d.dir + "/top.nld\n\tRead " + d.dir + "/c.nld\n\tRead " + d.ro_dir +
                     "/b.nld\n\tRead " + d.ro_dir + "/a.pcd\n");
  EXPECT_EQ(module_at("ia")->kind, KIND_PCD);
  EXPECT_EQ(module_at("ib")->kind, KIND_READONLY);
  EXPECT_EQ(module_at("ic")->kind, KIND_WRITABLE);
  EXPECT_EQ(first_inv_num, 2);
}

TEST(Loader, ReadOnlyKindSurvivesCopies) {
  Design d = write_design({{"top.nld", "(def-module top (def-comp lib u1 u2))\n"}},
                          {{"lib.nld", "(def-module lib (def-comp inv- g))\n"}});
  load_capturing(d, "top");
  EXPECT_EQ(module_at("u1")->kind, KIND_READONLY);
  EXPECT_EQ(module_at("u2")->kind, KIND_READONLY);
}

TEST(Loader, DirectoriesThatCannotBeReadArePassedOver) {
  Design d = write_design({{"top.nld", "(def-module top (def-comp c u))\n"},
                           {"c.nld", "(def-module c)\n"}});
  // a missing directory first, and a directory where c.pcd would be
  mkdir((d.dir + "/c.pcd").c_str(), 0755);
  reset_globals();
  strlist_append(&opt_dir, "/nonexistent/vorq");
  strlist_append(&opt_dir, d.dir.c_str());
  testing::internal::CaptureStderr();
  read_module("top");
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "\tRead " + d.dir + "/top.nld\n\tRead " + d.dir + "/c.nld\n");
  EXPECT_EQ(module_at("u")->kind, KIND_WRITABLE);
}

TEST(LoaderDeath, FilesNotFound) {
  // the top module is looked for as NLD in the writable directories only
  Design d = write_design({{"top.pcd", "(def-module top)\n"}},
                          {{"top.nld", "(def-module top)\n"}});
  EXPECT_EXIT(load_written(d, "top"), ExitedWithCode(1), exact("Could not find \"top.nld\"\n"));
  Design e = write_design({{"top.nld", "(def-module top (def-comp gone u))\n"}});
  EXPECT_EXIT(load_written(e, "top"), ExitedWithCode(1),
              exact("\tRead " + e.dir + "/top.nld\nCould not find \"gone.pcd/nld\"\n"));
}

TEST(LoaderDeath, ParseErrorsNameThePath) {
  Design d = write_design({{"top.nld", "(def-module top (def-comp c u))\n"},
                           {"c.nld", "(def-module c\n(def-net x.y))\n"}});
  EXPECT_EXIT(load_written(d, "top"), ExitedWithCode(1),
              exact("\tRead " + d.dir + "/top.nld\n\"" + d.dir + "/c.nld\", line 2: x undefined\n"));
}

// ---- recursion ------------------------------------------------------------

TEST(LoaderDeath, Recursion) {
  Design d = write_design({{"top.nld", "(def-module top (def-comp a u))\n"},
                           {"a.nld", "(def-module a (def-comp b v))\n"},
                           {"b.nld", "(def-module b (def-comp a w))\n"}});
  EXPECT_EXIT(load_written(d, "top"), ExitedWithCode(1),
              exact("\tRead " + d.dir + "/top.nld\n\tRead " + d.dir + "/a.nld\n\tRead " + d.dir +
                    "/b.nld\n"));
  Design s = write_design({{"top.nld", "(def-module top (def-comp top u))\n"}});
  EXPECT_EXIT(load_written(s, "top"), ExitedWithCode(1), exact("\tRead " + s.dir + "/top.nld\n"));
}

TEST(LoaderDeath, EndlessExpansionIsARecursion) {
  // x.nld defines y and instantiates x: reading x.nld again would never end
  Design d = write_design({{"top.nld", "(def-module top (def-comp x u))\n"},
                           {"x.nld", "(def-module y (def-comp x u v))\n"}});
  EXPECT_EXIT(load_written(d, "top"), ExitedWithCode(1),
              exact("\tRead " + d.dir + "/top.nld\n\tRead " + d.dir + "/x.nld\n"));
}

TEST(Loader, DeepButFiniteHierarchy) {
  // 9,999 levels below the top are allowed
  Files f = {{"top.nld", "(def-module top (def-comp m1 u))\n"}};
  for (int k = 1; k < 10000; ++k)
    f["m" + std::to_string(k) + ".nld"] =
        "(def-module m" + std::to_string(k) + (k + 1 < 10000 ? " (def-comp m" + std::to_string(k + 1) + " u)" : "") + ")\n";
  Design d = write_design(f);
  load_capturing(d, "top");
  int n = 0;
  for (Module* m : modules()) {
    (void)m;
    ++n;
  }
  EXPECT_EQ(n, 10000);
}

// ---- rings and connection counts -------------------------------------------

TEST(Loader, RingsRunFromTheFirstNodeThroughTheOthersInReverse) {
  Design d = load_design(
      "top", {{"top.nld",
               "(def-module top (def-pin a type input) (def-comp and--3 g) (def-comp inv- i)\n"
               " (def-net a g.in1) (def-net g.in2 i.nout) (def-net g.in3 a) (def-net g.out i.in))\n"}});
  // nets in list order: 0 (g.out i.in), 1 (g.in3 a), 2 (i.nout g.in2), 3 (g.in1 a)
  Instance* g = instance_f("g", top);
  Node* first = top->nets->nodes->next;  // g.out, the first Node of g in traversal order
  EXPECT_EQ(ring_names(top, first), (V{"0.out", "3.in1", "2.in2", "1.in3"}));
  EXPECT_EQ(g->node, first);
  // ports get no ring
  for (Node* n : nodes_of(top->nets->next)) {
    if (n->target->cls == C_PIN) {
      EXPECT_EQ(n->ring, n);
    }
  }
}

TEST(Loader, RingsMatchTheNodeByNodeDefinition) {
  // random modules: find_link must build exactly what find_link2 builds Node
  // by Node
  std::mt19937 rng(11);
  for (int round = 0; round < 20; ++round) {
    std::string text = "(def-module top (def-pin p type input) (def-comp and--60 g0 g1 g2 g3 g4)\n";
    int nets = 1 + static_cast<int>(rng() % 30);
    for (int k = 0; k < nets; ++k) {
      text += " (def-net";
      int terms = static_cast<int>(rng() % 6);
      for (int t = 0; t < terms; ++t)
        text += rng() % 5 == 0 ? std::string(" p") : " g" + std::to_string(rng() % 5) + ".in" + std::to_string(t);
      text += ")\n";
    }
    text += ")\n";
    load_design("top", {{"top.nld", text}});
    std::vector<Node*> rings;
    for (Net* n : nets_of(top))
      for (Node* d : nodes_of(n)) rings.push_back(d->ring);
    for (Net* n : nets_of(top))
      for (Node* d : nodes_of(n)) d->ring = d;
    for (Net* n : nets_of(top))
      for (Node* d : nodes_of(n)) find_link2(d);
    size_t k = 0;
    for (Net* n : nets_of(top))
      for (Node* d : nodes_of(n)) EXPECT_EQ(d->ring, rings[k++]) << text;
  }
}

TEST(Loader, ConnectionLimits) {
  // and--2: three connections pass; aoi--21: four; a register has no limit
  load_design("top", {{"top.nld",
                       "(def-module top (def-comp and--2 g) (def-comp aoi--21 a) (def-comp reg-1 r)\n"
                       " (def-net g.in1) (def-net g.in2) (def-net g.out)\n"
                       " (def-net a.a1 a.a2 a.b1 a.nout)\n"
                       " (def-net r.out r.out r.out r.out r.out))\n"}});
  EXPECT_EQ(top->next, nullptr);
}

TEST(LoaderDeath, TooManyConnections) {
  Design d = write_design({{"top.nld",
                            "(def-module top (def-comp and--2 g)\n"
                            " (def-net g.in1) (def-net g.in2) (def-net g.out g.in1))\n"}});
  EXPECT_EXIT(load_written(d, "top"), ExitedWithCode(1),
              exact("\tRead " + d.dir + "/top.nld\n\"" + d.dir +
                    "/top.nld\", g appears 4 times in def-net\n"));
  // one pin in two nets counts twice
  Design e = write_design({{"top.nld",
                            "(def-module top (def-comp inv- i)\n"
                            " (def-net i.in) (def-net i.in) (def-net i.nout))\n"}});
  EXPECT_EXIT(load_written(e, "top"), ExitedWithCode(1),
              exact("\tRead " + e.dir + "/top.nld\n\"" + e.dir +
                    "/top.nld\", i appears 3 times in def-net\n"));
  // aoi--221 allows 6; the message names the file just read
  Design f = write_design({{"top.nld", "(def-module top (def-comp c u))\n"},
                           {"c.nld",
                            "(def-module c (def-comp aoi--221 x)\n"
                            " (def-net x.a1 x.a2 x.b1 x.b2 x.c1 x.nout x.a1))\n"}});
  EXPECT_EXIT(load_written(f, "top"), ExitedWithCode(1),
              exact("\tRead " + f.dir + "/top.nld\n\tRead " + f.dir + "/c.nld\n\"" + f.dir +
                    "/c.nld\", x appears 7 times in def-net\n"));
}

TEST(LoaderDeath, TheFirstOffenderInTraversalOrderIsNamed) {
  // a's first Node comes first in traversal order (its last net in the file)
  Design d = write_design({{"top.nld",
                            "(def-module top (def-comp inv- a b)\n"
                            " (def-net b.in a.in) (def-net b.in) (def-net b.in) (def-net a.in a.nout))\n"}});
  EXPECT_EXIT(load_written(d, "top"), ExitedWithCode(1),
              exact("\tRead " + d.dir + "/top.nld\n\"" + d.dir +
                    "/top.nld\", a appears 3 times in def-net\n"));
}
