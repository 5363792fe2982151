// Support library: the start-up banner, the checked allocator, the arena that
// owns every record of a run, and the one door through which messages reach
// standard error.
#pragma once

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <new>

namespace vorq {

// ---- banner -------------------------------------------------------------

// The processor and operating system the tool was built for, in parentheses,
// for example "(x86_64-Linux)".
const char* platform_tag();

// Prints the banner on `stream` (nothing when it is null). Null arguments take
// the defaults "(anonymous)", "2.4.1", "2001/12/03".
void keldramos_banner(FILE* stream, const char* name, const char* version, const char* date);

// ---- allocation ---------------------------------------------------------

void* keldramos_malloc(size_t size);             // null for size 0
void* keldramos_calloc(size_t count, size_t size);  // null when count*size is 0
char* keldramos_strdup(const char* s);           // null for null
void keldramos_free(void* p);                    // nothing for null
void* keldramos_ptr16B_malloc(size_t size);
void keldramos_ptr16B_free(void* p);
size_t keldramos_ptr16B_gross_size_of(size_t size);
void* keldramos_ptr16B_real_to_aligned(void* p);
void* keldramos_ptr16B_aligned_to_real(void* a);

// keldramos_malloc, or "memory full" and exit status 1; never null.
void* malloc_f(size_t size);

// Prints "memory full\n" and ends the process with status 1.
[[noreturn]] void memory_full();

// ---- arena --------------------------------------------------------------
// Every record of a run lives here until the process ends; nothing is freed.

void* arena_alloc(size_t size, size_t align);

// Frees every block of the arena: every record made so far is gone. For a
// program that runs the tool many times in one process.
void arena_release();

// A new record of type T with every field zero.
template <class T>
T* make() {
  void* p = arena_alloc(sizeof(T), alignof(T));
  std::memset(p, 0, sizeof(T));
  return new (p) T();
}

// Copies of strings owned by the arena.
char* arena_strdup(const char* s);
char* arena_strndup(const char* s, size_t n);

// ---- messages -----------------------------------------------------------
// Everything the tool prints goes to standard error through these.

void say(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// Ends the process with `status` (input errors use 1). A program that reuses
// the reader for another purpose may map every such end to one status of its
// own by setting quit_status_override (>= 0).
[[noreturn]] void quit(int status);
extern int quit_status_override;

// Called first by quit (the writer removes its unfinished output files).
extern void (*quit_cleanup)();

// When set, quit calls it last instead of ending the process; it must not
// return (a harness that runs the tool in-process throws from it).
extern void (*quit_hook)(int status);

}  // namespace vorq

namespace vorq {

// ---- stage timer ----------------------------------------------------------
// Only when the environment holds VORQ_TIMES=1: stage_done charges the CPU
// time (user + system) since the previous call, or since the start, to the
// stage `name`; stage_report prints every stage in the order of first charge
// and the peak memory on one line of standard error. Otherwise both do nothing.

void stage_done(const char* name);
void stage_report();

}  // namespace vorq
