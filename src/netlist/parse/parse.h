// Reading NLD and PCD files: the lexer, the parser of one file into one
// Module, and the class-name and pin-name lookups of the cell classes.
//
// Every input error prints its message (or none) and ends the process with
// status 1 through quit(). Messages name `file_name` and `lineno`.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "netlist/netlist.h"

namespace vorq {

// ---- name tables ----------------------------------------------------------

namespace detail {

// Zeroed memory for a large table (huge pages where the system offers them);
// table_free takes the same size back.
void* table_alloc(size_t bytes);
void table_free(void* p, size_t bytes);

// Open-addressing index from a record's `name` (which must not change while
// indexed) to the record. put() overwrites, add() keeps the first entry.
template <class R>
class NameTable {
 public:
  explicit NameTable(size_t expected = 0) { grow(expected); }
  ~NameTable() { table_free(slots_, (mask_ + 1) * sizeof(Slot)); }
  NameTable(const NameTable&) = delete;
  NameTable& operator=(const NameTable&) = delete;

  R* find(const char* key) const { return find(key, std::strlen(key)); }
  R* find(const char* key, size_t len) const { return find(key, len, hash(key, len)); }
  // A lookup in two steps, so that the slot can be on its way meanwhile.
  static uint64_t hash(const char* s, size_t len) {
    uint64_t h = 1469598103934665603ull;
    for (size_t i = 0; i < len; ++i) h = (h ^ static_cast<unsigned char>(s[i])) * 1099511628211ull;
    return h ^ (h >> 29);
  }
  void prefetch(uint64_t h) const { __builtin_prefetch(&slots_[h & mask_]); }
  R* find(const char* key, size_t len, uint64_t h) const {
    for (size_t i = h & mask_;; i = (i + 1) & mask_) {
      const Slot& s = slots_[i];
      if (!s.rec) return nullptr;
      if (s.hash == h && std::memcmp(s.rec->name, key, len + 1) == 0) return s.rec;
    }
  }
  void put(R* rec) { insert(rec, true); }
  void add(R* rec) { insert(rec, false); }
  // Makes room for `n` entries in all.
  void reserve(size_t n) { grow(n); }

 private:
  struct Slot {
    R* rec;
    uint64_t hash;
  };

  // at most 7 entries in 10 slots
  static size_t capacity_for(size_t n) {
    size_t cap = 16;
    while (cap * 7 < n * 10) cap *= 2;
    return cap;
  }

  void insert(R* rec, bool overwrite) {
    if ((count_ + 1) * 10 > (mask_ + 1) * 7) grow(count_ + 1);
    size_t len = std::strlen(rec->name);
    uint64_t h = hash(rec->name, len);
    for (size_t i = h & mask_;; i = (i + 1) & mask_) {
      Slot& s = slots_[i];
      if (!s.rec) {
        s = Slot{rec, h};
        ++count_;
        return;
      }
      if (s.hash == h && std::memcmp(s.rec->name, rec->name, len + 1) == 0) {
        if (overwrite) s.rec = rec;
        return;
      }
    }
  }

  void grow(size_t need) {
    size_t cap = capacity_for(need);
    if (slots_ && cap <= mask_ + 1) return;
    Slot* old = slots_;
    size_t old_cap = slots_ ? mask_ + 1 : 0;
    slots_ = static_cast<Slot*>(table_alloc(cap * sizeof(Slot)));
    mask_ = cap - 1;
    for (size_t j = 0; j < old_cap; ++j)
      if (old[j].rec)
        for (size_t i = old[j].hash & mask_;; i = (i + 1) & mask_)
          if (!slots_[i].rec) {
            slots_[i] = old[j];
            break;
          }
    table_free(old, old_cap * sizeof(Slot));
  }

  Slot* slots_ = nullptr;
  size_t mask_ = 0;
  size_t count_ = 0;
};

}  // namespace detail

// ---- reader ---------------------------------------------------------------

// A buffered byte stream over a FILE* with one byte of push-back, and the
// name indexes of the module being read (the latest declaration of a name
// wins, as a lookup from the head of a freshly parsed list would find).
class Reader {
 public:
  explicit Reader(FILE* f);
  ~Reader();
  Reader(const Reader&) = delete;
  Reader& operator=(const Reader&) = delete;

  // Next byte (0-255), or -1 at end of file (and after a read error).
  int get() { return pos_ < len_ ? data_[pos_++] : refill(); }
  // Pushes back the byte that get() returned last; never after -1.
  void unget() { --pos_; }
  // The bytes already buffered and not yet taken, [cur(), end()).
  const unsigned char* cur() const { return data_ + pos_; }
  const unsigned char* end() const { return data_ + len_; }
  void take(size_t n) { pos_ += n; }

  detail::NameTable<Pin> pins;
  detail::NameTable<Instance> insts;
  // Length of the word in buf.
  size_t word_len = 0;
  // Size of the file in bytes when known, else 0.
  size_t file_size() const;

 private:
  int refill();

  FILE* f_;
  unsigned char* data_;
  size_t pos_ = 0;
  size_t len_ = 0;
  bool eof_ = false;
};

// ---- lexer ----------------------------------------------------------------

enum : int {
  T_EOF = -1,
  T_OPEN = 40,   // (
  T_CLOSE = 41,  // )
  T_DOT = 46,    // .
  T_WORD = 350,  // text in buf
};

// Next token: T_OPEN, T_CLOSE, T_DOT, T_WORD (text in buf) or T_EOF.
int nld_lex(Reader& in);
// Reads the rest of a word whose first byte is `first` into buf.
void nld_lex2(Reader& in, int first);
// Skips to the end of the line (the newline counts a line).
void comment(Reader& in);

// ---- parser ---------------------------------------------------------------

// One NLD (PCD) file into a new Module with its pins, instances and nets
// pushed at the head of their lists. The caller sets file_name first.
Module* nld_par(FILE* f);
Module* pcd_par(FILE* f);
Module* nld_par(Reader& in);
Module* pcd_par(Reader& in);

// The opening "(def-module NAME": a new Module of that name.
Module* def_module(Reader& in);
// One form each, entered after its keyword; each consumes the closing ')'
// and lowers paren_depth by one. `mode` is MODE_NLD or MODE_PCD.
void def_pin(Reader& in, Module* m, int mode);
void def_comp(Reader& in, Module* m);
void def_net(Reader& in, Module* m);
// Skips the rest of the current form, nested forms included.
void paren_count(Reader& in);
// Skips one number (12, 0.5, .5) and returns the token after it.
int read_digit(Reader& in);
// The keyword after `type` or `note`, as its code.
int pin_type_note(Reader& in);

// Cell class code of a class word (table TABLE_PCD), C_MODULE for a user
// module; sets class_number. A bad number ends the run (status 1).
int class_f(const char* word, int table);
// Direction of pin `pin` of a cell of class `cls`; a pin the class does not
// have ends the run (status 1).
int pin_type_f(const char* pin, int cls);

}  // namespace vorq
