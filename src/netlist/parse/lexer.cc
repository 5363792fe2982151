// Tokens of the NLD/PCD language and the buffered stream they come from.

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

// ---- reader ---------------------------------------------------------------

Reader::Reader(FILE* f) : f_(f), data_(static_cast<unsigned char*>(malloc_f(kChunk))) {}

Reader::~Reader() { keldramos_free(data_); }

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
    int c = in.get();
    if (c < 0) return;
    if (c == '\n') {
      ++lineno;
      return;
    }
  }
}

void nld_lex2(Reader& in, int first) {
  size_t n = 0;
  buf[n++] = static_cast<char>(first);
  for (;;) {
    int c = in.get();
    if (c < 0) {
      say("\"%s\", line %d: error\n", shown_file(), lineno);
      quit(1);
    }
    switch (kKinds.kind[c]) {
      case B_WORD:
        if (n >= sizeof buf - 1) {
          say("\"%s\", line %d: name is too long\n", shown_file(), lineno);
          quit(1);
        }
        buf[n++] = static_cast<char>(c);
        continue;
      case B_NEWLINE:
        ++lineno;
        break;
      case B_DELIM:
        in.unget();
        break;
      default:
        break;
    }
    buf[n] = 0;
    return;
  }
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
