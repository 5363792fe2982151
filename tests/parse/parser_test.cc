#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <random>

#include "parse_helpers.h"

using namespace vorq;
using parse_test::error_at;
using parse_test::exact;
using parse_test::names;
using parse_test::nld;
using parse_test::pcd;
using testing::ExitedWithCode;
using V = std::vector<std::string>;

namespace {

const char* kHalf =
    "(def-module\thalf\n"
    "\t(def-pin\ta\ttype input)\n"
    "\t(def-pin\tb\ttype input\tnote unused note input-connected)\n"
    "\t(def-pin\ty\ttype output)\n"
    "\t(def-comp\tand--2\tg1)\n"
    "\t(def-comp\tinv-\tg2 g3 g4)\n"
    "\t(def-comp\tadder8\tu1 u2)\n"
    "\t(def-net\ta\tg1.in1)\n"
    "\t(def-net\tb\tg1.in2\tu1.x)\n"
    "\t(def-net\tg1.out\tg2.in)\n"
    "\t(def-net\tg2.nout\ty)\n"
    ")\n";

V node_names(Net* n) {
  V v;
  for (Node* d : nodes_of(n))
    v.push_back(d->target->cls == C_PIN ? std::string(d->pin_name)
                                        : std::string(d->target->name) + "." + d->pin_name);
  return v;
}

// Parses `text` in a child process (standard error discarded): true when
// the child read it or ended with status 1, false on a crash.
bool parses_or_quits(const std::string& text) {
  std::fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    if (!std::freopen("/dev/null", "w", stderr)) _exit(3);
    nld(text);
    _exit(0);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && (WEXITSTATUS(status) == 0 || WEXITSTATUS(status) == 1);
}

}  // namespace

// ---- records and list orders ----------------------------------------------

TEST(Parser, ListsHoldTheirRecordsInReverseFileOrder) {
  Module* m = nld(kHalf);
  EXPECT_STREQ(m->name, "half");
  EXPECT_EQ(names(m->pins), (V{"y", "b", "a"}));
  EXPECT_EQ(names(m->insts), (V{"u2", "u1", "g4", "g3", "g2", "g1"}));
  std::vector<V> nets;
  for (Net* n : nets_of(m)) nets.push_back(node_names(n));
  EXPECT_EQ(nets, (std::vector<V>{{"y", "g2.nout"}, {"g2.in", "g1.out"}, {"u1.x", "g1.in2", "b"},
                                  {"g1.in1", "a"}}));
}

TEST(Parser, RecordFields) {
  Module* m = nld(kHalf);
  Pin* b = pin_f("b", m);
  EXPECT_EQ(b->cls, C_PIN);
  EXPECT_EQ(b->dir, K_INPUT);
  EXPECT_EQ(b->note, K_INPUT_CONNECTED);  // a later note replaces an earlier one
  EXPECT_EQ(pin_f("a", m)->note, 0);
  EXPECT_EQ(b->owner, m);

  Instance* g1 = instance_f("g1", m);
  EXPECT_EQ(g1->cls, C_AND);
  EXPECT_EQ(g1->width, 2);
  EXPECT_EQ(g1->owner, m);
  Instance* u1 = instance_f("u1", m);
  Instance* u2 = instance_f("u2", m);
  EXPECT_EQ(u1->cls, C_MODULE);
  EXPECT_STREQ(u1->class_name, "adder8");
  EXPECT_EQ(u1->class_name, u2->class_name);  // one copy per def-comp
  EXPECT_EQ(first_inv_num, 3);
  EXPECT_EQ(eor_enor_exist, 0);
  EXPECT_EQ(reg_exist, 0);

  // a port Node shares the Pin's name; an instance Node owns its pin name
  Net* last = m->nets;
  Node* y = last->nodes;
  Node* g2 = y->next;
  EXPECT_EQ(y->target, pin_f("y", m));
  EXPECT_EQ(y->pin_name, pin_f("y", m)->name);
  EXPECT_EQ(y->dir, K_OUTPUT);
  EXPECT_EQ(y->net, last);
  EXPECT_EQ(pin_f("y", m)->node, y);
  EXPECT_EQ(g2->target, instance_f("g2", m));
  EXPECT_STREQ(g2->pin_name, "nout");
  EXPECT_EQ(g2->dir, K_OUTPUT);
  EXPECT_EQ(instance_f("g2", m)->node, g2);
  EXPECT_EQ(m->nets->next->nodes->dir, K_INPUT);  // g2.in
  // a user-module pin has no direction yet
  EXPECT_EQ(m->nets->next->next->nodes->dir, C_MODULE);  // u1.x
  // an instance's node is its last connection in the file
  EXPECT_STREQ(instance_f("g1", m)->node->pin_name, "out");
}

TEST(Parser, ClassFlagsAndEmptyForms) {
  Module* m = nld("(def-module m (def-comp reg-1) (def-comp eor--2 x) (def-net) (def-comp inv-))");
  EXPECT_EQ(reg_exist, 1);
  EXPECT_EQ(eor_enor_exist, 1);
  EXPECT_EQ(names(m->insts), (V{"x"}));
  ASSERT_NE(m->nets, nullptr);
  EXPECT_EQ(m->nets->nodes, nullptr);
  nld("(def-module m (def-comp enor--2) (def-comp sreg---1))");
  EXPECT_EQ(eor_enor_exist, 1);
  EXPECT_EQ(reg_exist, 1);
}

TEST(Parser, LatestDeclarationOfANameWins) {
  // def-net resolves names against what was declared so far, latest first
  Module* m = nld(
      "(def-module m (def-pin p type input) (def-comp inv- g)\n"
      "(def-net p g.in)\n"
      "(def-pin p type output) (def-comp ninv- g)\n"
      "(def-net g.out p))");
  Net* second = m->nets;
  Net* first = m->nets->next;
  EXPECT_EQ(first->nodes->target->cls, C_INV);
  EXPECT_EQ(first->nodes->next->target, m->pins->next);
  EXPECT_EQ(second->nodes->target, m->pins);
  EXPECT_EQ(second->nodes->next->target->cls, C_NINV);
  EXPECT_EQ(second->nodes->target->dir, K_OUTPUT);
}

TEST(Parser, FilesThatReadNormally) {
  // ends inside the def-module form, between forms
  EXPECT_EQ(names(nld("(def-module m\n(def-comp inv- g)\n")->insts), (V{"g"}));
  // closed, then comments and blank lines
  EXPECT_EQ(names(nld("(def-module m (def-comp inv- g))\n; end\n\n\t \n;x")->insts), (V{"g"}));
  // unknown forms are skipped whole, keyword heads included
  Module* m = nld(
      "(def-module m (foo (bar baz) . x (def-net a)) (type (input)) (def-comp inv- g)"
      " (comment ; ) in a comment\n ))");
  EXPECT_EQ(names(m->insts), (V{"g"}));
  EXPECT_EQ(m->nets, nullptr);
  // a word ended by ';'
  EXPECT_EQ(names(nld("(def-module m;)\n(def-comp inv- g;)\n))")->insts), (V{"g"}));
}

TEST(Parser, DeepNestingIsSkippedWithoutRecursion) {
  std::string deep = std::string(100000, '(') + std::string(100000, ')');
  Module* m = nld("(def-module m (skip " + deep + ") (def-comp inv- g))");
  EXPECT_EQ(names(m->insts), (V{"g"}));
}

TEST(Parser, TypeTakesAnyKeyword) {
  Module* m = nld("(def-module m (def-pin c type clock note def-comp))");
  EXPECT_EQ(m->pins->dir, K_CLOCK);
  EXPECT_EQ(m->pins->note, K_DEF_COMP);
}

// ---- PCD files ------------------------------------------------------------

TEST(Parser, PcdReadsPinsAndSkipsTheRest) {
  Module* m = pcd(
      "(def-module cell power 1.5 area .5 gates 12 cell_name c1 power 3\n"
      "(def-pin a type input load 0.7 note static)\n"
      "(def-pin y load 2 type output)\n"
      "(def-comp inv- g) (def-net a g.in) (foo (bar)))\n");
  EXPECT_STREQ(m->name, "cell");
  EXPECT_EQ(names(m->pins), (V{"y", "a"}));
  EXPECT_EQ(m->pins->next->note, K_STATIC);
  EXPECT_EQ(m->insts, nullptr);
  EXPECT_EQ(m->nets, nullptr);
  EXPECT_EQ(first_inv_num, 0);
  // a number may be the last thing of an open def-module form
  EXPECT_EQ(names(pcd("(def-module c area 2\n")->pins), V{});
}

TEST(ParserDeath, PcdFailures) {
  EXPECT_EXIT(pcd("(def-module c power )"), ExitedWithCode(1), exact(""));
  EXPECT_EXIT(pcd("(def-module c power . )"), ExitedWithCode(1), exact(""));
  EXPECT_EXIT(pcd("(def-module c area 1. )"), ExitedWithCode(1), exact(""));
  EXPECT_EXIT(pcd("(def-module c gates (x))"), ExitedWithCode(1), exact(""));
  EXPECT_EXIT(pcd("(def-module c gates\n"), ExitedWithCode(1), exact(""));
  EXPECT_EXIT(pcd("(def-module c cell_name )"), ExitedWithCode(1), exact(""));
  EXPECT_EXIT(pcd("(def-module c cell_name\n"), ExitedWithCode(1), exact(""));
  EXPECT_EXIT(pcd("(def-module c\nload 1)"), ExitedWithCode(1), error_at(2, "t.pcd"));
  EXPECT_EXIT(pcd("(def-module c\n(def-module d))"), ExitedWithCode(1), error_at(2, "t.pcd"));
  EXPECT_EXIT(pcd("(def-module c)\npower 1\n"), ExitedWithCode(1), error_at(2, "t.pcd"));
  EXPECT_EXIT(pcd("(def-module c (def-pin a type input load))"), ExitedWithCode(1), exact(""));
}

// ---- errors with a message --------------------------------------------------

TEST(ParserDeath, FileStructure) {
  EXPECT_EXIT(nld(""), ExitedWithCode(1), error_at(1));
  EXPECT_EXIT(nld("\n\ndef-module m"), ExitedWithCode(1), error_at(3));
  EXPECT_EXIT(nld("(def-modul m)"), ExitedWithCode(1), error_at(1));
  EXPECT_EXIT(nld("(def-module\n(x)"), ExitedWithCode(1), error_at(2));
  EXPECT_EXIT(nld("(def-module\n"), ExitedWithCode(1), error_at(2));
  // after the closing parenthesis; a word's newline is counted before the error
  EXPECT_EXIT(nld("(def-module m)\nfoo\n"), ExitedWithCode(1), error_at(3));
  EXPECT_EXIT(nld("(def-module m)\n(def-comp inv- g)"), ExitedWithCode(1), error_at(2));
  EXPECT_EXIT(nld("(def-module m))"), ExitedWithCode(1), error_at(1));
  EXPECT_EXIT(nld("(def-module m\n x)"), ExitedWithCode(1), error_at(2));
  EXPECT_EXIT(nld("(def-module m\n\n.)"), ExitedWithCode(1), error_at(3));
  EXPECT_EXIT(nld("(def-module m\n( (x))"), ExitedWithCode(1), error_at(2));
  EXPECT_EXIT(nld("(def-module m\n()"), ExitedWithCode(1), error_at(2));
  EXPECT_EXIT(nld("(def-module m\n(def-module n))"), ExitedWithCode(1), error_at(2));
  EXPECT_EXIT(nld("(def-module m\n(\n"), ExitedWithCode(1), error_at(3));
}

TEST(ParserDeath, SkippedFormsThatNeverClose) {
  EXPECT_EXIT(nld("(def-module m\n(skip (a b)\n"), ExitedWithCode(1),
              exact("\"t.nld\", line 3: too many )'s\n"));
  EXPECT_EXIT(nld("(def-module m (skip " + std::string(100000, '(')), ExitedWithCode(1),
              exact("\"t.nld\", line 1: too many )'s\n"));
}

TEST(ParserDeath, DefPin) {
  EXPECT_EXIT(nld("(def-module m\n(def-pin)"), ExitedWithCode(1), error_at(2));
  EXPECT_EXIT(nld("(def-module m\n(def-pin a type input foo)"), ExitedWithCode(1), error_at(2));
  EXPECT_EXIT(nld("(def-module m\n(def-pin a type foo)"), ExitedWithCode(1), error_at(2));
  EXPECT_EXIT(nld("(def-module m\n(def-pin a type input note bar)"), ExitedWithCode(1),
              error_at(2));
  EXPECT_EXIT(nld("(def-module m\n(def-pin a type (input))"), ExitedWithCode(1), error_at(2));
  EXPECT_EXIT(nld("(def-module m\n(def-pin a type input load 1)"), ExitedWithCode(1),
              error_at(2));
  EXPECT_EXIT(nld("(def-module m\n(def-pin a type input . )"), ExitedWithCode(1), error_at(2));
  EXPECT_EXIT(nld("(def-module m\n(def-pin a type input (x))"), ExitedWithCode(1), error_at(2));
  EXPECT_EXIT(nld("(def-module m\n(def-pin a type input\n"), ExitedWithCode(1), error_at(3));
  // a carriage return belongs to the word before it
  EXPECT_EXIT(nld("(def-module m\r\n(def-pin a type input\r\n)"), ExitedWithCode(1),
              error_at(3));
}

TEST(ParserDeath, DefComp) {
  EXPECT_EXIT(nld("(def-module m\n(def-comp)"), ExitedWithCode(1), error_at(2));
  EXPECT_EXIT(nld("(def-module m\n(def-comp inv- a.b)"), ExitedWithCode(1), error_at(2));
  EXPECT_EXIT(nld("(def-module m\n(def-comp inv- a (b))"), ExitedWithCode(1), error_at(2));
  EXPECT_EXIT(nld("(def-module m\n(def-comp inv- a\n"), ExitedWithCode(1), error_at(3));
}

TEST(ParserDeath, DefNet) {
  const std::string head = "(def-module m (def-pin p type input) (def-comp inv- g)\n";
  EXPECT_EXIT(nld(head + "(def-net g)"), ExitedWithCode(1), error_at(2));
  EXPECT_EXIT(nld(head + "(def-net g.)"), ExitedWithCode(1), error_at(2));
  EXPECT_EXIT(nld(head + "(def-net g in)"), ExitedWithCode(1), error_at(2));
  EXPECT_EXIT(nld(head + "(def-net p (x))"), ExitedWithCode(1), error_at(2));
  EXPECT_EXIT(nld(head + "(def-net . p)"), ExitedWithCode(1), error_at(2));
  EXPECT_EXIT(nld(head + "(def-net p\n"), ExitedWithCode(1), error_at(3));
  // a port name followed by a dot: the word is the port, the dot is misplaced
  EXPECT_EXIT(nld("(def-module m (def-pin g type input) (def-comp inv- g)\n(def-net g.in)"),
              ExitedWithCode(1), error_at(2));
}

TEST(ParserDeath, UndefinedInstances) {
  EXPECT_EXIT(nld("(def-module m (def-pin a type input)\n(def-net\ta\n\tg1.in)\n(def-comp inv- g1)\n)"),
              ExitedWithCode(1), exact("\"t.nld\", line 3: g1 undefined\n"));
  // the port is declared after its use: taken as an instance, then undefined
  EXPECT_EXIT(nld("(def-module m\n(def-net\tp.x)\n(def-pin p type input))"), ExitedWithCode(1),
              exact("\"t.nld\", line 2: p undefined\n"));
}

// ---- silent exits ---------------------------------------------------------

TEST(ParserDeath, SilentExits) {
  const char* cases[] = {
      "(def-module m (def-comp and--1 g))",
      "(def-module m (def-comp aoi--23 g))",
      "(def-module m (def-pin a))",
      "(def-module m (def-pin a note unused))",
      "(def-module m (def-pin a type input type output))",
      "(def-module m (def-pin a type input note unused type input))",
      "(def-module m (def-comp inv- g) (def-net g.out))",
      "(def-module m (def-comp eor--2 g) (def-net g.in3))",
      "(def-module m (def-comp high- g) (def-net g.in))",
  };
  for (const char* text : cases) EXPECT_EXIT(nld(text), ExitedWithCode(1), exact("")) << text;
}

// ---- class words ----------------------------------------------------------

TEST(ClassF, CodesAndNumbers) {
  struct Case {
    const char* word;
    int code;
    int number;
  } cases[] = {
      {"inv-", C_INV, 0},       {"inv--1", C_INV, 1},        {"inv--", C_INV, 0},
      {"ninv-", C_NINV, 0},     {"ts_buf-", C_TS_BUF, 0},    {"high-", C_HIGH, 0},
      {"low-", C_LOW, 0},       {"high--7", C_HIGH, 7},      {"reg-1", C_REG, 0},
      {"reg--1", C_REG_1, 0},   {"reg---1", C_REG_SR, 0},    {"sreg---1", C_SREG_SR, 0},
      {"bgate--2", C_BGATE, 0}, {"and--2", C_AND, 2},        {"nand--4", C_NAND, 4},
      {"or--255", C_OR, 255},   {"nor--3", C_NOR, 3},        {"eor--2", C_EOR, 2},
      {"enor--2", C_ENOR, 2},   {"aoi--211", C_AOI, 211},    {"oai--33", C_OAI, 33},
      {"aoi--21", C_AOI, 21},   {"oai--222", C_OAI, 222},    {"inv--300", C_INV, 300},
      {"adder8", C_MODULE, 0},  {"my-cell", C_MODULE, 0},    {"foo--3", C_MODULE, 3},
      {"and-3", C_MODULE, 0},   {"and--x", C_MODULE, 0},     {"--", C_MODULE, 0},
      {"-", C_MODULE, 0},       {"reg--5", C_MODULE, 5},     {"bgate--3", C_MODULE, 3},
      {"Inv-", C_MODULE, 0},    {"and--2x", C_MODULE, 0},    {"and---2", C_MODULE, 0},
  };
  for (const Case& c : cases) {
    class_number = -1;
    EXPECT_EQ(class_f(c.word, TABLE_PCD), c.code) << c.word;
    EXPECT_EQ(class_number, c.number) << c.word;
  }
}

TEST(ClassF, WidthKeepsTheLowBitsWhereItIsNeverWrittenBack) {
  Module* m = nld("(def-module m (def-comp inv--300 g) (def-comp foo--258 u))");
  EXPECT_EQ(instance_f("g", m)->width, 300 & 0xff);
  EXPECT_EQ(instance_f("u", m)->width, 258 & 0xff);
}

TEST(ClassFDeath, BadNumbersAndBareStems) {
  const char* words[] = {
      "and--1",  "and--",   "or--0",   "nand--1", "nor--", "eor--3", "enor--1", "eor--",
      "aoi--23", "aoi--2",  "oai--1",  "aoi--",   "aoi--277",
      // bare stems of the parameterised classes
      "and-", "nand-", "or-", "nor-", "eor-", "enor-", "aoi-", "oai-",
      // widths that would not be written back as read
      "and--256", "nor--300", "or--99999999999999999999",
  };
  for (const char* w : words)
    EXPECT_EXIT(class_f(w, TABLE_PCD), ExitedWithCode(1), exact("")) << w;
}

// ---- pin names of the cell classes ----------------------------------------

TEST(PinTypeF, Directions) {
  struct Case {
    const char* pin;
    int cls;
    int dir;
  } cases[] = {
      {"in", C_INV, K_INPUT},          {"nout", C_INV, K_OUTPUT},
      {"in", C_NINV, K_INPUT},         {"out", C_NINV, K_OUTPUT},
      {"anything", C_AND, K_INPUT},    {"nout", C_AND, K_INPUT},
      {"out", C_OR, K_OUTPUT},         {"out", C_NAND, K_INPUT},
      {"nout", C_NOR, K_OUTPUT},       {"a1", C_AOI, K_INPUT},
      {"nout", C_OAI, K_OUTPUT},       {"in2", C_EOR, K_INPUT},
      {"out", C_EOR, K_OUTPUT},        {"in1", C_ENOR, K_INPUT},
      {"nout", C_ENOR, K_OUTPUT},      {"clk_enb", C_REG, K_INPUT},
      {"p_reset", C_REG_1, K_INPUT},   {"nout", C_REGS, K_OUTPUT},
      {"set", C_REG_SR, K_INPUT},      {"out", C_REG_SR, K_OUTPUT},
      {"scan_clock", C_SREG, K_INPUT}, {"scan_out", C_SRGR, K_OUTPUT},
      {"scan_enb", C_SREG_1, K_INPUT}, {"reset", C_SREG_SR, K_INPUT},
      {"scan_out", C_SREG_SR, K_OUTPUT}, {"out", C_HIGH, K_OUTPUT},
      {"nout", C_LOW, K_OUTPUT},       {"nenb", C_TS_BUF, K_INPUT},
      {"out", C_TS_BUF, K_TRISTATE},   {"clock", C_BGATE, K_INPUT},
      {"nout", C_BGATE, K_OUTPUT},     {"whatever", C_MODULE, C_MODULE},
  };
  for (const Case& c : cases) EXPECT_EQ(pin_type_f(c.pin, c.cls), c.dir) << c.pin << " " << c.cls;
}

TEST(PinTypeFDeath, PinsTheClassDoesNotHave) {
  struct Case {
    const char* pin;
    int cls;
  } cases[] = {
      {"out", C_INV},     {"nout", C_NINV},   {"in3", C_EOR},     {"out", C_ENOR},
      {"set", C_REG},     {"in", C_REG_SR},   {"scan_in", C_REGR}, {"clk_enb", C_SREG_SR},
      {"in", C_HIGH},     {"out", C_LOW},     {"enb", C_TS_BUF},  {"out", C_BGATE},
  };
  for (const Case& c : cases)
    EXPECT_EXIT(pin_type_f(c.pin, c.cls), ExitedWithCode(1), exact("")) << c.pin << " " << c.cls;
}

// ---- damaged input never crashes ------------------------------------------

TEST(Parser, TruncatedAndDamagedFilesEndCleanly) {
  const std::string text = kHalf;
  for (size_t n = 0; n < text.size(); ++n)
    EXPECT_TRUE(parses_or_quits(text.substr(0, n))) << n;
  std::mt19937 rng(7);
  for (int round = 0; round < 200; ++round) {
    std::string t = text;
    for (int k = 0; k < 4; ++k) t[rng() % t.size()] = static_cast<char>(rng() % 256);
    EXPECT_TRUE(parses_or_quits(t)) << round;
  }
}
