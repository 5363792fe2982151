// The in-memory netlist: the code space, the five record kinds (Module,
// Pin/Instance, Net, Node) with the list cell StrList and the writer's and
// rebuilder's scratch records, the globals of a run, name lookups, and the
// one function through which every weight and polarity flag changes.
//
// Every record is made by `make<T>()` (support.h): it starts with every field
// zero and lives until the process ends. Links are plain non-owning pointers.
#pragma once

#include <cstdint>

#include "support/support.h"

namespace vorq {

// ---- code space ---------------------------------------------------------

enum : int {
  // keywords of the NLD/PCD language; pin directions and notes are these
  K_BIDIRECT = 257,
  K_BIDIRECT_CONNECTED = 258,
  K_CLOCK = 259,
  K_DEF_COMP = 260,
  K_DEF_MODULE = 261,
  K_DEF_NET = 262,
  K_DEF_PIN = 263,
  K_GLOBAL = 264,
  K_INPUT = 265,
  K_INPUT_CONNECTED = 266,
  K_NOTE = 267,
  K_OUTPUT = 268,
  K_OUTPUT_CONNECTED = 269,
  K_STATIC = 270,
  K_TRISTATE = 271,
  K_TRISTATE_CONNECTED = 272,
  K_TYPE = 273,
  K_UNDEFINED = 274,
  K_UNUSED = 275,
  K_UNUSED_CONNECTED = 276,
  K_AREA = 277,
  K_CELL_NAME = 278,
  K_GATES = 279,
  K_POWER = 280,
  K_LOAD = 281,
  K_SCAN_ENB = 282,
  K_SCAN_IN = 283,
  K_SCAN_OUT = 284,

  // net types (besides 271 tristate and 275 unused)
  NET_CONTROL = 290,
  NET_SIGNAL = 291,

  // table selectors and parse modes
  TABLE_KEYWORD = 300,
  TABLE_PCD = 301,
  MODE_PCD = 301,
  MODE_NLD = 302,

  // Module kinds
  KIND_PCD = 301,       // primitive cell read from a PCD file
  KIND_WRITABLE = 310,  // NLD module from a directory named after the top module
  KIND_READONLY = 311,  // NLD module from a -r directory; never rewritten

  // cell classes
  C_INV = 400,       // inv-
  C_NINV = 401,      // ninv-
  C_AND = 402,       // and-
  C_NAND = 403,      // nand-
  C_OR = 404,        // or-
  C_NOR = 405,       // nor-
  C_EOR = 406,       // eor-
  C_ENOR = 407,      // enor-
  C_AOI = 408,       // aoi-
  C_OAI = 409,       // oai-
  C_REG = 410,       // reg-1
  C_REGR = 411,      // regr-1
  C_REGS = 412,      // regs-1
  C_REG_1 = 413,     // reg--1
  C_REG_SR = 414,    // reg---1
  C_SREG = 415,      // sreg-1
  C_SRGR = 416,      // srgr-1
  C_SRGS = 417,      // srgs-1
  C_SREG_1 = 418,    // sreg--1
  C_SREG_SR = 419,   // sreg---1
  C_HIGH = 420,      // high-
  C_LOW = 421,       // low-
  C_TS_BUF = 422,    // ts_buf-
  C_BGATE = 423,     // bgate--2
  C_PIN = 424,       // a module port
  C_MODULE = 425,    // an instance of a user module; also "not in the table"
  C_STICKY = 426,    // sticky buffer (net protection)
  C_STICKY_TS = 427, // sticky tristate buffer
};

inline bool is_register_class(int c) { return c >= C_REG && c <= C_SREG_SR; }
inline bool is_gate_class(int c) { return c >= C_AND && c <= C_OAI; }
inline bool is_xor_class(int c) { return c == C_EOR || c == C_ENOR; }

// ---- records ------------------------------------------------------------

struct Module;
struct Cell;
struct Net;
struct Node;
struct ClassGroup;

// Pin and Instance are one record; a Pin has `cls` C_PIN.
using Pin = Cell;
using Instance = Cell;

struct StrList {
  char* str;
  StrList* next;
};

struct Module {
  char* name;           // class name from def-module (renamed when rewritten)
  char* inst_name;      // name of the Instance this copy implements; top: own name
  Pin* pins;
  ClassGroup* groups;   // instances grouped by class for naming and writing
  Instance* insts;
  Instance* sub_insts;  // flattened sub-module instances kept out of the flat list
  Net* nets;
  Cell* comps;          // head of the connected-component list (top module)
  Module* parent;
  Module* next;         // next Module of `top`
  Instance* inst;       // the Instance this copy implements; null for the top
  int kind;             // KIND_PCD, KIND_WRITABLE or KIND_READONLY
};

struct Cell {
  int cls;              // `class`: 400-427
  uint8_t width;        // number in the class name, low 8 bits
  uint8_t mark;         // reduction: scratch flag of one computation, else 0
  uint8_t negatable;    // reduction, while counting: 1 + can_negate, 0 unknown
  int dir;              // Pin: keyword code after `type`
  int note;             // Pin: keyword code after `note`, 0 for none
  bool dual;            // Instance: becomes its dual at output
  bool negate;          // Instance: becomes its negation at output
  bool used;
  bool control;
  int32_t rid;          // reduction: position in the component being reduced
  char* class_name;     // user-module Instance (C_MODULE)
  char* name;           // null for generated cells until they are named
  Cell* next;
  Node* node;           // one connection; Instance: entry into its ring
  Cell* comp;
  Cell* comp_link;
  Cell* comp_next;
  Cell* sub_comp;
  Cell* sub_comp_link;
  Cell* sub_comp_next;
  Module* module;       // user-module Instance: the copy that implements it
  Module* owner;        // module that declares the pin or contains the instance
};

struct Net {
  Node* nodes;
  Node* source;         // the driving Node; null until set
  Net* next;
  int type;             // 0, K_TRISTATE, K_UNUSED, NET_CONTROL, NET_SIGNAL
  bool irreversible;    // a bidirectional pin is on the net
  // Set by the reduction while counting is on: 0 for a net outside its
  // running sums, else 1 + how the driver class counts the loads.
  uint8_t count_mode;
  uint8_t mark;         // reduction: scratch flag of one computation, else 0
  uint8_t queued;       // reduction: waits to have its driver polarity settled
  int32_t rid = -1;     // reduction: index of the net in the component's search
  // Running load counts kept by the reduction (loads not on exclusive-OR
  // cells with wt +1 and with wt -1); valid only while counting is on.
  int32_t plus_loads;
  int32_t minus_loads;
};

struct Node {
  int dir;
  int8_t wt;            // signed 2-bit: +1, -1, 0 (or -2, the fourth pattern)
  int8_t phase;         // signed 2-bit, negated together with wt
  bool boundary;
  int note;
  int32_t rid;          // reduction: index of its connection in the component
  Cell* target;         // instance, or the port (Pin) of the owning module
  char* pin_name;       // port Node: shares the Pin's name
  Node* next;
  Node* ring;           // next Node with the same target; circular
  Node* pair;           // partner across a hierarchy boundary
  Net* net;
};

// The writer's view of a module's instances: a chain of one class (linked
// through Instance `next`), with width subtrees for the parameterised gates.
struct ClassGroup {
  Instance* first;
  ClassGroup* next;
  ClassGroup* left;
  ClassGroup* right;
};

// One module copy in the tree of one net (hierarchy reconstruction).
struct TreeCell {
  TreeCell* parent;
  TreeCell* sibling;
  TreeCell* child;
  Module* module;
  Node* nodes;
  Node* source;
  uint16_t visited;
  uint16_t inward;
  uint16_t outward;
  uint16_t port_dir;
};

// ---- globals of a run ---------------------------------------------------

extern Module* top;             // the Module list; the top module first
extern int first_inv_num;       // inverters of the expanded design
extern int eor_enor_exist;      // the design has exclusive-OR cells
extern int reg_exist;           // the design has registers
extern int all;                 // option -a
extern int h_or_f;              // 4 hierarchical output, 3 flat output (-f)
extern StrList* opt_dir;        // writable directories
extern StrList* read_dir;       // -r directories
extern StrList* write_dir;      // the write directory
extern int lineno;              // line of the file being parsed
extern const char* file_name;   // path of the file being read
extern char buf[4096];          // text of the last word read
extern int sticky_cnt;          // counter for sticky names
extern Cell* start_sub_comp;    // head of the sub-component list
extern const char* top_name;    // name of the top module
extern int paren_depth;         // open-parenthesis depth of the current file
extern int class_number;        // number parsed from the last class name

// Sets every global above to its value at the start of a run (h_or_f 4).
void reset_globals();

// ---- tables and lookups -------------------------------------------------

// Binary search of `word` in table TABLE_KEYWORD or TABLE_PCD: its code, or
// C_MODULE (425) when it is not there.
int screen(const char* word, int table);
// The name of the first row with `code`, or null.
const char* inv_screen(int code, int table);

// First Instance (Pin) of the module's list with that name; null if none.
Instance* instance_f(const char* name, Module* m);
Pin* pin_f(const char* name, Module* m);

// Appends a copy of `s` at the tail of the list `*head`.
void strlist_append(StrList** head, const char* s);

// ---- weights and polarity flags ----------------------------------------
// Every change of a Node's wt/phase and of an Instance's dual/negate passes
// through these, so that observers (the reduction's running counts and its
// state hash) see all of them.

inline int8_t neg2(int8_t x) { return x == -2 ? int8_t(-2) : int8_t(-x); }

void set_weights(Node* n, int wt, int phase);
inline void negate_node(Node* n) { set_weights(n, neg2(n->wt), neg2(n->phase)); }
void negate_net(Net* net);

void set_polarity_flags(Instance* c, bool dual, bool negate);
inline void toggle_dual(Instance* c) { set_polarity_flags(c, !c->dual, c->negate); }
inline void toggle_negate(Instance* c) { set_polarity_flags(c, c->dual, !c->negate); }

struct WeightObserver {
  virtual ~WeightObserver() = default;
  virtual void weights_changed(Node* n, int old_wt, int old_phase) = 0;
  virtual void flags_changed(Instance* c, bool old_dual, bool old_negate) = 0;
};
// At most one observer at a time; null turns observation off.
void set_weight_observer(WeightObserver* o);

// ---- iteration ----------------------------------------------------------
// Walks a list linked through `next`; the successor is read before the body
// runs, so the body may unlink the current record.

template <class T>
struct ListWalk {
  T* first;
  struct iterator {
    T* cur;
    T* nxt;
    T* operator*() const { return cur; }
    iterator& operator++() {
      cur = nxt;
      nxt = cur ? cur->next : nullptr;
      return *this;
    }
    bool operator!=(const iterator& o) const { return cur != o.cur; }
  };
  iterator begin() const { return {first, first ? first->next : nullptr}; }
  iterator end() const { return {nullptr, nullptr}; }
};

template <class T>
ListWalk<T> list_of(T* first) { return {first}; }
inline ListWalk<Node> nodes_of(Net* n) { return {n->nodes}; }
inline ListWalk<Net> nets_of(Module* m) { return {m->nets}; }
inline ListWalk<Cell> insts_of(Module* m) { return {m->insts}; }
inline ListWalk<Cell> pins_of(Module* m) { return {m->pins}; }
inline ListWalk<Module> modules() { return {top}; }

// Walks the ring of Nodes of one cell, from its `node`, once around; the
// successor is read before the body runs.
struct RingWalk {
  Node* start;
  struct iterator {
    Node* start;
    Node* cur;
    Node* nxt;
    Node* operator*() const { return cur; }
    iterator& operator++() {
      cur = (nxt == start) ? nullptr : nxt;
      nxt = cur ? cur->ring : nullptr;
      return *this;
    }
    bool operator!=(const iterator& o) const { return cur != o.cur; }
  };
  iterator begin() const { return {start, start, start ? start->ring : nullptr}; }
  iterator end() const { return {start, nullptr, nullptr}; }
};
inline RingWalk ring_of(Cell* c) { return {c->node}; }
inline RingWalk ring_from(Node* n) { return {n}; }

}  // namespace vorq
