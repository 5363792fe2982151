#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "support/support.h"
#include "test_util.h"

using namespace vorq;

TEST(Banner, FiveLinesBetweenEmptyLinesAllSixtyThreeWide) {
  std::string b = vorq_test::banner();
  ASSERT_EQ(b.substr(0, 1), "\n");
  ASSERT_EQ(b.substr(b.size() - 2), "\n\n");
  std::string body = b.substr(1, b.size() - 3);
  size_t start = 0;
  int lines = 0;
  while (start <= body.size()) {
    size_t end = body.find('\n', start);
    if (end == std::string::npos) end = body.size();
    EXPECT_EQ(end - start, 63u) << body.substr(start, end - start);
    ++lines;
    start = end + 1;
  }
  EXPECT_EQ(lines, 5);
  std::string tag = platform_tag();
  EXPECT_EQ(tag.front(), '(');
  EXPECT_EQ(tag.back(), ')');
  // The name field narrows as the platform tag grows.
  size_t field = 59 - (5 + 10 + tag.size() + 3);
  std::string second = "| VORQ" + std::string(field - 4 + 1, ' ') + "2.4.1 2001/12/03 " + tag + " |";
  EXPECT_NE(b.find("\n" + second + "\n"), std::string::npos) << b;
  EXPECT_NE(b.find("This program is a part of the KELDRAMOS system. |\n"), std::string::npos);
}

TEST(Banner, NullStreamPrintsNothingAndLongNameWidensTheLine) {
  keldramos_banner(nullptr, "X", nullptr, nullptr);  // must not crash
  char* p = nullptr;
  size_t n = 0;
  FILE* f = open_memstream(&p, &n);
  keldramos_banner(f, std::string(80, 'N').c_str(), nullptr, nullptr);
  std::fclose(f);
  std::string b(p, n);
  std::free(p);
  EXPECT_NE(b.find(std::string(80, 'N') + " 2.4.1"), std::string::npos);
}

TEST(Allocation, NullAndZeroHaveFixedMeanings) {
  EXPECT_EQ(keldramos_malloc(0), nullptr);
  EXPECT_EQ(keldramos_calloc(0, 8), nullptr);
  EXPECT_EQ(keldramos_calloc(8, 0), nullptr);
  EXPECT_EQ(keldramos_strdup(nullptr), nullptr);
  keldramos_free(nullptr);
  keldramos_ptr16B_free(nullptr);
  char* s = keldramos_strdup("abc");
  EXPECT_STREQ(s, "abc");
  keldramos_free(s);
  EXPECT_EQ(keldramos_ptr16B_gross_size_of(10), 26u);
  void* a = keldramos_ptr16B_malloc(40);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(a) % 16, 0u);
  keldramos_ptr16B_free(a);
}

TEST(Allocation, AlignByHandRoundTrips) {
  alignas(16) static unsigned char block[64];
  unsigned char* m = block;
  void* p = m + 3;
  void* a = keldramos_ptr16B_real_to_aligned(p);
  EXPECT_EQ(a, m + 16);
  EXPECT_EQ(m[15], 3);
  EXPECT_EQ(keldramos_ptr16B_aligned_to_real(a), p);
}

TEST(Allocation, ArenaRecordsStartZeroedAndStringsAreCopied) {
  struct R {
    int a;
    void* p;
    char c[40];
  };
  for (int i = 0; i < 100000; ++i) {  // crosses several blocks
    R* r = make<R>();
    ASSERT_EQ(r->a, 0);
    ASSERT_EQ(r->p, nullptr);
    ASSERT_EQ(reinterpret_cast<uintptr_t>(r) % alignof(R), 0u);
  }
  std::string big(3 << 20, 'x');  // larger than a block
  char* s = arena_strdup(big.c_str());
  EXPECT_EQ(std::string(s), big);
  EXPECT_EQ(arena_strdup(nullptr), nullptr);
  EXPECT_STREQ(arena_strndup("abcdef", 3), "abc");
}

TEST(AllocationDeathTest, ExhaustedMemoryIsMemoryFull) {
  EXPECT_EXIT(malloc_f(SIZE_MAX / 2), testing::ExitedWithCode(1), "memory full\n$");
}
