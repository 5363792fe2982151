// The lexer's limits: words and comments across the reader's 64 KiB chunks,
// the longest name, and the end of a file inside a word.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "netlist/netlist.h"
#include "netlist/parse/parse.h"

using namespace vorq;

namespace {

// Every word of `text` with the line count after it ("" for other tokens).
std::vector<std::pair<std::string, int>> lex_all(const std::string& text) {
  reset_globals();
  file_name = "t.nld";
  lineno = 1;
  FILE* f = std::tmpfile();
  std::fwrite(text.data(), 1, text.size(), f);
  std::rewind(f);
  std::vector<std::pair<std::string, int>> out;
  {
    Reader in(f);
    for (int t = nld_lex(in); t != T_EOF; t = nld_lex(in)) out.push_back({t == T_WORD ? buf : "", lineno});
  }
  std::fclose(f);
  return out;
}

TEST(Lexer, WordsAndCommentsAcrossChunks) {
  std::string text;
  while (text.size() < 65530) text += "w ";
  auto toks = lex_all(text + "longword_across_the_boundary ;comment across\nlast\n");
  ASSERT_GE(toks.size(), 2u);
  using Tok = std::pair<std::string, int>;
  EXPECT_EQ(toks[toks.size() - 2], Tok("longword_across_the_boundary", 1));
  EXPECT_EQ(toks.back(), Tok("last", 3));
  EXPECT_EQ(lex_all("(" + std::string(4095, 'n') + ")").at(1).first, std::string(4095, 'n'));
}

TEST(LexerDeathTest, LimitsAndEndOfFile) {
  auto exits = [](const std::string& text, const char* err) {
    EXPECT_EXIT(lex_all(text), testing::ExitedWithCode(1), testing::Eq(err)) << text.substr(0, 20);
  };
  exits("(def-module\n" + std::string(4096, 'n') + ")", "\"t.nld\", line 2: name is too long\n");
  exits(std::string(100000, 'x'), "\"t.nld\", line 1: name is too long\n");
  exits("(a\nb", "\"t.nld\", line 2: error\n");
  exits(std::string(4095, 'x'), "\"t.nld\", line 1: error\n");
}

}  // namespace
