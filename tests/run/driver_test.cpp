// Whole runs of the program in temporary folders: the console structure, the
// ways the outer iteration ends, the reports against the console, the refusal
// to overwrite, and second-order convergence of the test problem.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "support/support.hpp"

namespace ladyzh::test {
namespace {

struct Params {
  double Re = 0.0, eps1 = 0.0, Q = 2.0;
  int m = 9;
  double L = 1.0, r = 0.8;
  int imax = 50, imax_in = 20000;
  double tol_outer = 1e-8, tol_inner = 1e-6;
  int iproblem = 2;

  std::string text() const {
    char buf[512];
    std::snprintf(buf, sizeof buf,
                  "%.17g Re\n%.17g eps1\n%.17g Q\n%d m\n%.17g L\n%.17g r\n%d imax\n%d imax_in\n"
                  "%.17g tol_outer\n%.17g tol_inner\n%d iproblem\n",
                  Re, eps1, Q, m, L, r, imax, imax_in, tol_outer, tol_inner, iproblem);
    return buf;
  }
};

struct Run {
  TempDir dir;
  ProcResult proc;
  std::vector<std::string> console;
  std::string file(const std::string& name) const { return read_file(dir / name); }
};

std::unique_ptr<Run> solve(const Params& p) {
  auto run = std::make_unique<Run>();
  write_file(run->dir / "para.dat", p.text());
  run->proc = run_program(ladyzh_exe(), run->dir.path());
  run->console = split_lines(run->proc.out);
  return run;
}

int count(const std::vector<std::string>& lines, const std::string& line) {
  return int(std::count(lines.begin(), lines.end(), line));
}

const std::string kStars = " " + std::string(77, '*');
// The separator after a vorticity solve has the same text as the first line of
// every inner-solver block, so counts of it include the blocks.
const std::string kSeparator = "  -------------------------------------";

int blocks(const std::vector<std::string>& lines) {
  return int(std::count_if(lines.begin(), lines.end(), [](const std::string& l) {
    return l.find("inner loop ends") != std::string::npos;
  }));
}

int separators(const std::vector<std::string>& lines) {
  return count(lines, kSeparator) - blocks(lines);
}

int step_sections(const std::string& step) {
  int sections = 0;
  for (const auto& line : split_lines(step)) {
    int k = 0;
    char tail[32] = {};
    if (std::sscanf(line.c_str(), " ------------ %d%31s", &k, tail) == 2 &&
        std::string(tail) == "-------------------")
      ++sections;
  }
  return sections;
}

std::string banner(int k) {
  return " ******************         outer iteration: " + std::to_string(k) +
         "  *********************";
}

// Rows of the statistics table of `result`: the formatted lines between the
// table head and the next line of hyphens.
std::vector<std::string> result_table(const std::string& result) {
  std::vector<std::string> rows;
  bool in = false;
  for (const auto& line : split_lines(result)) {
    if (line.rfind(" ---  -----", 0) == 0) {
      in = true;
      continue;
    }
    if (in) {
      if (line.rfind(" ----", 0) == 0) break;
      rows.push_back(line);
    }
  }
  return rows;
}

struct Errors {
  double psi = 0.0, omega = 0.0;
};

// Largest difference between the computed and the exact columns of `data`.
Errors max_errors(const std::string& data) {
  Errors e;
  std::istringstream in(data);
  double psi, omega, psi_x, omega_x;
  while (in >> psi >> omega >> psi_x >> omega_x) {
    e.psi = std::max(e.psi, std::fabs(psi - psi_x));
    e.omega = std::max(e.omega, std::fabs(omega - omega_x));
  }
  return e;
}

TEST(Run, StopAfterTheFullPass) {
  Params p;
  p.Re = 10.0;
  p.eps1 = 0.001;
  p.Q = 4.0;
  p.m = 9;
  auto run = solve(p);
  ASSERT_EQ(run->proc.status, 0) << run->proc.err;
  EXPECT_EQ(run->proc.err, "");
  const auto& c = run->console;

  // The pass at which it stopped, from the convergence line.
  int kconv = 0;
  for (const auto& line : c) {
    if (std::sscanf(line.c_str(), " successful convergence at outer iteration: %d", &kconv) == 1)
      break;
  }
  ASSERT_GE(kconv, 2);
  EXPECT_EQ(count(c, kStars), 2 * kconv);
  for (int k = 1; k <= kconv; ++k) EXPECT_EQ(count(c, banner(k)), 1) << k;
  EXPECT_EQ(count(c, banner(kconv + 1)), 0);
  // A separator after every vorticity solve; the last one comes right before the
  // convergence line.
  EXPECT_EQ(blocks(c), 2 * kconv);
  EXPECT_EQ(separators(c), kconv);
  const auto conv = std::find(
      c.begin(), c.end(), " successful convergence at outer iteration: " + std::to_string(kconv));
  ASSERT_NE(conv, c.end());
  EXPECT_EQ(*(conv - 1), kSeparator);

  const std::string result = run->file("result");
  EXPECT_NE(result.find(" ***successful convergence with full outer iteration*\n"),
            std::string::npos);
  const auto rows = result_table(result);
  ASSERT_EQ(int(rows.size()), kconv);

  // The inner iteration counts of the table are those of the console blocks.
  std::vector<int> counts;
  for (std::size_t i = 0; i + 2 < c.size(); ++i) {
    if (c[i].find("inner loop ends") != std::string::npos) {
      int n = 0;
      ASSERT_EQ(std::sscanf(c[i + 2].c_str(), " %d", &n), 1) << c[i + 2];
      counts.push_back(n);
    }
  }
  ASSERT_EQ(int(counts.size()), 2 * kconv);
  for (int k = 1; k <= kconv; ++k) {
    const std::string& row = rows[k - 1];
    ASSERT_EQ(row.size(), 100u);
    EXPECT_EQ(std::stoi(row.substr(0, 3)), k);
    EXPECT_EQ(std::stoi(row.substr(41, 5)), counts[2 * (k - 1)]);
    EXPECT_EQ(std::stoi(row.substr(48, 5)), counts[2 * (k - 1) + 1]);
    EXPECT_EQ(row.substr(57, 1), "1");
    EXPECT_EQ(row.substr(63, 1), "1");
  }

  // The step report: one section per pass, the last written after the final report.
  const std::string step = run->file("step");
  EXPECT_EQ(step_sections(step), kconv);
  for (int k = 1; k <= kconv; ++k) {
    EXPECT_NE(step.find(" ------------ " + std::to_string(k) + "-------------------\n"),
              std::string::npos)
        << k;
  }
  EXPECT_EQ(step.find(" ------------ " + std::to_string(kconv + 1) + "-------------------\n"),
            std::string::npos);
  EXPECT_EQ(split_lines(run->file("data")).size(), std::size_t((p.m + 2) * (p.m + 2)));
}

TEST(Run, StopInTheStreamfunctionHalfOfPassTwo) {
  // The linear problem: the vorticity is solved in pass 1, so pass 2's
  // streamfunction solve changes psi by less than tol_inner < tol_outer.
  Params p;
  p.tol_inner = 1e-9;
  p.tol_outer = 1e-6;
  auto run = solve(p);
  ASSERT_EQ(run->proc.status, 0) << run->proc.err;
  const auto& c = run->console;
  EXPECT_EQ(count(c, banner(2)), 1);
  EXPECT_EQ(count(c, banner(3)), 0);
  EXPECT_EQ(blocks(c), 3);
  EXPECT_EQ(separators(c), 1);  // pass 2 ends before its vorticity solve
  EXPECT_EQ(c.back(), " successful convergence at outer iteration: 2");
  const std::string result = run->file("result");
  EXPECT_NE(result.find(" ***successful convergence with half outer iteration*\n"),
            std::string::npos);
  const auto rows = result_table(result);
  ASSERT_EQ(rows.size(), 2u);
  // Pass 2's vorticity columns were never written: changes and times 0.
  EXPECT_EQ(rows[1].substr(12, 9), "  .00E+00");
  EXPECT_EQ(rows[1].substr(21, 18), "    .0000    .0000");
  // The step report holds the sections of passes 1 and 2 (the second written last).
  const std::string step = run->file("step");
  EXPECT_NE(step.find(" ------------ 2-------------------\n"), std::string::npos);
}

TEST(Run, ExhaustingImaxIsNoConvergence) {
  Params p;
  p.imax = 3;
  p.tol_outer = 0.0;  // never met
  auto run = solve(p);
  ASSERT_EQ(run->proc.status, 0) << run->proc.err;
  EXPECT_EQ(count(run->console, banner(3)), 1);
  EXPECT_EQ(separators(run->console), 3);
  for (const auto& line : run->console)
    EXPECT_EQ(line.find("successful convergence"), std::string::npos);
  const std::string result = run->file("result");
  EXPECT_NE(result.find(" ******No convergence*****\n"), std::string::npos);
  EXPECT_EQ(result_table(result).size(), 3u);
  // Three sections (1, 2, 3 rows); the final call after pass imax adds none.
  const std::string step = run->file("step");
  EXPECT_EQ(step_sections(step), 3);
}

TEST(Run, OnePass) {
  Params p;
  p.imax = 1;
  auto run = solve(p);
  ASSERT_EQ(run->proc.status, 0) << run->proc.err;
  EXPECT_EQ(count(run->console, banner(1)), 1);
  EXPECT_EQ(separators(run->console), 1);
  EXPECT_EQ(step_sections(run->file("step")), 1);
  EXPECT_NE(run->file("result").find(" ******No convergence*****\n"), std::string::npos);
  EXPECT_EQ(result_table(run->file("result")).size(), 1u);
}

TEST(Run, FailingInnerSolvesNeverReportSuccess) {
  // tol_inner cannot be reached in 5 iterations, while the last changes soon
  // fall below the generous tol_outer: the run must not call that convergence.
  Params p;
  p.imax = 6;
  p.imax_in = 5;
  p.tol_inner = 1e-12;
  p.tol_outer = 1e-1;
  auto run = solve(p);
  ASSERT_EQ(run->proc.status, 0) << run->proc.err;
  for (const auto& line : run->console)
    EXPECT_EQ(line.find("successful convergence"), std::string::npos);
  EXPECT_GT(
      count(run->console, " (vorticity-solver) inner loop ends with no           convergence"), 0);
  EXPECT_NE(run->file("result").find(" ******No convergence*****\n"), std::string::npos);
}

TEST(Run, ExistingReportIsLeftAloneAndNamed) {
  for (const char* name : {"step", "result", "data"}) {
    TempDir dir;
    Params p;
    write_file(dir / "para.dat", p.text());
    write_file(dir / name, "keep me\n");
    const ProcResult r = run_program(ladyzh_exe(), dir.path());
    EXPECT_NE(r.status, 0) << name;
    EXPECT_NE(r.err.find(std::string("'") + name + "'"), std::string::npos) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_EQ(read_file(dir / name), "keep me\n");
    for (const char* other : {"step", "result", "data"}) {
      if (std::string(other) == name) continue;
      EXPECT_FALSE(std::filesystem::exists(dir / other)) << other;
    }
  }
}

TEST(Run, LinearTestProblemConvergesToSecondOrder) {
  std::vector<Errors> errors;
  for (int m : {9, 19, 39}) {
    Params p;
    p.m = m;
    p.tol_inner = 1e-11;
    p.tol_outer = 1e-10;
    p.imax_in = 200000;
    auto run = solve(p);
    ASSERT_EQ(run->proc.status, 0) << run->proc.err;
    errors.push_back(max_errors(run->file("data")));
  }
  for (std::size_t i = 1; i < errors.size(); ++i) {
    EXPECT_NEAR(errors[i - 1].psi / errors[i].psi, 4.0, 0.1) << i;
    EXPECT_NEAR(errors[i - 1].omega / errors[i].omega, 4.0, 0.1) << i;
  }
}

TEST(Run, NavierStokesTestProblemConverges) {
  std::vector<Errors> errors;
  for (int m : {19, 39}) {
    Params p;
    p.Re = 10.0;
    p.eps1 = 0.0;
    p.Q = 3.0;
    p.m = m;
    p.imax = 200;
    p.imax_in = 200000;
    auto run = solve(p);
    ASSERT_EQ(run->proc.status, 0) << run->proc.err;
    EXPECT_NE(run->file("result").find(" ***successful convergence with "), std::string::npos) << m;
    errors.push_back(max_errors(run->file("data")));
  }
  EXPECT_NEAR(errors[0].psi / errors[1].psi, 4.0, 0.3);
  EXPECT_NEAR(errors[0].omega / errors[1].omega, 4.0, 0.3);
}

TEST(Run, ViscosityPoleIsAnnouncedAndItsSolvesFail) {
  // Q < 2 on the zero streamfunction of pass 1: the viscosity field is not a
  // number, and no vorticity solve may be reported as a success.
  Params p;
  p.Re = 10.0;
  p.eps1 = 0.001;
  p.Q = 1.5;
  p.imax = 3;
  auto run = solve(p);
  ASSERT_EQ(run->proc.status, 0) << run->proc.err;
  ASSERT_GE(run->console.size(), 13u);
  EXPECT_EQ(run->console[12].rfind(" warning: Q < 2:", 0), 0u) << run->console[12];
  EXPECT_EQ(count(run->console, " (vorticity-solver) inner loop ends successfully at:"), 0);
  for (const auto& row : result_table(run->file("result"))) EXPECT_EQ(row.substr(63, 1), "0");
  EXPECT_NE(run->file("result").find(" ******No convergence*****\n"), std::string::npos);
}

}  // namespace
}  // namespace ladyzh::test
