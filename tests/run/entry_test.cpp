// The ladyzh program itself: the echo of para.dat on the console, and the runs
// that end early with one line on stderr, nothing echoed and no file created.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "support/support.hpp"

namespace ladyzh {
namespace {

using test::run_program;
using test::split_lines;
using test::TempDir;
using test::write_file;

namespace fs = std::filesystem;

std::string join(const std::vector<std::string>& lines) {
  std::string text;
  for (const auto& l : lines) text += l + "\n";
  return text;
}

std::vector<std::string> files_in(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// A tiny run: 9 x 9 interior points, one outer pass of one inner iteration each.
std::vector<std::string> tiny_run(const std::string& iproblem) {
  return {"10 Re",     "0.5 eps1",          "3.0 Q",          "9 m",   "1. L", "0.7 r", "1 imax",
          "1 imax_in", "1.0D-06 tol_outer", "1e-8 tol_inner", iproblem};
}

// The ten echo lines of tiny_run, by the free-format rule: a leading blank, the
// label, a blank, the number (integers plain, reals in the shortest form that
// reads back, with ".0" on a whole number).
const std::vector<std::string> tiny_echo = {
    " Re 10.0",   " eps1 0.5",        " Q 3.0",          " m 9", " L 1.0", " r 0.7", " imax 1",
    " imax_in 1", " tol_outer 1e-06", " tol_inner 1e-08"};

TEST(Entry, EchoAndProblemLines) {
  struct Case {
    const char* iproblem;
    std::vector<std::string> problem_lines;
  };
  const std::vector<Case> cases = {
      {"1", {" we solve the problem with c=1"}},
      {"2", {" we solve the problem with known solution", "  psi(x,y) = ( x(x-1)y(y-1) )^2"}},
      {"0", {}},
      {"3", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string("iproblem ") + c.iproblem);
    TempDir dir;
    write_file(dir / "para.dat", join(tiny_run(c.iproblem)));
    const auto r = run_program(test::ladyzh_exe(), dir.path());
    EXPECT_EQ(r.status, 0) << r.err;
    const auto lines = split_lines(r.out);
    std::vector<std::string> want = tiny_echo;
    want.insert(want.end(), c.problem_lines.begin(), c.problem_lines.end());
    ASSERT_GE(lines.size(), want.size()) << r.out;
    EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + want.size()), want);
    if (c.problem_lines.empty()) {
      for (const auto& l : lines) EXPECT_EQ(l.find("we solve the problem"), std::string::npos);
    }
  }
}

TEST(Entry, MissingParameterFile) {
  TempDir dir;
  const auto r = run_program(test::ladyzh_exe(), dir.path());
  EXPECT_NE(r.status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "ladyzh: cannot open parameter file 'para.dat': No such file or directory\n");
  EXPECT_TRUE(files_in(dir.path()).empty());
}

TEST(Entry, UnreadableValueEndsTheRunBeforeTheEcho) {
  struct Case {
    std::vector<std::string> lines;
    const char* err;
  };
  std::vector<std::string> bad_m = tiny_run("1");
  bad_m[3] = "1.5 m";
  std::vector<std::string> overflow = tiny_run("1");
  overflow[8] = "1.0D+999";
  std::vector<std::string> short_file = tiny_run("1");
  short_file.resize(10);
  std::vector<std::string> empty_value = tiny_run("1");
  empty_value[6] = ", imax";
  const std::vector<Case> cases = {
      {bad_m, "ladyzh: para.dat, line 4: cannot read m (an integer) from '1.5'\n"},
      {overflow,
       "ladyzh: para.dat, line 9: cannot read tol_outer (a real) from '1.0D+999': too large for a "
       "double\n"},
      {short_file, "ladyzh: para.dat: end of file before the value of iproblem (value 11 of 11)\n"},
      {empty_value, "ladyzh: para.dat, line 7: no value for imax (an integer) before the comma\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.err);
    TempDir dir;
    write_file(dir / "para.dat", join(c.lines));
    const auto r = run_program(test::ladyzh_exe(), dir.path());
    EXPECT_NE(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(files_in(dir.path()), std::vector<std::string>{"para.dat"});
  }
}

TEST(Entry, RejectedParametersEndTheRunAfterTheEcho) {
  struct Case {
    const char* m;
    const char* imax;
    const char* err_start;
  };
  const std::vector<Case> cases = {
      {"4", "1", "ladyzh: m = 4 cannot be solved: m must be odd and at least 3"},
      {"1", "1", "ladyzh: m = 1 cannot be solved: m must be odd and at least 3"},
      {"9", "0", "ladyzh: imax = 0 cannot be run: imax must be at least 1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.err_start);
    std::vector<std::string> lines = tiny_run("1");
    lines[3] = c.m;
    lines[6] = c.imax;
    TempDir dir;
    write_file(dir / "para.dat", join(lines));
    const auto r = run_program(test::ladyzh_exe(), dir.path());
    EXPECT_NE(r.status, 0);
    std::vector<std::string> want = tiny_echo;
    want[3] = std::string(" m ") + c.m;
    want[6] = std::string(" imax ") + c.imax;
    want.push_back(" we solve the problem with c=1");
    EXPECT_EQ(split_lines(r.out), want);
    EXPECT_EQ(r.err.rfind(c.err_start, 0), 0u) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_EQ(r.err.back(), '\n');
    EXPECT_EQ(files_in(dir.path()), std::vector<std::string>{"para.dat"});
  }
}

}  // namespace
}  // namespace ladyzh
