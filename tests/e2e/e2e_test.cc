// Runs the built vorq on every case folder under tests/e2e/cases and compares
// exit status, standard error and every file of the run folder with the
// case's expected results (layout: tests/e2e/README.md).
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "test_util.h"

namespace fs = std::filesystem;

namespace {

const fs::path kCases = fs::path(VORQ_SOURCE_DIR) / "tests" / "e2e" / "cases";
constexpr const char* kRunMark = "@RUN@";

std::vector<std::string> case_names() {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(kCases, ec))
    if (e.is_directory()) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::string replace_all(std::string s, const std::string& from, const std::string& to) {
  if (from.empty()) return s;
  for (size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size()))
    s.replace(at, from.size(), to);
  return s;
}

// The arguments of a case: one a line; an empty line is an empty argument.
std::vector<std::string> read_args(const fs::path& file, const std::string& run_dir) {
  std::string text = vorq_test::read_file(file.string());
  std::vector<std::string> args;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    args.push_back(replace_all(text.substr(start, end - start), kRunMark, run_dir));
    start = end + 1;
  }
  return args;
}

// Every regular file under `root`, by path relative to it, with its bytes.
std::map<std::string, std::string> snapshot(const fs::path& root) {
  std::map<std::string, std::string> files;
  if (!fs::exists(root)) return files;
  for (const auto& e : fs::recursive_directory_iterator(root))
    if (e.is_regular_file())
      files[fs::relative(e.path(), root).string()] = vorq_test::read_file(e.path().string());
  return files;
}

class Case : public ::testing::TestWithParam<std::string> {};

TEST_P(Case, MatchesExpected) {
  const fs::path src = kCases / GetParam();
  const fs::path expected = src / "expected";
  ASSERT_TRUE(fs::exists(src / "cmd")) << "case without cmd file";

  // The inputs are copied into a fresh run folder, so that runs never write
  // into the source tree.
  const fs::path run = vorq_test::make_temp_dir();
  for (const auto& e : fs::directory_iterator(src)) {
    std::string name = e.path().filename().string();
    if (name == "cmd" || name == "expected" || name == "equiv") continue;
    fs::copy(e.path(), run / name, fs::copy_options::recursive);
  }
  const auto before = snapshot(run);

  vorq_test::RunResult r = vorq_test::run_vorq(read_args(src / "cmd", run.string()), run.string());
  const auto after = snapshot(run);

  const std::string banner = vorq_test::banner();
  ASSERT_EQ(r.err.substr(0, banner.size()), banner) << "the banner comes first";
  std::string err = replace_all(r.err.substr(banner.size()), run.string(), kRunMark);
  EXPECT_EQ(r.out, "") << "standard output is never used";

  // Files the run created or changed.
  std::map<std::string, std::string> written;
  for (const auto& [path, bytes] : after) {
    auto it = before.find(path);
    if (it == before.end() || it->second != bytes) written[path] = bytes;
  }

  if (std::getenv("VORQ_E2E_UPDATE")) {
    fs::remove_all(expected);
    fs::create_directories(expected);
    vorq_test::write_file((expected / "status").string(), std::to_string(r.status) + "\n");
    vorq_test::write_file((expected / "stderr").string(), err);
    for (const auto& [path, bytes] : written) {
      fs::path p = expected / "written" / path;
      fs::create_directories(p.parent_path());
      vorq_test::write_file(p.string(), bytes);
    }
    GTEST_SKIP() << "expected results rewritten";
  }

  ASSERT_TRUE(fs::exists(expected / "status")) << "case without expected/status";
  EXPECT_EQ(r.status, std::stoi(vorq_test::read_file((expected / "status").string())));
  EXPECT_EQ(err, vorq_test::read_file((expected / "stderr").string()));

  // Every file of the run folder: the expected bytes where the case says it is
  // written, the input bytes unchanged everywhere else, nothing more.
  std::map<std::string, std::string> want = before;
  for (const auto& [path, bytes] : snapshot(expected / "written")) want[path] = bytes;
  for (const auto& [path, bytes] : want) {
    auto it = after.find(path);
    if (it == after.end()) ADD_FAILURE() << path << " is missing";
    else EXPECT_EQ(it->second, bytes) << "in " << path;
  }
  for (const auto& [path, bytes] : after)
    EXPECT_TRUE(want.count(path)) << path << " was written but is not expected";

  // A case with an `equiv` file (vorq-equiv's arguments, as in `cmd`) also
  // proves the written design equivalent to its input, where vorq-equiv is
  // built next to vorq.
  const fs::path checker = fs::path(VORQ_BINARY).parent_path() / "vorq-equiv";
  if (fs::exists(src / "equiv") && fs::exists(checker)) {
    vorq_test::RunResult v = vorq_test::run_program(
        checker.string(), read_args(src / "equiv", run.string()), run.string());
    EXPECT_EQ(v.status, 0) << v.out << v.err;
  }

  fs::remove_all(run);
}

std::string test_name(const ::testing::TestParamInfo<std::string>& info) {
  std::string n = info.param;
  for (char& c : n)
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  return n;
}

INSTANTIATE_TEST_SUITE_P(E2E, Case, ::testing::ValuesIn(case_names()), test_name);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(Case);

}  // namespace
