#include "writer/writer.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include "netlist/load/load.h"

namespace vorq {

namespace {

constexpr size_t kBufferSize = size_t{1} << 20;

// ---- text output ------------------------------------------------------

// Collects the text of one module in a large buffer and hands it to the stream
// in big pieces.
class Out {
 public:
  explicit Out(FILE* f) : f_(f) {}
  ~Out() { flush(); }
  Out(const Out&) = delete;
  Out& operator=(const Out&) = delete;

  Out& operator<<(const char* s) {
    if (s) put(s, std::strlen(s));
    return *this;
  }
  Out& operator<<(char c) {
    if (n_ == sizeof buf_) flush();
    buf_[n_++] = c;
    return *this;
  }
  Out& operator<<(int v) {
    char digits[16];
    int k = 0;
    unsigned u = v < 0 ? 0u - static_cast<unsigned>(v) : static_cast<unsigned>(v);
    do {
      digits[k++] = static_cast<char>('0' + u % 10);
      u /= 10;
    } while (u);
    if (v < 0) *this << '-';
    while (k) *this << digits[--k];
    return *this;
  }

 private:
  void put(const char* s, size_t len) {
    if (len > sizeof buf_ - n_) {
      flush();
      if (len > sizeof buf_) {
        write(s, len);
        return;
      }
    }
    std::memcpy(buf_ + n_, s, len);
    n_ += len;
  }
  void flush() {
    if (n_) write(buf_, n_);
    n_ = 0;
  }
  void write(const char* s, size_t len) {
    errno = 0;
    if (std::fwrite(s, 1, len, f_) != len) output_failed(f_, errno);
  }

  FILE* f_;
  size_t n_ = 0;
  char buf_[size_t{1} << 16];
};

void comp_print(Out& out, ClassGroup* g);

// ---- files ------------------------------------------------------------

// Writes module `m` into the write directory under its own name.
void write_module(Module* m) {
  char* path = f_name(m->name, write_dir->str, "nld");
  FILE* f = stage_open(path);
  std::setvbuf(f, nullptr, _IOFBF, kBufferSize);
  print_nld2(f, m);
  stage_close(f);
}

// The file this run read for `name.ext`, searched like the loader searches
// it: the first of the directories of `dirs` whose path was read.
struct Source {
  FILE* file = nullptr;
  char* path = nullptr;
  const char* dir = nullptr;
};

bool open_in(StrList* dirs, const char* name, const char* ext, Source& s) {
  for (StrList* d : list_of(dirs)) {
    char* path = f_name(name, d->str, ext);
    if (!was_read(path)) continue;
    errno = 0;
    FILE* f = open_regular(path);
    if (!f) {
      say("Could not read %s: %s\n", path, std::strerror(errno ? errno : EIO));
      quit(1);
    }
    s.file = f;
    s.path = path;
    s.dir = d->str;
    return true;
  }
  return false;
}

// Ends the run: the file to copy for `name` was not read under that name
// (its def-module name differs from its file name, or it was never found).
[[noreturn]] void source_missing(const char* name, const char* ext) {
  say("Could not find \"%s.%s\" to copy\n", name, ext);
  quit(1);
}

// Whether the open source and the path `target` are one file (the same
// directory under another spelling, or a link).
bool same_file(FILE* src, const char* target) {
  struct stat a, b;
  if (fstat(fileno(src), &a) != 0 || ::stat(target, &b) != 0) return false;
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Stages a byte-for-byte copy of the source as `target` unless they are one
// file, and closes the source.
void copy_to(Source& s, const char* target) {
  std::unique_ptr<FILE, int (*)(FILE*)> source(s.file, std::fclose);
  bool same = std::strcmp(s.dir, write_dir->str) == 0 || same_file(s.file, target);
  if (same) {
    stage_same(target);
    return;
  }
  FILE* out = stage_open(target);
  static std::vector<char> chunk(kBufferSize);
  size_t n;
  while ((n = std::fread(chunk.data(), 1, chunk.size(), s.file)) > 0) {
    errno = 0;
    if (std::fwrite(chunk.data(), 1, n, out) != n) output_failed(out, errno);
  }
  if (std::ferror(s.file)) {
    say("Could not read %s: %s\n", s.path, std::strerror(errno ? errno : EIO));
    quit(1);
  }
  stage_close(out);
}

}  // namespace

// ---- the written list ---------------------------------------------------

void WrittenList::add(const char* name) {
  StrList* cell = make<StrList>();
  cell->str = arena_strdup(name);
  if (tail) tail->next = cell;
  else head = cell;
  tail = cell;
  names.insert(cell->str);
}

int write_or_not(const char* name, const WrittenList& written) {
  return name && written.names.count(name) ? 1 : 0;
}

void print_wrote(const char* path) { say("\tWrote %s\n", path); }

void print_could_not_open(const char* path) { say("Could not open %s\n", path); }

// ---- writing the result -------------------------------------------------

void print_nld() {
  write_module(top);
  WrittenList written;
  written.add(top->name);

  if (h_or_f != 3) {
    // Hierarchical: rewritten copies are written, read-only modules copied.
    for (Module* m : list_of(top->next)) {
      if (m->kind == KIND_WRITABLE) {
        if (m->inst && m->inst->used) write_module(m);
      } else if (m->kind == KIND_READONLY) {
        if (!write_or_not(m->name, written)) {
          copy_file2(m->name, KIND_READONLY);
          written.add(m->name);
        }
      }
    }
    stage_commit();
    return;
  }

  // Flat: the top module holds the design; cells and read-only modules of
  // used instances are copied.
  for (Module* m : list_of(top->next)) {
    if (!m->inst || !m->inst->used || m->kind == KIND_WRITABLE) continue;
    const char* cn = m->inst->class_name;
    if (!cn || write_or_not(cn, written)) continue;
    copy_file2(cn, m->kind);
    written.add(cn);
  }
  stage_commit();
}

void print_nld2(FILE* f, Module* m) {
  Out out(f);
  // header and ports
  out << "(def-module\t" << m->name << '\n';
  bool is_top = m == top;
  for (Pin* p : pins_of(m)) {
    if (!is_top && !p->used) continue;
    out << "\t(def-pin\t" << p->name << "\ttype " << inv_screen(p->dir, TABLE_KEYWORD);
    if (p->note) out << "\tnote\t" << inv_screen(p->note, TABLE_KEYWORD);
    out << ")\n";
  }

  // components
  out << '\n';
  for (ClassGroup* g : list_of(m->groups)) comp_print(out, g);
  out << '\n';

  // nets
  for (Net* net : nets_of(m)) {
    out << "\t(def-net";
    for (Node* n : nodes_of(net)) {
      out << '\t';
      if (n->target && n->target->cls != C_PIN) out << n->target->name << '.';
      out << n->pin_name;
    }
    out << ")\n";
  }
  out << ")\n";
}

void comp_print(FILE* f, ClassGroup* g) {
  Out out(f);
  comp_print(out, g);
}

namespace {

void comp_print(Out& out, ClassGroup* g) {
  if (!g || !g->first) return;
  int cls = g->first->cls;

  if (cls >= C_AND && cls <= C_OAI) {
    // In order over the width tree, without recursion.
    const char* stem = inv_screen(cls, TABLE_PCD);
    std::vector<ClassGroup*> stack;
    ClassGroup* at = g;
    while (at || !stack.empty()) {
      for (; at; at = at->left) stack.push_back(at);
      at = stack.back();
      stack.pop_back();
      for (Instance* i = at->first; i; i = i->next)
        out << "\t(def-comp\t" << stem << '-' << int{i->width} << '\t' << i->name << ")\n";
      at = at->right;
    }
    return;
  }

  const char* cname;
  if (cls == C_MODULE) cname = g->first->module ? g->first->module->name : g->first->class_name;
  else cname = inv_screen(cls, TABLE_PCD);
  for (Instance* i = g->first; i; i = i->next)
    out << "\t(def-comp\t" << cname << '\t' << i->name << ")\n";
}

}  // namespace

// ---- copying ------------------------------------------------------------

void copy_file() {
  Source s;
  if (!open_in(opt_dir, top->name, "nld", s)) source_missing(top->name, "nld");
  copy_to(s, f_name(top->name, write_dir->str, "nld"));

  WrittenList written;
  written.add(top->name);
  for (Module* m : list_of(top->next)) {
    if (m->kind == KIND_PCD || write_or_not(m->name, written)) continue;
    copy_file2(m->name, m->kind);
    written.add(m->name);
  }
  stage_commit();
}

char* copy_file2(const char* name, int kind) {
  const char* ext = kind == KIND_PCD ? "pcd" : "nld";
  Source s;
  if (!open_in(opt_dir, name, ext, s) && !open_in(read_dir, name, ext, s))
    source_missing(name, ext);
  char* target = f_name(name, write_dir->str, ext);
  copy_to(s, target);
  return target;
}

}  // namespace vorq
