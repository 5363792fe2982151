// Tokens of the NLD/PCD language and the buffered stream they come from.
#include <sys/mman.h>
#include <sys/stat.h>

#include <cstdlib>

#include "netlist/parse/parse.h"

namespace vorq {

namespace {

constexpr size_t kChunk = size_t{1} << 16;

// Byte kinds: a word byte, a blank (ends a word, consumed), a newline (the
// same, and counts a line), a delimiter (ends a word, stays in the stream).
enum : unsigned char { B_WORD, B_BLANK, B_NEWLINE, B_DELIM };

struct ByteKinds {
  unsigned char kind[256];
  constexpr ByteKinds() : kind() {
    for (int i = 0; i < 256; ++i) kind[i] = B_WORD;
    kind[' '] = kind['\t'] = B_BLANK;
    kind['\n'] = B_NEWLINE;
    kind['('] = kind[')'] = kind['.'] = kind[';'] = B_DELIM;
  }
};
constexpr ByteKinds kKinds;

const char* shown_file() { return file_name ? file_name : ""; }

}  // namespace

// ---- tables ---------------------------------------------------------------

namespace detail {

namespace {
constexpr size_t kHugePage = size_t{2} << 20;
}

void* table_alloc(size_t bytes) {
  if (bytes < kHugePage) {
    void* p = keldramos_calloc(1, bytes);
    if (!p) memory_full();
    return p;
  }
  size_t size = (bytes + kHugePage - 1) / kHugePage * kHugePage;
  void* p = nullptr;
  if (posix_memalign(&p, kHugePage, size) != 0) memory_full();
#ifdef MADV_HUGEPAGE
  madvise(p, size, MADV_HUGEPAGE);
#endif
  std::memset(p, 0, bytes);
  return p;
}

void table_free(void* p, size_t) { keldramos_free(p); }

}  // namespace detail

// ---- reader ---------------------------------------------------------------

Reader::Reader(FILE* f) : f_(f), data_(static_cast<unsigned char*>(malloc_f(kChunk))) {}

Reader::~Reader() { keldramos_free(data_); }

size_t Reader::file_size() const {
  struct stat st;
  if (!f_ || fstat(fileno(f_), &st) != 0 || !S_ISREG(st.st_mode)) return 0;
  return static_cast<size_t>(st.st_size);
}

int Reader::refill() {
  if (eof_ || !f_) return -1;
  len_ = std::fread(data_, 1, kChunk, f_);
  pos_ = 0;
  if (len_ == 0) {
    eof_ = true;
    return -1;
  }
  return data_[pos_++];
}

// ---- lexer ----------------------------------------------------------------

void comment(Reader& in) {
  for (;;) {
    const unsigned char* p = in.cur();
    const void* nl = std::memchr(p, '\n', static_cast<size_t>(in.end() - p));
    if (nl) {
      in.take(static_cast<size_t>(static_cast<const unsigned char*>(nl) - p) + 1);
      ++lineno;
      return;
    }
    in.take(static_cast<size_t>(in.end() - p));
    if (in.get() < 0) return;
    in.unget();
  }
}

void nld_lex2(Reader& in, int first) {
  size_t n = 0;
  buf[n++] = static_cast<char>(first);
  for (;;) {
    // the word bytes already buffered
    const unsigned char* p = in.cur();
    const unsigned char* e = in.end();
    const unsigned char* q = p;
    while (q < e && kKinds.kind[*q] == B_WORD) ++q;
    size_t k = static_cast<size_t>(q - p);
    if (n + k >= sizeof buf) {
      say("\"%s\", line %d: name is too long\n", shown_file(), lineno);
      quit(1);
    }
    std::memcpy(buf + n, p, k);
    n += k;
    in.take(k);
    if (q < e) break;
    if (in.get() < 0) {
      say("\"%s\", line %d: error\n", shown_file(), lineno);
      quit(1);
    }
    in.unget();
  }

  // the byte that ends the word
  int c = in.get();
  if (c == '\n') ++lineno;
  else if (kKinds.kind[c] == B_DELIM) in.unget();
  buf[n] = 0;
  in.word_len = strnlen(buf, n);  // a zero byte ends the name as C sees it
}

int nld_lex(Reader& in) {
  for (;;) {
    int c = in.get();
    switch (c) {
      case -1:
        return T_EOF;
      case ' ':
      case '\t':
        continue;
      case '\n':
        ++lineno;
        continue;
      case ';':
        comment(in);
        continue;
      case '(':
        return T_OPEN;
      case ')':
        return T_CLOSE;
      case '.':
        return T_DOT;
      default:
        nld_lex2(in, c);
        return T_WORD;
    }
  }
}

}  // namespace vorq
