#include <cstring>

#include "netlist/netlist.h"

namespace vorq {

namespace {

struct Row {
  const char* name;
  int code;
};

// Both tables are sorted by name in byte order: screen() searches them by
// bisection.
constexpr Row kKeyword[] = {
    {"area", 277},          {"bidirect", 257},         {"bidirect_connected", 258},
    {"cell_name", 278},     {"clock", 259},            {"def-comp", 260},
    {"def-module", 261},    {"def-net", 262},          {"def-pin", 263},
    {"gates", 279},         {"global", 264},           {"input", 265},
    {"input-connected", 266}, {"load", 281},           {"note", 267},
    {"output", 268},        {"output-connected", 269}, {"power", 280},
    {"scan_enb", 282},      {"scan_in", 283},          {"scan_out", 284},
    {"static", 270},        {"tristate", 271},         {"tristate_connected", 272},
    {"type", 273},          {"undefined", 274},        {"unused", 275},
    {"unused-connected", 276},
};

constexpr Row kPcd[] = {
    {"and-", 402},     {"aoi-", 408},    {"bgate--2", 423}, {"enor-", 407},
    {"eor-", 406},     {"high-", 420},   {"inv-", 400},     {"low-", 421},
    {"nand-", 403},    {"ninv-", 401},   {"nor-", 405},     {"oai-", 409},
    {"or-", 404},      {"reg---1", 414}, {"reg--1", 413},   {"reg-1", 410},
    {"regr-1", 411},   {"regs-1", 412},  {"sreg---1", 419}, {"sreg--1", 418},
    {"sreg-1", 415},   {"srgr-1", 416},  {"srgs-1", 417},   {"ts_buf-", 422},
};

template <size_t N>
int bisect(const Row (&rows)[N], const char* word) {
  size_t lo = 0, hi = N;
  while (lo < hi) {
    size_t mid = (lo + hi) / 2;
    int c = std::strcmp(word, rows[mid].name);
    if (c == 0) return rows[mid].code;
    if (c < 0) hi = mid;
    else lo = mid + 1;
  }
  return C_MODULE;
}

template <size_t N>
const char* scan(const Row (&rows)[N], int code) {
  for (const Row& r : rows)
    if (r.code == code) return r.name;
  return nullptr;
}

}  // namespace

int screen(const char* word, int table) {
  return table == TABLE_KEYWORD ? bisect(kKeyword, word) : bisect(kPcd, word);
}

const char* inv_screen(int code, int table) {
  return table == TABLE_KEYWORD ? scan(kKeyword, code) : scan(kPcd, code);
}

Instance* instance_f(const char* name, Module* m) {
  for (Instance* i : insts_of(m))
    if (i->name && std::strcmp(i->name, name) == 0) return i;
  return nullptr;
}

Pin* pin_f(const char* name, Module* m) {
  for (Pin* p : pins_of(m))
    if (p->name && std::strcmp(p->name, name) == 0) return p;
  return nullptr;
}

void strlist_append(StrList** head, const char* s) {
  StrList* cell = make<StrList>();
  cell->str = arena_strdup(s);
  while (*head) head = &(*head)->next;
  *head = cell;
}

}  // namespace vorq
