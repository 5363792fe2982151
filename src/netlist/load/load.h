// The module loader: finds each module's file in the directories of the
// command line, parses it, links every module's connections into rings, and
// gives every user-module instance a Module of its own.
#pragma once

#include <cstdio>

#include "netlist/netlist.h"

namespace vorq {

// Loads the design below `top_name` from opt_dir (and, for classes, read_dir):
// `top` is the top module, then one Module per user-module instance in
// breadth-first order. Input errors end the process with status 1.
void read_module(const char* top_name);

// Finds and parses the file of class `class_name` (name.pcd in opt_dir, then
// in read_dir, then name.nld in opt_dir, then in read_dir) and sets its kind.
Module* read_module2(const char* class_name);

// Opens `path` for reading when it is a regular file, without ever waiting on
// a FIFO or a device; null otherwise (a directory too).
FILE* open_regular(const char* path);

// Whether this run's read_module parsed the file at `path` (the path as the
// loader built it).
bool was_read(const char* path);

// The path "dir/name.ext" as a new string.
char* f_name(const char* name, const char* dir, const char* ext);

// 1 if loading the instance's class would not recurse into one of the
// modules enclosing the instance, else 0.
int loop_check(Instance* inst);

// The first Module of `top` named like the instance's class, or null.
Module* original(Instance* inst);

// A deep copy of a loaded module, every list in the same order; the copy's
// parent, next and rings are left for the caller.
Module* copy_module(Module* m);

// Builds the Node rings of the module's instances and checks how often each
// cell is connected (the message names file_name). Expects every Node's
// target to be a port or one of the module's `insts`, as after parsing or
// copying.
void find_link(Module* m);

// Rings and the connection check for the instance of one Node; Nodes already
// joined to a ring and port Nodes are left alone. find_link does the same for
// a whole module in one pass.
void find_link2(Node* node);

}  // namespace vorq
