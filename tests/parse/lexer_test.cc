#include <gtest/gtest.h>

#include "parse_helpers.h"

using namespace vorq;
using parse_test::error_at;
using parse_test::exact;
using parse_test::text_file;

namespace {

struct Tok {
  int t;
  std::string word;
  int line;  // lineno after the token
  bool operator==(const Tok& o) const { return t == o.t && word == o.word && line == o.line; }
};

std::ostream& operator<<(std::ostream& os, const Tok& k) {
  return os << "{" << k.t << " '" << k.word << "' " << k.line << "}";
}

std::vector<Tok> lex_all(const std::string& text) {
  reset_globals();
  file_name = "t.nld";
  lineno = 1;
  FILE* f = text_file(text);
  std::vector<Tok> out;
  {
    Reader in(f);
    for (int t = nld_lex(in); t != T_EOF; t = nld_lex(in))
      out.push_back({t, t == T_WORD ? std::string(buf) : "", lineno});
  }
  std::fclose(f);
  return out;
}

void lex_to_end(const std::string& text) { lex_all(text); }

}  // namespace

TEST(Lexer, TokensSeparatorsAndLineCounts) {
  // blanks are skipped, a newline after a word is consumed with it and counted
  std::vector<Tok> want = {
      {T_OPEN, "", 1},  {T_WORD, "def-net", 1}, {T_WORD, "g1", 1}, {T_DOT, "", 1},
      {T_WORD, "in", 2}, {T_WORD, "x", 3},      {T_CLOSE, "", 4},
  };
  EXPECT_EQ(lex_all("(def-net\tg1.in\n\n  x \n)"), want);
}

TEST(Lexer, DelimitersEndWordsAndStayTokens) {
  std::vector<Tok> want = {
      {T_WORD, "a", 1}, {T_OPEN, "", 1}, {T_WORD, "b", 1}, {T_CLOSE, "", 1},
      {T_WORD, "c", 1}, {T_DOT, "", 1},  {T_WORD, "d", 1},
  };
  // a word ended by ';' leaves a comment that swallows the rest of the line
  EXPECT_EQ(lex_all("a(b)c.d;e f ( g\n"), want);
}

TEST(Lexer, CommentsCountTheirNewlineAndEofInsideIsEof) {
  std::vector<Tok> want = {{T_WORD, "a", 3}, {T_WORD, "b", 4}};
  EXPECT_EQ(lex_all(";; head\na\n; two\nb ; tail without newline"), want);
  EXPECT_TRUE(lex_all("; only a comment").empty());
  EXPECT_TRUE(lex_all("").empty());
}

TEST(Lexer, CarriageReturnAndHighBytesBelongToWords) {
  std::vector<Tok> want = {{T_WORD, "input\r", 2}, {T_WORD, "\xe9t\xe9\x01", 2}};
  EXPECT_EQ(lex_all("input\r\n\xe9t\xe9\x01 "), want);
}

TEST(Parser, AZeroByteEndsANameAsCSeesIt) {
  reset_globals();
  file_name = "t.nld";
  std::string text("(def-module m (def-comp inv- g\0x) (def-net g\0y.in))", 51);
  FILE* f = text_file(text);
  Module* m = nld_par(f);
  std::fclose(f);
  ASSERT_NE(m->nets->nodes, nullptr);
  EXPECT_EQ(m->nets->nodes->target, m->insts);
}

TEST(Lexer, WordsAcrossReadChunks) {
  // words and a comment that straddle the reader's 64 KiB chunks
  std::string text;
  while (text.size() < 65530) text += "w ";
  text += "longword_across_the_boundary ;comment across the boundary\nlast\n";
  std::vector<Tok> toks = lex_all(text);
  ASSERT_GE(toks.size(), 2u);
  EXPECT_EQ(toks[toks.size() - 2], (Tok{T_WORD, "longword_across_the_boundary", 1}));
  EXPECT_EQ(toks.back(), (Tok{T_WORD, "last", 3}));
}

TEST(Lexer, LongestWord) {
  std::string w(4095, 'n');
  std::vector<Tok> toks = lex_all("(" + w + ")");
  ASSERT_EQ(toks.size(), 3u);
  EXPECT_EQ(toks[1].word, w);
}

TEST(LexerDeath, WordOf4096BytesIsTooLong) {
  std::string text = "(def-module\n" + std::string(4096, 'n') + ")";
  EXPECT_EXIT(lex_to_end(text), testing::ExitedWithCode(1),
              exact("\"t.nld\", line 2: name is too long\n"));
  // also when the file ends inside it, and far beyond the limit
  EXPECT_EXIT(lex_to_end(std::string(100000, 'x')), testing::ExitedWithCode(1),
              exact("\"t.nld\", line 1: name is too long\n"));
}

TEST(LexerDeath, EndOfFileInsideAWord) {
  EXPECT_EXIT(lex_to_end("(a\nb"), testing::ExitedWithCode(1), error_at(2));
  EXPECT_EXIT(lex_to_end(std::string(4095, 'x')), testing::ExitedWithCode(1), error_at(1));
}
