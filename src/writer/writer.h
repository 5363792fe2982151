// Output: the NLD writer for the rebuilt design, and the copying of class files
// into the write directory (also the fall-back copy of an unchanged design).
// Every file produced is announced with "\tWrote %s\n"; a file that cannot be
// created ends the process with "Could not open %s\n" and status 1.
#pragma once

#include <cstdio>
#include <string_view>
#include <unordered_set>

#include "netlist/netlist.h"

namespace vorq {

// The class names already produced by one call of print_nld or copy_file: a
// StrList appended at its tail, with a hash set for the membership test.
struct WrittenList {
  StrList* head = nullptr;
  StrList* tail = nullptr;
  std::unordered_set<std::string_view> names;

  void add(const char* name);
};

// 1 when `name` is in the list, else 0.
int write_or_not(const char* name, const WrittenList& written);

void print_wrote(const char* path);
void print_could_not_open(const char* path);

// Expects hierarchy reconstruction finished (groups built, names given, `used`
// set). Writes the top module and every used rewritten module copy, and copies
// the read-only NLD files (hierarchical mode) or the cell and read-only files
// of used instances (flat mode) into the write directory.
void print_nld();

// Writes module `m` in NLD form to `out`, walking its ClassGroups.
void print_nld2(FILE* out, Module* m);

// Writes the def-comp lines of group `g` (null: nothing): width trees in
// ascending width, each width in chain order.
void comp_print(FILE* out, ClassGroup* g);

// The fall-back: copies the top module's NLD file and every other NLD class
// file of the loaded design, unchanged, into the write directory.
void copy_file();

// Copies the class file of `name` (PCD for kind 301, NLD otherwise) from the
// first directory of opt_dir, then read_dir, that holds it; returns the
// target path. A source that is the target itself (same directory string, or
// the same file under another spelling) is not copied.
char* copy_file2(const char* name, int kind);

}  // namespace vorq
