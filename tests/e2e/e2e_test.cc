// Runs the built vorq (and vorq-equiv) on every case folder under
// tests/e2e/cases and compares exit statuses, standard output and error and
// every file of the run folder with the case's expected results (layout:
// tests/e2e/README.md).
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "support/support.h"
#include "test_util.h"

#ifndef VORQ_EQUIV_BINARY
#define VORQ_EQUIV_BINARY "vorq-equiv (not built)"
#endif

namespace fs = std::filesystem;
using vorq_test::read_file;
using vorq_test::write_file;

namespace {

const fs::path kCases = fs::path(VORQ_SOURCE_DIR) / "tests" / "e2e" / "cases";

std::vector<std::string> case_names() {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(kCases, ec))
    if (e.is_directory()) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::string replace_all(std::string s, const std::string& from, const std::string& to) {
  for (size_t at = s.find(from); !from.empty() && at != std::string::npos; at = s.find(from, at + to.size()))
    s.replace(at, from.size(), to);
  return s;
}

// The runs of a case: arguments one a line (an empty line is an empty
// argument), runs separated by a line @NEXT@.
std::vector<std::vector<std::string>> read_runs(const fs::path& file, const std::string& run_dir) {
  std::vector<std::vector<std::string>> runs(1);
  std::string text = read_file(file.string());
  for (size_t start = 0, end; start < text.size(); start = end + 1) {
    end = std::min(text.find('\n', start), text.size());
    std::string arg = replace_all(text.substr(start, end - start), "@RUN@", run_dir);
    if (arg == "@NEXT@") runs.emplace_back();
    else runs.back().push_back(arg);
  }
  return runs;
}

// Every regular file under `root`, by path relative to it, with its bytes.
std::map<std::string, std::string> snapshot(const fs::path& root) {
  std::map<std::string, std::string> files;
  if (!fs::exists(root)) return files;
  for (const auto& e : fs::recursive_directory_iterator(root))
    if (e.is_regular_file()) files[fs::relative(e.path(), root).string()] = read_file(e.path().string());
  return files;
}

class Case : public ::testing::TestWithParam<std::string> {};

TEST_P(Case, MatchesExpected) {
  const fs::path src = kCases / GetParam(), expected = src / "expected";
  ASSERT_TRUE(fs::exists(src / "cmd")) << "case without cmd file";
  // the inputs are copied into a fresh run folder: runs never write into the tree
  const fs::path run = vorq_test::make_temp_dir();
  for (const auto& e : fs::directory_iterator(src))
    if (e.path().filename() != "cmd" && e.path().filename() != "expected" && e.path().filename() != "equiv")
      fs::copy(e.path(), run / e.path().filename(), fs::copy_options::recursive);
  const auto before = snapshot(run);

  // vorq-equiv's standard error holds times: only its status and verdict count
  std::string status, out, err;
  for (std::vector<std::string>& args : read_runs(src / "cmd", run.string())) {
    bool equiv = !args.empty() && args[0] == "@EQUIV@";
    if (equiv) args.erase(args.begin());
    vorq_test::RunResult r = vorq_test::run_program(equiv ? VORQ_EQUIV_BINARY : VORQ_BINARY, args, run.string());
    status += std::to_string(r.status) + "\n";
    out += r.out;
    if (!equiv) err += replace_all(replace_all(r.err, run.string(), "@RUN@"), vorq::platform_tag(), "@PLATFORM@");
  }
  err = std::regex_replace(err, std::regex("0x[0-9a-f]+"), "0x@");  // addresses in internal errors
  const auto after = snapshot(run);
  // a file `equiv` holds vorq-equiv's arguments, as in cmd: the written design
  // must be proven equivalent to its input
  vorq_test::RunResult proof{0, "", ""};
  if (fs::exists(src / "equiv"))
    proof = vorq_test::run_program(VORQ_EQUIV_BINARY, read_runs(src / "equiv", run.string())[0], run.string());
  EXPECT_EQ(proof.status, 0) << proof.out << proof.err;
  fs::remove_all(run);
  std::map<std::string, std::string> written;  // files the runs created or changed
  for (const auto& [path, bytes] : after)
    if (!before.count(path) || before.at(path) != bytes) written[path] = bytes;

  if (std::getenv("VORQ_E2E_UPDATE")) {
    fs::remove_all(expected);
    for (const auto& [path, bytes] : written) {
      fs::create_directories((expected / "written" / path).parent_path());
      write_file((expected / "written" / path).string(), bytes);
    }
    fs::create_directories(expected);
    write_file((expected / "status").string(), status);
    write_file((expected / "stderr").string(), err);
    if (!out.empty()) write_file((expected / "stdout").string(), out);
    GTEST_SKIP() << "expected results rewritten";
  }
  EXPECT_EQ(status, read_file((expected / "status").string()));
  EXPECT_EQ(err, read_file((expected / "stderr").string()));
  EXPECT_EQ(out, read_file((expected / "stdout").string()));
  // the expected bytes where the case says a file is written, the input
  // bytes everywhere else, nothing more
  std::map<std::string, std::string> want = before;
  for (const auto& [path, bytes] : snapshot(expected / "written")) want[path] = bytes;
  for (const auto& [path, bytes] : want) {
    if (!after.count(path)) ADD_FAILURE() << path << " is missing";
    else EXPECT_EQ(after.at(path), bytes) << "in " << path;
  }
  for (const auto& [path, bytes] : after) EXPECT_TRUE(want.count(path)) << path << " was written but is not expected";
}

INSTANTIATE_TEST_SUITE_P(E2E, Case, ::testing::ValuesIn(case_names()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                           std::string n = info.param;
                           for (char& c : n)
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           return n;
                         });
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(Case);

}  // namespace
