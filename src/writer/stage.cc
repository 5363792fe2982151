// Staged output: every file of a run is first written to a temporary file in
// the write directory and renamed over its target only after every output of
// the run is complete. An input file in the write directory is therefore
// replaced whole or not at all, and a failure, a signal or a crash leaves no
// partial file behind.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <vector>

#include "netlist/load/load.h"
#include "writer/writer.h"

namespace vorq {

namespace {

// One output: its temporary file (null when the target is announced only,
// because the source is the target itself) and its target.
struct Staged {
  char* temp;
  const char* target;
  FILE* file;
  volatile sig_atomic_t live;  // the temporary file exists
  Staged* next;                // list for the signal handler
};

// The handler walks `chain` (newest first); the run walks `order`. Records
// come from the heap, not the arena, so that they outlive arena_release.
std::atomic<Staged*> chain{nullptr};

std::vector<Staged*>& order() {
  static auto* v = new std::vector<Staged*>();
  return *v;
}

Staged* open_now = nullptr;

constexpr int kFatalSignals[] = {SIGHUP, SIGINT,  SIGQUIT, SIGTERM, SIGPIPE, SIGXFSZ,
                                 SIGSEGV, SIGBUS, SIGFPE,  SIGILL,  SIGABRT};

void remove_temporaries() {
  for (Staged* s = chain.load(); s; s = s->next)
    if (s->live && s->temp) {
      s->live = 0;
      ::unlink(s->temp);
    }
}

// Removes the temporary files, then lets the signal take its default course
// (the handler is reset on entry and the signal not blocked).
extern "C" void on_fatal_signal(int sig) {
  int saved = errno;
  remove_temporaries();
  errno = saved;
  ::raise(sig);
}

[[noreturn]] void fail(const char* what, const char* path, int err) {
  say("Could not %s %s: %s\n", what, path, std::strerror(err));
  quit(1);
}

const int kAsyncSignals[] = {SIGHUP, SIGINT, SIGQUIT, SIGTERM};

// Frees every record; the signals the handler could run for wait meanwhile.
void reclaim() {
  sigset_t block, old;
  sigemptyset(&block);
  for (int sig : kAsyncSignals) sigaddset(&block, sig);
  sigprocmask(SIG_BLOCK, &block, &old);
  chain.store(nullptr);
  for (Staged* s : order()) {
    delete[] s->temp;
    delete s;
  }
  order().clear();
  sigprocmask(SIG_SETMASK, &old, nullptr);
}

void drop_all() {
  if (open_now && open_now->file) {
    std::fclose(open_now->file);
    open_now->file = nullptr;
  }
  open_now = nullptr;
  remove_temporaries();
  reclaim();
}

Staged* add(char* temp, const char* target) {
  Staged* s = new Staged{temp, arena_strdup(target), nullptr, temp ? 1 : 0, chain.load()};
  chain.store(s);
  order().push_back(s);
  quit_cleanup = drop_all;
  return s;
}

}  // namespace

void guard_outputs_on_signals() {
  struct sigaction sa;
  std::memset(&sa, 0, sizeof sa);
  sa.sa_handler = on_fatal_signal;
  sa.sa_flags = SA_RESETHAND | SA_NODEFER;
  sigemptyset(&sa.sa_mask);
  // A signal ignored by the caller stays ignored, and one with a handler
  // already (a sanitizer's crash report) keeps it.
  for (int sig : kFatalSignals) {
    struct sigaction old;
    if (sigaction(sig, nullptr, &old) != 0 || (old.sa_flags & SA_SIGINFO) ||
        old.sa_handler != SIG_DFL)
      continue;
    sigaction(sig, &sa, nullptr);
  }
}

void check_write_dir(const char* name) {
  const char* dir = write_dir->str;
  struct stat st;
  bool ok = ::stat(dir, &st) == 0 && S_ISDIR(st.st_mode);
  if (ok) {
    // Only creating a file tells for sure (read-only mounts, access lists).
    std::vector<char> probe(std::strlen(dir) + 16);
    std::snprintf(probe.data(), probe.size(), "%s/.vorq-XXXXXX", dir);
    int fd = ::mkstemp(probe.data());
    ok = fd >= 0;
    if (ok) {
      ::close(fd);
      ::unlink(probe.data());
    }
  }
  if (!ok) {
    print_could_not_open(f_name(name, dir, "nld"));
    quit(1);
  }
}

FILE* stage_open(const char* target) {
  struct stat st;
  bool exists = ::stat(target, &st) == 0;
  if (exists && S_ISDIR(st.st_mode)) {
    print_could_not_open(target);
    quit(1);
  }
  const char* dir = write_dir->str;
  size_t n = std::strlen(dir) + 16;
  char* temp = new char[n];
  std::snprintf(temp, n, "%s/.vorq-XXXXXX", dir);
  // The handler must know the name before the file exists.
  Staged* s = add(temp, target);
  int fd = ::mkstemp(temp);
  if (fd < 0) {
    s->live = 0;
    print_could_not_open(target);
    quit(1);
  }
  // The mode an ordinary create would give, or the target's own.
  mode_t mask = ::umask(0);
  ::umask(mask);
  ::fchmod(fd, exists ? (st.st_mode & 07777) : (0666 & ~mask));
  s->file = fdopen(fd, "wb");
  if (!s->file) {
    int err = errno;
    ::close(fd);
    fail("write", target, err);
  }
  open_now = s;
  return s->file;
}

void stage_close(FILE* f) {
  Staged* s = open_now;
  if (!s || s->file != f) return;
  int err = 0;
  if (std::fflush(f) != 0 || std::ferror(f)) err = errno ? errno : EIO;
  if (!err && ::fsync(fileno(f)) != 0) err = errno;
  s->file = nullptr;
  open_now = nullptr;
  if (std::fclose(f) != 0 && !err) err = errno;
  if (err) fail("write", s->target, err);
}

[[noreturn]] void output_failed(FILE* f, int err) {
  const char* target = open_now && open_now->file == f ? open_now->target : "output";
  fail("write", target, err ? err : EIO);
}

void stage_same(const char* target) { add(nullptr, target); }

void stage_commit() {
  // Signals that can be blocked wait until every file is in place.
  sigset_t block, old;
  sigemptyset(&block);
  for (int sig : kAsyncSignals) sigaddset(&block, sig);
  sigprocmask(SIG_BLOCK, &block, &old);
  for (Staged* s : order()) {
    if (s->temp && ::rename(s->temp, s->target) != 0) fail("write", s->target, errno);
    s->live = 0;
  }
  // Make the renames themselves durable.
  int dfd = ::open(write_dir->str, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    ::fsync(dfd);
    ::close(dfd);
  }
  for (Staged* s : order()) print_wrote(s->target);
  reclaim();
  sigprocmask(SIG_SETMASK, &old, nullptr);
}

void stage_discard() { drop_all(); }

}  // namespace vorq
