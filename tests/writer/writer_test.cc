#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "design_util.h"
#include "hierarchy/groups.h"
#include "test_util.h"
#include "writer/writer.h"

using namespace vorq;
using vorq_test::Files;
using vorq_test::module_at;

namespace {

// ---- helpers --------------------------------------------------------------

// Sets `used` the way hierarchy reconstruction does: on the target of every
// Node of every net, for every module of the design.
void mark_used() {
  for (Module* m : modules()) {
    for (Pin* p : pins_of(m)) p->used = false;
    for (Instance* i : insts_of(m)) i->used = false;
  }
  for (Module* m : modules())
    for (Net* n : nets_of(m))
      for (Node* nd : nodes_of(n)) nd->target->used = true;
}

std::string print_module(Module* m) {
  char* p = nullptr;
  size_t n = 0;
  FILE* f = open_memstream(&p, &n);
  print_nld2(f, m);
  std::fclose(f);
  std::string s(p, n);
  std::free(p);
  return s;
}

std::string print_groups(Module* m) {
  char* p = nullptr;
  size_t n = 0;
  FILE* f = open_memstream(&p, &n);
  for (ClassGroup* g : list_of(m->groups)) comp_print(f, g);
  std::fclose(f);
  std::string s(p, n);
  std::free(p);
  return s;
}

Instance* cell(Module* m, int cls, int width, const char* name) {
  Instance* i = make<Cell>();
  i->cls = cls;
  i->width = static_cast<uint8_t>(width);
  i->name = arena_strdup(name);
  i->owner = m;
  i->used = true;
  // appended, so that `insts` holds the cells in call order
  Instance** at = &m->insts;
  while (*at) at = &(*at)->next;
  *at = i;
  return i;
}

const Files kMixed = {
    {"top.nld",
     "(def-module\ttop\n"
     "\t(def-pin\ta\ttype input)\n"
     "\t(def-pin\tb\ttype input\tnote\tinput-connected)\n"
     "\t(def-pin\tclk\ttype input)\n"
     "\t(def-pin\ty\ttype output)\n"
     "\n"
     "\t(def-comp\tand--2\tA)\n"
     "\t(def-comp\tand--3\tB)\n"
     "\t(def-comp\tand--2\tC)\n"
     "\t(def-comp\tinv-\ti1\ti2)\n"
     "\t(def-comp\tblk\tk1\tk2)\n"
     "\t(def-comp\thalf\th1\th2)\n"
     "\t(def-comp\teor--2\tx1)\n"
     "\t(def-comp\treg-1\tr1)\n"
     "\n"
     "\t(def-net\ta\tA.in1\tB.in1\tC.in1\ti1.in\tk1.in\th1.a\tx1.in1)\n"
     "\t(def-net\tb\tA.in2\tB.in2\tC.in2\ti2.in\th2.a\tx1.in2)\n"
     "\t(def-net\tclk\tr1.m_clock)\n"
     "\t(def-net\ti1.nout\tB.in3\tr1.in)\n"
     "\t(def-net\tr1.out\ty)\n"
     ")\n"},
    {"half.nld",
     "(def-module\thalf\n"
     "\t(def-pin\ta\ttype input)\n"
     "\t(def-pin\tn\ttype output)\n"
     "\t(def-pin\tspare\ttype input)\n"
     "\t(def-comp\tnand--2\tg)\n"
     "\t(def-net\ta\tg.in1\tg.in2)\n"
     "\t(def-net\tg.nout\tn)\n"
     ")\n"},
    {"blk.pcd", "(def-module blk (def-pin in type input) (def-pin out type output))\n"},
};

}  // namespace

// ---- writing one module ---------------------------------------------------

TEST(PrintNld2, TopModuleInTheWrittenLayout) {
  vorq_test::load_design("top", kMixed);
  mark_used();
  module_at("h1")->name = arena_strdup("half-2");
  module_at("h2")->name = arena_strdup("half-1");
  make_comp(top);
  // Lists of a parsed module are in reverse file order; groups stand in the
  // reverse order of the first appearance of their class in `insts`; the
  // unconnected k2 is dropped; each rewritten copy is a group of its own and
  // written under its new name.
  EXPECT_EQ(print_module(top),
            "(def-module\ttop\n"
            "\t(def-pin\ty\ttype output)\n"
            "\t(def-pin\tclk\ttype input)\n"
            "\t(def-pin\tb\ttype input\tnote\tinput-connected)\n"
            "\t(def-pin\ta\ttype input)\n"
            "\n"
            "\t(def-comp\tand--2\tC)\n"
            "\t(def-comp\tand--2\tA)\n"
            "\t(def-comp\tand--3\tB)\n"
            "\t(def-comp\tinv-\ti1)\n"
            "\t(def-comp\tinv-\ti2)\n"
            "\t(def-comp\tblk\tk1)\n"
            "\t(def-comp\thalf-2\th1)\n"
            "\t(def-comp\thalf-1\th2)\n"
            "\t(def-comp\teor--2\tx1)\n"
            "\t(def-comp\treg-1\tr1)\n"
            "\n"
            "\t(def-net\ty\tr1.out)\n"
            "\t(def-net\tr1.in\tB.in3\ti1.nout)\n"
            "\t(def-net\tr1.m_clock\tclk)\n"
            "\t(def-net\tx1.in2\th2.a\ti2.in\tC.in2\tB.in2\tA.in2\tb)\n"
            "\t(def-net\tx1.in1\th1.a\tk1.in\ti1.in\tC.in1\tB.in1\tA.in1\ta)\n"
            ")\n");
}

TEST(PrintNld2, SubModuleKeepsOnlyUsedPortsAndModuleWithoutNets) {
  vorq_test::load_design("top", kMixed);
  mark_used();
  Module* h = module_at("h1");
  make_comp(h);
  EXPECT_EQ(print_module(h),
            "(def-module\thalf\n"
            "\t(def-pin\tn\ttype output)\n"
            "\t(def-pin\ta\ttype input)\n"
            "\n"
            "\t(def-comp\tnand--2\tg)\n"
            "\n"
            "\t(def-net\tn\tg.nout)\n"
            "\t(def-net\tg.in2\tg.in1\ta)\n"
            ")\n");

  // Without nets and instances: pins, two empty lines, the closing line.
  h->nets = nullptr;
  for (Instance* i : insts_of(h)) i->used = false;
  make_comp(h);
  EXPECT_EQ(h->groups, nullptr);
  EXPECT_EQ(print_module(h),
            "(def-module\thalf\n"
            "\t(def-pin\tn\ttype output)\n"
            "\t(def-pin\ta\ttype input)\n"
            "\n"
            "\n"
            ")\n");
}

TEST(PrintNld2, WrittenModuleParsesAgain) {
  vorq_test::load_design("top", kMixed);
  mark_used();
  make_comp(top);
  std::string once = print_module(top);
  Files again = kMixed;
  again["top.nld"] = once;
  vorq_test::load_design("top", again);
  mark_used();
  make_comp(top);
  EXPECT_EQ(print_module(top).size(), once.size());
}

// ---- grouping and width trees ---------------------------------------------

TEST(Groups, WidthTreeOrderAndNaming) {
  Module* m = make<Module>();
  Instance* a = cell(m, C_AND, 2, "A");
  Instance* b = cell(m, C_AND, 3, "B");
  Instance* c = cell(m, C_AND, 2, "C");
  make_comp(m);
  ASSERT_NE(m->groups, nullptr);
  ClassGroup* g = m->groups;
  EXPECT_EQ(g->next, nullptr);
  EXPECT_EQ(g->first, a);
  EXPECT_EQ(a->next, c);
  EXPECT_EQ(c->next, nullptr);
  ASSERT_NE(g->right, nullptr);
  EXPECT_EQ(g->right->first, b);
  EXPECT_EQ(g->left, nullptr);
  EXPECT_EQ(print_groups(m),
            "\t(def-comp\tand--2\tA)\n\t(def-comp\tand--2\tC)\n\t(def-comp\tand--3\tB)\n");
}

TEST(Groups, OrdersOfGroupsAndChains) {
  Module* m = make<Module>();
  Module* pcd = make<Module>();
  pcd->kind = KIND_PCD;
  pcd->name = arena_strdup("blk");
  Module* rw1 = make<Module>();
  rw1->kind = KIND_WRITABLE;
  rw1->name = arena_strdup("sub-1");
  Module* rw2 = make<Module>();
  rw2->kind = KIND_WRITABLE;
  rw2->name = arena_strdup("sub-2");

  Instance* i1 = cell(m, C_INV, 0, "i1");
  Instance* k1 = cell(m, C_MODULE, 0, "k1");
  Instance* s1 = cell(m, C_MODULE, 0, "s1");
  Instance* i2 = cell(m, C_INV, 0, "i2");
  Instance* s2 = cell(m, C_MODULE, 0, "s2");
  Instance* k2 = cell(m, C_MODULE, 0, "k2");
  Instance* dead = cell(m, C_NAND, 2, "dead");
  Instance* i3 = cell(m, C_INV, 0, "i3");
  k1->class_name = arena_strdup("blk");
  k2->class_name = arena_strdup("blk");
  k1->module = k2->module = pcd;
  s1->class_name = arena_strdup("sub");
  s2->class_name = arena_strdup("sub");
  s1->module = rw1;
  s2->module = rw2;
  dead->used = false;

  make_comp(m);
  // Groups in the reverse order of first appearance; chains reversed.
  std::vector<std::vector<Instance*>> got;
  for (ClassGroup* g : list_of(m->groups)) {
    got.emplace_back();
    for (Instance* i = g->first; i; i = i->next) got.back().push_back(i);
    EXPECT_EQ(g->left, nullptr);
    EXPECT_EQ(g->right, nullptr);
  }
  std::vector<std::vector<Instance*>> want = {{s2}, {s1}, {k2, k1}, {i3, i2, i1}};
  EXPECT_EQ(got, want);
  EXPECT_EQ(print_groups(m),
            "\t(def-comp\tsub-2\ts2)\n\t(def-comp\tsub-1\ts1)\n"
            "\t(def-comp\tblk\tk2)\n\t(def-comp\tblk\tk1)\n"
            "\t(def-comp\tinv-\ti3)\n\t(def-comp\tinv-\ti2)\n\t(def-comp\tinv-\ti1)\n");

  // The group each grouped instance is in is the one new_or_old finds.
  for (ClassGroup* g : list_of(m->groups))
    for (Instance* i = g->first; i; i = i->next)
      EXPECT_EQ(new_or_old(i, m), i->cls == C_MODULE && i->module->kind == KIND_WRITABLE ? nullptr : g)
          << i->name;
}

TEST(Groups, DeepWidthTreesPrintInAscendingWidth) {
  for (bool ascending : {true, false}) {
    Module* m = make<Module>();
    std::string want;
    for (int k = 0; k < 254; ++k) {
      int w = ascending ? k + 2 : 255 - k;
      cell(m, C_OR, w, ("o" + std::to_string(w)).c_str());
    }
    for (int w = 2; w <= 255; ++w)
      want += "\t(def-comp\tor--" + std::to_string(w) + "\to" + std::to_string(w) + ")\n";
    make_comp(m);
    // A degenerate tree: one group per width, all down one side (the chain
    // reverses `insts`, so ascending widths are inserted descending).
    int depth = 0;
    for (ClassGroup* g = m->groups; g; g = ascending ? g->left : g->right) ++depth;
    EXPECT_EQ(depth, 254);
    EXPECT_EQ(print_groups(m), want);
  }
}

TEST(Groups, AddCompTreeOnNullMakesARoot) {
  Instance* i = make<Cell>();
  i->cls = C_NOR;
  i->width = 4;
  ClassGroup* g = add_comp_tree(i, nullptr);
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(g->first, i);
  EXPECT_EQ(g->next, nullptr);
}

// ---- writing the result and copying ----------------------------------------

namespace {

// chip: two copies of the writable alu, two instances of the read-only rom
// (which holds a read-only sub), a PCD cell used at two levels.
const Files kChip = {
    {"chip.nld",
     "(def-module chip (def-pin a type input) (def-pin y type output)\n"
     " (def-comp alu u1 u2) (def-comp rom m1 m2) (def-comp cell c1)\n"
     " (def-net a u1.a u2.a c1.in m1.a m2.a) (def-net u1.y y))\n"},
    {"alu.nld",
     "(def-module alu (def-pin a type input) (def-pin y type output)\n"
     " (def-comp cell c) (def-net a c.in) (def-net c.out y))\n"},
    {"cell.pcd", "(def-module cell (def-pin in type input) (def-pin out type output))\n"},
};
const Files kChipLib = {
    {"rom.nld", "(def-module rom (def-pin a type input) (def-comp sub s) (def-net a s.in))\n"},
    {"sub.nld", "(def-module sub (def-pin in type input))\n"},
};

std::string capture(void (*f)()) {
  ::testing::internal::CaptureStderr();
  f();
  return ::testing::internal::GetCapturedStderr();
}

std::string wrote(const std::string& dir, const std::vector<std::string>& files) {
  std::string s;
  for (const std::string& f : files) s += "\tWrote " + dir + "/" + f + "\n";
  return s;
}

}  // namespace

TEST(CopyFile, EachNldClassOnceTopFirstNoPcd) {
  vorq_test::Design d = vorq_test::load_design("chip", kChip, kChipLib);
  std::string out = write_dir->str;
  EXPECT_EQ(capture(copy_file), wrote(out, {"chip.nld", "rom.nld", "alu.nld", "sub.nld"}));
  EXPECT_EQ(vorq_test::list_dir(out),
            (std::vector<std::string>{"alu.nld", "chip.nld", "rom.nld", "sub.nld"}));
  EXPECT_EQ(vorq_test::read_file(out + "/alu.nld"), kChip.at("alu.nld"));
  EXPECT_EQ(vorq_test::read_file(out + "/rom.nld"), kChipLib.at("rom.nld"));
}

TEST(CopyFile, ModuleNamedLikeTheTopIsNeverCopied) {
  // x.nld defines a module named chip: it is loaded for class x but, named
  // like the top module, never copied (and its file is never looked for).
  Files f = {{"chip.nld", "(def-module chip (def-pin a type input) (def-comp x x1) (def-net a x1.a))\n"},
             {"x.nld", "(def-module chip (def-pin a type input))\n"}};
  vorq_test::load_design("chip", f);
  EXPECT_EQ(capture(copy_file), wrote(write_dir->str, {"chip.nld"}));
}

TEST(CopyFile, SourceIsNeverTruncated) {
  vorq_test::Design d = vorq_test::load_design("chip", kChip, kChipLib);
  // The write directory is the source directory: as the same string, under
  // another spelling, and through a link.
  std::string link = vorq_test::make_temp_dir() + "/link";
  ASSERT_EQ(symlink(d.dir.c_str(), link.c_str()), 0);
  for (std::string w : {d.dir, d.dir + "/", d.dir + "/.", link}) {
    write_dir->str = arena_strdup(w.c_str());
    std::string err = capture(copy_file);
    EXPECT_EQ(err, wrote(w, {"chip.nld", "rom.nld", "alu.nld", "sub.nld"}));
    for (const auto& [name, text] : kChip) EXPECT_EQ(vorq_test::read_file(d.dir + "/" + name), text);
  }
}

TEST(CopyFile, ReadOnlySourceIsNeverTruncated) {
  vorq_test::Design d = vorq_test::load_design("chip", kChip, kChipLib);
  write_dir->str = arena_strdup((d.ro_dir + "//").c_str());
  capture(copy_file);
  for (const auto& [name, text] : kChipLib) EXPECT_EQ(vorq_test::read_file(d.ro_dir + "/" + name), text);
  EXPECT_EQ(vorq_test::read_file(d.ro_dir + "/chip.nld"), kChip.at("chip.nld"));
}

TEST(CopyFileDeathTest, WriteDirectoryMissingOrSourceGone) {
  vorq_test::load_design("chip", kChip, kChipLib);
  std::string missing = std::string(write_dir->str) + "/no/such";
  write_dir->str = arena_strdup(missing.c_str());
  EXPECT_EXIT(copy_file(), ::testing::ExitedWithCode(1),
              ::testing::Eq("Could not open " + missing + "/chip.nld\n"));

  vorq_test::Design d = vorq_test::load_design("chip", kChip, kChipLib);
  unlink((d.dir + "/alu.nld").c_str());
  EXPECT_EXIT(copy_file(), ::testing::ExitedWithCode(1),
              ::testing::Eq("Could not read " + d.dir + "/alu.nld: No such file or directory\n"));
}

namespace {

// The state hierarchy reconstruction leaves for the chip design: everything
// used but u1 and m2, the kept alu copies renamed, groups built.
void rebuilt_chip() {
  mark_used();
  module_at("u2")->name = arena_strdup("alu-1");
  module_at("u1")->name = arena_strdup("alu-2");
  module_at("u1")->inst->used = false;
  module_at("m2")->inst->used = false;
  for (Module* m : modules())
    if (m->kind == KIND_WRITABLE) make_comp(m);
}

}  // namespace

TEST(PrintNld, HierarchicalWritesUsedCopiesAndCopiesReadOnlyModules) {
  vorq_test::load_design("chip", kChip, kChipLib);
  rebuilt_chip();
  std::string out = write_dir->str;
  // cell.pcd is never copied; rom is copied though m2 is unused, once.
  EXPECT_EQ(capture(print_nld), wrote(out, {"chip.nld", "rom.nld", "alu-1.nld", "sub.nld"}));
  EXPECT_EQ(vorq_test::list_dir(out),
            (std::vector<std::string>{"alu-1.nld", "chip.nld", "rom.nld", "sub.nld"}));
  EXPECT_EQ(vorq_test::read_file(out + "/alu-1.nld"),
            "(def-module\talu-1\n\t(def-pin\ty\ttype output)\n\t(def-pin\ta\ttype input)\n\n"
            "\t(def-comp\tcell\tc)\n\n\t(def-net\ty\tc.out)\n\t(def-net\tc.in\ta)\n)\n");
  EXPECT_EQ(vorq_test::read_file(out + "/sub.nld"), kChipLib.at("sub.nld"));
}

TEST(PrintNld, FlatWritesTheTopAndCopiesCellsOfUsedInstances) {
  vorq_test::load_design("chip", kChip, kChipLib);
  rebuilt_chip();
  h_or_f = 3;
  std::string out = write_dir->str;
  EXPECT_EQ(capture(print_nld), wrote(out, {"chip.nld", "cell.pcd", "rom.nld", "sub.nld"}));
  EXPECT_EQ(vorq_test::read_file(out + "/cell.pcd"), kChip.at("cell.pcd"));

  // Read-only modules and cells of unused instances are not copied.
  vorq_test::load_design("chip", kChip, kChipLib);
  rebuilt_chip();
  h_or_f = 3;
  module_at("m1")->inst->used = false;
  module_at("c1")->inst->used = false;
  for (Module* m : modules())
    if (m->kind == KIND_PCD && m->parent != top) m->inst->used = false;
  EXPECT_EQ(capture(print_nld), wrote(write_dir->str, {"chip.nld", "sub.nld"}));
}

TEST(PrintNldDeathTest, WriteDirectoryMissing) {
  vorq_test::load_design("chip", kChip, kChipLib);
  rebuilt_chip();
  std::string missing = std::string(write_dir->str) + "/gone";
  write_dir->str = arena_strdup(missing.c_str());
  EXPECT_EXIT(print_nld(), ::testing::ExitedWithCode(1),
              ::testing::Eq("Could not open " + missing + "/chip.nld\n"));
}
