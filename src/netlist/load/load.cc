// Loading the design: files, module copies, recursion check, rings.
#include "netlist/load/load.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "netlist/parse/parse.h"

namespace vorq {

namespace {

// A module copy may lie at most this many levels below the top module, a
// last guard against an expansion that does not end (reads_own_file stops
// the one known kind).
constexpr int kMaxDepth = 10000;

// ---- pointer map ----------------------------------------------------------

// Open-addressing map from a record pointer to an index, sized once.
class PtrIndex {
 public:
  explicit PtrIndex(size_t expected) {
    size_t cap = 16;
    while (cap < expected * 2) cap *= 2;
    keys_.assign(cap, nullptr);
    vals_.assign(cap, 0);
    mask_ = cap - 1;
  }
  // The slot of `key`; *fresh tells whether it was just added (value 0).
  uint32_t& at(const void* key, bool* fresh) {
    uintptr_t k = reinterpret_cast<uintptr_t>(key);
    size_t i = static_cast<size_t>((k >> 4) * 0x9E3779B97F4A7C15ull >> 20) & mask_;
    for (;; i = (i + 1) & mask_) {
      if (keys_[i] == key) {
        *fresh = false;
        return vals_[i];
      }
      if (!keys_[i]) {
        keys_[i] = key;
        *fresh = true;
        return vals_[i];
      }
    }
  }

 private:
  std::vector<const void*> keys_;
  std::vector<uint32_t> vals_;
  size_t mask_ = 0;
};

template <class T>
size_t length(T* first) {
  size_t n = 0;
  for (T* p = first; p; p = p->next) ++n;
  return n;
}

// ---- connection limits ----------------------------------------------------

// Most connections a cell of this class may have; INT_MAX for no limit.
int link_limit(const Cell* c) {
  switch (c->cls) {
    case C_INV:
    case C_NINV:
      return 2;
    case C_AND:
    case C_NAND:
    case C_OR:
    case C_NOR:
    case C_EOR:
    case C_ENOR:
      return c->width + 1;
    case C_AOI:
    case C_OAI: {
      int sum = 0;
      for (int w = c->width; w > 0; w /= 10) sum += w % 10;
      return sum + 1;
    }
    default:
      return INT_MAX;
  }
}

[[noreturn]] void too_many_links(const Cell* c, int count) {
  say("\"%s\", %s appears ", file_name ? file_name : "", c->name ? c->name : "");
  say("%d times in def-net\n", count);
  quit(1);
}

// ---- finding and parsing files --------------------------------------------

// The paths of the files parsed in this run, for the copier.
std::unordered_set<std::string>& read_paths() {
  static auto* paths = new std::unordered_set<std::string>();
  return *paths;
}

// Opens name.ext in the first directory of `dirs` where it is a regular file
// (file_name is left at its path); null when none is.
FILE* open_in(StrList* dirs, const char* name, const char* ext) {
  for (StrList* d = dirs; d; d = d->next) {
    char* path = f_name(name, d->str, ext);
    file_name = path;
    if (FILE* f = open_regular(path)) return f;
  }
  return nullptr;
}

// Parses the open file named by file_name, closes it and reports it.
Module* parse_file(FILE* f, int mode, int kind) {
  // Closed also when a parse error ends the run by an exception (a harness
  // that runs the tool in-process).
  std::unique_ptr<FILE, int (*)(FILE*)> file(f, std::fclose);
  Module* m = mode == MODE_PCD ? pcd_par(f) : nld_par(f);
  file.reset();
  say("\tRead %s\n", file_name);
  read_paths().insert(file_name);
  m->kind = kind;
  return m;
}

// ---- the expansion --------------------------------------------------------

// Whether reading the class of `inst` from its file would read a file that an
// enclosing module was read from: a file whose def-module names another class
// and that instantiates its own file's class (directly or through other such
// files). Expanding it would never end, and with two such instances per level
// the design doubles at every level.
bool reads_own_file(const Instance* inst) {
  for (const Module* m = inst->owner; m && m->inst; m = m->parent)
    if (m->inst->class_name && inst->class_name &&
        std::strcmp(m->inst->class_name, inst->class_name) == 0)
      return true;
  return false;
}

// Working state of one read_module: the tail of `top`, the depth of every
// Module in list order, and the first Module of each name.
struct Loader {
  Module* tail = nullptr;
  std::vector<int> depth;
  detail::NameTable<Module> first_of_name;

  void append(Module* m, int level) {
    if (tail) tail->next = m;
    else top = m;
    tail = m;
    m->next = nullptr;
    depth.push_back(level);
    first_of_name.add(m);
  }

  void expand() {
    size_t index = 0;
    for (Module* m = top; m; m = m->next, ++index) {
      if (m->kind == KIND_PCD) continue;
      for (Instance* inst : insts_of(m)) {
        if (inst->cls != C_MODULE) continue;
        if (!loop_check(inst)) quit(1);
        int level = depth[index] + 1;
        if (level >= kMaxDepth) memory_full();
        Module* o = first_of_name.find(inst->class_name);
        if (!o && reads_own_file(inst)) quit(1);
        Module* c = o ? copy_module(o) : read_module2(inst->class_name);
        c->parent = m;
        append(c, level);
        inst->module = c;
        c->inst = inst;
        c->inst_name = inst->name;
        find_link(c);
      }
    }
  }
};

}  // namespace

char* f_name(const char* name, const char* dir, const char* ext) {
  size_t n = std::strlen(name) + std::strlen(dir) + std::strlen(ext) + 3;
  char* path = static_cast<char*>(arena_alloc(n, 1));
  std::snprintf(path, n, "%s/%s.%s", dir, name, ext);
  return path;
}

FILE* open_regular(const char* path) {
  // A FIFO or a device must not block the run, so it is opened without
  // waiting and dropped on sight.
  struct stat st;
  if (::stat(path, &st) != 0) return nullptr;
  if (!S_ISREG(st.st_mode)) {
    errno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    return nullptr;
  }
  int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  int flags = fcntl(fd, F_GETFL);
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || flags < 0 ||
      fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    ::close(fd);
    return nullptr;
  }
  FILE* f = fdopen(fd, "r");
  if (!f) ::close(fd);
  return f;
}

bool was_read(const char* path) { return path && read_paths().count(path) != 0; }

void read_module(const char* top_name) {
  read_paths().clear();
  FILE* f = open_in(opt_dir, top_name, "nld");
  if (!f) {
    say("Could not find \"%s.nld\"\n", top_name);
    quit(1);
  }
  Module* m = parse_file(f, MODE_NLD, KIND_WRITABLE);
  m->inst_name = m->name;

  Loader loader;
  top = nullptr;
  loader.append(m, 0);
  find_link(m);
  loader.expand();
}

Module* read_module2(const char* class_name) {
  if (FILE* f = open_in(opt_dir, class_name, "pcd")) return parse_file(f, MODE_PCD, KIND_PCD);
  if (FILE* f = open_in(read_dir, class_name, "pcd")) return parse_file(f, MODE_PCD, KIND_PCD);
  if (FILE* f = open_in(opt_dir, class_name, "nld")) return parse_file(f, MODE_NLD, KIND_WRITABLE);
  if (FILE* f = open_in(read_dir, class_name, "nld")) return parse_file(f, MODE_NLD, KIND_READONLY);
  say("Could not find \"%s.pcd/nld\"\n", class_name);
  quit(1);
}

int loop_check(Instance* inst) {
  for (Module* m = inst->owner; m; m = m->parent)
    if (m->name && inst->class_name && std::strcmp(m->name, inst->class_name) == 0) return 0;
  return 1;
}

Module* original(Instance* inst) {
  for (Module* m : modules())
    if (m->name && inst->class_name && std::strcmp(m->name, inst->class_name) == 0) return m;
  return nullptr;
}

Module* copy_module(Module* o) {
  Module* c = make<Module>();
  c->name = arena_strdup(o->name);
  c->kind = o->kind;

  // every copied Pin and Instance by the position of its original
  PtrIndex where(length(o->pins) + length(o->insts));
  std::vector<Cell*> copies;

  // ports
  Pin** pin_tail = &c->pins;
  for (Pin* p : pins_of(o)) {
    Pin* q = make<Pin>();
    q->cls = C_PIN;
    q->name = arena_strdup(p->name);
    q->dir = p->dir;
    q->note = p->note;
    q->owner = c;
    *pin_tail = q;
    pin_tail = &q->next;
    bool fresh;
    where.at(p, &fresh) = static_cast<uint32_t>(copies.size());
    copies.push_back(q);
  }

  // instances
  Instance** inst_tail = &c->insts;
  for (Instance* i : insts_of(o)) {
    Instance* j = make<Instance>();
    j->cls = i->cls;
    j->width = i->width;
    j->name = arena_strdup(i->name);
    if (i->cls == C_MODULE) j->class_name = arena_strdup(i->class_name);
    j->owner = c;
    *inst_tail = j;
    inst_tail = &j->next;
    if (i->cls == C_INV) ++first_inv_num;
    bool fresh;
    where.at(i, &fresh) = static_cast<uint32_t>(copies.size());
    copies.push_back(j);
  }

  // nets
  Net** net_tail = &c->nets;
  for (Net* n : nets_of(o)) {
    Net* k = make<Net>();
    *net_tail = k;
    net_tail = &k->next;
    Node** node_tail = &k->nodes;
    for (Node* d : nodes_of(n)) {
      Node* e = make<Node>();
      e->dir = d->dir;
      e->net = k;
      bool fresh;
      uint32_t at = where.at(d->target, &fresh);
      Cell* t = fresh ? nullptr : copies[at];
      if (t) {
        e->target = t;
        e->pin_name = t->cls == C_PIN ? t->name : arena_strdup(d->pin_name);
        t->node = e;
      }
      *node_tail = e;
      node_tail = &e->next;
    }
  }
  return c;
}

void find_link(Module* m) {
  // While the rings are built, an instance's `node` marks the first of its
  // Nodes in traversal order (null: none seen yet); the parser's values are
  // put back afterwards.
  std::vector<Node*> saved;
  for (Instance* i : insts_of(m)) {
    saved.push_back(i->node);
    i->node = nullptr;
  }
  std::vector<Node*> firsts;

  // rings: the first Node, then the others in reverse traversal order
  for (Net* n : nets_of(m))
    for (Node* d : nodes_of(n)) {
      d->ring = d;
      Cell* t = d->target;
      if (!t || t->cls == C_PIN || t->owner != m) continue;
      if (!t->node) {
        t->node = d;
        firsts.push_back(d);
        continue;
      }
      d->ring = t->node->ring;
      t->node->ring = d;
    }

  size_t k = 0;
  for (Instance* i : insts_of(m)) i->node = saved[k++];

  // connection counts, in the order of each cell's first Node
  for (Node* first : firsts) {
    int count = 0;
    for (Node* d : ring_from(first)) {
      (void)d;
      ++count;
    }
    if (count > link_limit(first->target)) too_many_links(first->target, count);
  }
}

void find_link2(Node* node) {
  if (node->ring != node || !node->target || node->target->cls == C_PIN) return;
  int count = 1;
  auto join = [&](Node* other) {
    if (other->target != node->target) return;
    other->ring = node->ring;
    node->ring = other;
    ++count;
  };
  for (Node* d = node->next; d; d = d->next) join(d);
  for (Net* n = node->net ? node->net->next : nullptr; n; n = n->next)
    for (Node* d : nodes_of(n)) join(d);
  if (count > link_limit(node->target)) too_many_links(node->target, count);
}

}  // namespace vorq
