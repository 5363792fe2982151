#include "support/support.h"

#include <sys/mman.h>
#include <sys/resource.h>

#include <cstdarg>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace vorq {

// ---- banner -------------------------------------------------------------

namespace {

#if defined(__x86_64__)
constexpr const char* kCpu = "x86_64";
#elif defined(__aarch64__)
constexpr const char* kCpu = "aarch64";
#elif defined(__i386__)
constexpr const char* kCpu = "i386";
#elif defined(__arm__)
constexpr const char* kCpu = "arm";
#elif defined(__riscv)
constexpr const char* kCpu = "riscv";
#elif defined(__powerpc64__)
constexpr const char* kCpu = "ppc64";
#else
constexpr const char* kCpu = "unknown";
#endif

#if defined(__linux__)
constexpr const char* kOs = "Linux";
#elif defined(__APPLE__)
constexpr const char* kOs = "Darwin";
#elif defined(__FreeBSD__)
constexpr const char* kOs = "FreeBSD";
#else
constexpr const char* kOs = "Unix";
#endif

constexpr const char* kBorder = "+-------------------------------------------------------------+";
constexpr const char* kSystemLine = "This program is a part of the KELDRAMOS system.";
constexpr const char* kNoticeLine = "Distributed with the KELDRAMOS logic design tools.";

}  // namespace

const char* platform_tag() {
  static char tag[64];
  if (!tag[0]) std::snprintf(tag, sizeof tag, "(%s-%s)", kCpu, kOs);
  return tag;
}

void keldramos_banner(FILE* stream, const char* name, const char* version, const char* date) {
  if (!stream) return;
  if (!name) name = "(anonymous)";
  if (!version) version = "2.4.1";
  if (!date) date = "2001/12/03";
  const char* tag = platform_tag();
  int field = 59 - static_cast<int>(std::strlen(version) + std::strlen(date) + std::strlen(tag) + 3);
  std::fprintf(stream, "\n%s\n| %*s %s %s %s |\n| %*s |\n| %*s |\n%s\n\n", kBorder, -field, name,
               version, date, tag, 59, kSystemLine, 59, kNoticeLine, kBorder);
}

// ---- allocation ---------------------------------------------------------

void* keldramos_malloc(size_t size) { return size == 0 ? nullptr : std::malloc(size); }

void* keldramos_calloc(size_t count, size_t size) {
  if (count == 0 || size == 0) return nullptr;
  return std::calloc(count, size);
}

char* keldramos_strdup(const char* s) {
  if (!s) return nullptr;
  size_t n = std::strlen(s) + 1;
  char* d = static_cast<char*>(std::malloc(n));
  if (d) std::memcpy(d, s, n);
  return d;
}

void keldramos_free(void* p) {
  if (p) std::free(p);
}

void* keldramos_ptr16B_malloc(size_t size) {
  void* p = nullptr;
  if (posix_memalign(&p, 16, size ? size : 1) != 0) return nullptr;
  return p;
}

void keldramos_ptr16B_free(void* p) {
  if (p) keldramos_free(p);
}

size_t keldramos_ptr16B_gross_size_of(size_t size) { return size + 16; }

void* keldramos_ptr16B_real_to_aligned(void* p) {
  uintptr_t real = reinterpret_cast<uintptr_t>(p);
  uintptr_t aligned = (real & ~uintptr_t{15}) + 16;
  reinterpret_cast<unsigned char*>(aligned)[-1] = static_cast<unsigned char>(real % 16);
  return reinterpret_cast<void*>(aligned);
}

void* keldramos_ptr16B_aligned_to_real(void* a) {
  uintptr_t aligned = reinterpret_cast<uintptr_t>(a);
  uintptr_t low = reinterpret_cast<unsigned char*>(aligned)[-1];
  return reinterpret_cast<void*>((aligned - 16) + low);
}

[[noreturn]] void memory_full() {
  say("memory full\n");
  quit(1);
}

void* malloc_f(size_t size) {
  void* p = keldramos_malloc(size);
  if (!p) memory_full();
  return p;
}

// ---- arena --------------------------------------------------------------

namespace {

struct Arena {
  // Large blocks on huge-page boundaries: a big design touches far fewer
  // pages than with small blocks.
  static constexpr size_t kBlock = size_t{8} << 20;
  static constexpr size_t kPage = size_t{2} << 20;
  char* cur = nullptr;
  size_t left = 0;
  std::vector<void*> blocks;  // kept reachable for the leak checker
};

Arena& the_arena() {
  static Arena* a = new Arena();
  return *a;
}

}  // namespace

void* arena_alloc(size_t size, size_t align) {
  Arena& a = the_arena();
  uintptr_t p = reinterpret_cast<uintptr_t>(a.cur);
  size_t pad = (align - (p % align)) % align;
  if (!a.cur || pad + size > a.left) {
    if (size + align > Arena::kBlock / 4) {
      // A large request gets a block of its own.
      void* big = malloc_f(size + align);
      a.blocks.push_back(big);
      uintptr_t q = reinterpret_cast<uintptr_t>(big);
      return reinterpret_cast<void*>(q + (align - (q % align)) % align);
    }
    void* block = nullptr;
    if (posix_memalign(&block, Arena::kPage, Arena::kBlock) != 0 || !block) memory_full();
#ifdef MADV_HUGEPAGE
    madvise(block, Arena::kBlock, MADV_HUGEPAGE);
#endif
    a.cur = static_cast<char*>(block);
    a.blocks.push_back(a.cur);
    a.left = Arena::kBlock;
    p = reinterpret_cast<uintptr_t>(a.cur);
    pad = (align - (p % align)) % align;
  }
  void* r = a.cur + pad;
  a.cur += pad + size;
  a.left -= pad + size;
  return r;
}

void arena_release() {
  Arena& a = the_arena();
  for (void* b : a.blocks) std::free(b);
  a.blocks.clear();
  a.cur = nullptr;
  a.left = 0;
}

char* arena_strndup(const char* s, size_t n) {
  char* d = static_cast<char*>(arena_alloc(n + 1, 1));
  std::memcpy(d, s, n);
  d[n] = 0;
  return d;
}

char* arena_strdup(const char* s) {
  if (!s) return nullptr;
  return arena_strndup(s, std::strlen(s));
}

// ---- messages -----------------------------------------------------------

void say(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  std::vfprintf(stderr, fmt, ap);
  va_end(ap);
}

int quit_status_override = -1;
void (*quit_cleanup)() = nullptr;
void (*quit_hook)(int status) = nullptr;

[[noreturn]] void quit(int status) {
  if (quit_status_override >= 0) status = quit_status_override;
  if (quit_cleanup) quit_cleanup();
  std::fflush(stderr);
  std::fflush(stdout);
  if (quit_hook) quit_hook(status);
  std::exit(status);
}

// ---- stage timer ------------------------------------------------------------

namespace {

struct StageTimes {
  const char* names[8] = {};
  double secs[8] = {};
  int count = 0;
  double last = 0;
};

bool timing() {
  static const int on = [] {
    const char* v = std::getenv("VORQ_TIMES");
    return v && std::strcmp(v, "1") == 0;
  }();
  return on;
}

double cpu_seconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

StageTimes& stage_times() {
  static StageTimes t;
  return t;
}

}  // namespace

void stage_done(const char* name) {
  if (!timing()) return;
  StageTimes& t = stage_times();
  double now = cpu_seconds();
  int i = 0;
  while (i < t.count && std::strcmp(t.names[i], name) != 0) ++i;
  if (i == t.count) {
    if (t.count == 8) return;
    t.names[t.count++] = name;
  }
  t.secs[i] += now - t.last;
  t.last = now;
}

void stage_report() {
  if (!timing()) return;
  StageTimes& t = stage_times();
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  std::fprintf(stderr, "vorq times (CPU seconds):");
  for (int i = 0; i < t.count; ++i) std::fprintf(stderr, " %s %.3f", t.names[i], t.secs[i]);
  std::fprintf(stderr, ", total %.3f; peak memory %ld KB\n", cpu_seconds(), long(u.ru_maxrss));
}

}  // namespace vorq
