#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver/driver.h"
#include "netlist/netlist.h"

using namespace vorq;

namespace {

const std::string kUsage =
    "usage:\n        vorq [-a] <top_module_name> <nld_or_pcd_dir> ... \n"
    "             [-r <nld_or_pcd_dir> ...] -w <write_dir>\n";

// Runs parse_args on "vorq" followed by `args`, from fresh globals.
void parse(std::vector<std::string> args) {
  reset_globals();
  static std::vector<std::string> keep;
  keep = std::move(args);
  keep.insert(keep.begin(), "vorq");
  std::vector<char*> argv;
  for (std::string& a : keep) argv.push_back(a.data());
  argv.push_back(nullptr);
  parse_args(static_cast<int>(keep.size()), argv.data());
}

std::vector<std::string> strings(StrList* l) {
  std::vector<std::string> v;
  for (StrList* c : list_of(l)) v.push_back(c->str);
  return v;
}

using V = std::vector<std::string>;

}  // namespace

TEST(CommandLine, AcceptedForms) {
  parse({"TOP", "DIR", "-w", "OUT"});
  EXPECT_STREQ(top_name, "TOP");
  EXPECT_EQ(strings(opt_dir), V{"DIR"});
  EXPECT_EQ(read_dir, nullptr);
  EXPECT_EQ(strings(write_dir), V{"OUT"});
  EXPECT_EQ(all, 0);
  EXPECT_EQ(h_or_f, 4);

  // Options before, between and after the runs.
  parse({"TOP", "-w", "OUT", "DIR1", "DIR2", "-a"});
  EXPECT_EQ(strings(opt_dir), (V{"DIR1", "DIR2"}));
  EXPECT_EQ(strings(write_dir), V{"OUT"});
  EXPECT_EQ(all, 1);

  parse({"-f", "-a", "TOP", "D1", "D2", "-r", "R1", "R2", "-w", "OUT"});
  EXPECT_EQ(h_or_f, 3);
  EXPECT_EQ(all, 1);
  EXPECT_EQ(strings(opt_dir), (V{"D1", "D2"}));
  EXPECT_EQ(strings(read_dir), (V{"R1", "R2"}));

  // A -r inside a run of -r directories is one more directory.
  parse({"TOP", "DIR", "-r", "R1", "-r", "R2", "-w", "OUT"});
  EXPECT_EQ(strings(read_dir), (V{"R1", "-r", "R2"}));

  // The -r run ends at -a and -f too; the directory run at -r.
  parse({"TOP", "D", "-r", "R", "-f", "-w", "O"});
  EXPECT_EQ(strings(read_dir), V{"R"});
  EXPECT_EQ(h_or_f, 3);

  // The word after -w is taken whatever it is.
  parse({"TOP", "D", "-w", "-a"});
  EXPECT_EQ(strings(write_dir), V{"-a"});
  EXPECT_EQ(all, 0);
}

TEST(CommandLine, DirectoryListsOwnTheirStrings) {
  reset_globals();
  std::vector<std::string> args = {"vorq", "TOP", "DIR", "-w", "OUT"};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  parse_args(5, argv.data());
  args[1][0] = args[2][0] = args[4][0] = 'x';
  EXPECT_STREQ(top_name, "TOP");
  EXPECT_STREQ(opt_dir->str, "DIR");
  EXPECT_STREQ(write_dir->str, "OUT");
}

TEST(CommandLineDeathTest, UsageErrors) {
  const std::vector<V> bad = {
      {},
      {"TOP", "DIR", "-w"},                              // three arguments
      {"TOP", "DIR1", "-a", "DIR2", "-w", "OUT"},        // directories split
      {"TOP", "DIR", "-r", "R1", "-w", "OUT", "-r", "R2"},  // second -r
      {"TOP", "DIR", "-w", "OUT", "-w", "OUT2"},         // second -w
      {"TOP", "-a", "-w", "OUT"},                        // no directory
      {"TOP", "DIR", "-a", "-w"},                        // -w without a value
      {"TOP", "DIR", "-w", "OUT", "-r"},                 // -r without a value
      {"TOP", "DIR", "-r", "-w", "OUT"},                 // -w taken as -r directory
      {"TOP", "DIR", "-r", "R", "-a"},                   // no -w
      {"-a", "-f", "-a", "-f"},                          // nothing but options
  };
  for (const V& args : bad) {
    std::string shown;
    for (const std::string& a : args) shown += a + " ";
    EXPECT_EXIT(parse(args), ::testing::ExitedWithCode(1), ::testing::Eq(kUsage)) << shown;
  }
}

TEST(CommandLineDeathTest, AuthorPrintsCreditThenUsage) {
  EXPECT_EXIT(parse({"-author"}), ::testing::ExitedWithCode(1),
              ::testing::Eq("vorq was written by the vorq developers.\n"
                            "It moves inversions through gate-level netlists of the KELDRAMOS "
                            "system.\n\n" +
                            kUsage));
  // With four arguments or more, -author is just a name.
  parse({"-author", "DIR", "-w", "OUT"});
  EXPECT_STREQ(top_name, "-author");
}
