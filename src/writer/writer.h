// Output: the NLD writer for the rebuilt design, and the copying of class files
// into the write directory (also the fall-back copy of an unchanged design).
// Every file produced is announced with "\tWrote %s\n"; a file that cannot be
// created ends the process with "Could not open %s\n" and status 1, one that
// cannot be written, copied or renamed into place with "Could not write %s:
// <reason>\n" or "Could not read %s: <reason>\n", and a class file to copy
// that was not read with "Could not find \"%s.%s\" to copy\n". Files are
// staged (see stage_open) so that after status 1 nothing new is left.
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

// ---- staged output ------------------------------------------------------
// Each output goes to a temporary file in the write directory; print_nld and
// copy_file rename all of them into place at their end (stage_commit) and
// only then announce them. Any failure removes the temporary files
// (quit_cleanup), and so does a fatal signal once guard_outputs_on_signals
// has run.

// Installs the handlers that remove the temporary files on a fatal signal.
void guard_outputs_on_signals();

// Ends the run with "Could not open WRITE_DIR/name.nld" unless the write
// directory exists, is a directory and takes a new file.
void check_write_dir(const char* name);

// A new temporary file for `target`; "Could not open" and status 1 when it
// cannot be made or the target is a directory.
FILE* stage_open(const char* target);

// Flushes, syncs and closes a stream from stage_open; any error so far ends
// the run with "Could not write".
void stage_close(FILE* f);

// Ends the run with "Could not write" for the staged stream `f`.
[[noreturn]] void output_failed(FILE* f, int err);

// An output whose source is its target: announced at commit, not written.
void stage_same(const char* target);

// Renames every staged file over its target, in order, then prints
// "\tWrote %s\n" for each.
void stage_commit();

// Removes every staged file (a harness that ends a run early).
void stage_discard();

}  // namespace vorq
