// The AGE inner iteration: convergence to the direct solution of the same
// five-point system, every exit of the loop with its statistics, change
// measure, iterates and console text, and the change measure norm.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "age/age.hpp"
#include "age_fixture.hpp"
#include "report/console.hpp"
#include "report/record.hpp"
#include "run/error.hpp"

namespace ladyzh {
namespace {

using test::Rand;
using test::System;
using test::Vector;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr std::int32_t kUnset = -7;

// One inner solve with its inputs and everything it reports.
struct Solve {
  System s;
  RealGrid x_old, x_new;
  std::int32_t imax = 3, k = 2;
  IntGrid stat_succ, stat_iter_in;
  std::int32_t niter = kUnset;
  double err = -1.0;
  std::string console;

  explicit Solve(int m, int stat_columns = 2)
      : s(m),
        x_old(test::make_iterate(m)),
        x_new(test::make_iterate(m)),
        stat_succ(1, imax, 1, stat_columns),
        stat_iter_in(1, imax, 1, stat_columns) {
    for (std::int32_t& v : stat_succ.storage()) v = kUnset;
    for (std::int32_t& v : stat_iter_in.storage()) v = kUnset;
    test::fill_all(x_new, kNaN);  // its content on entry must not matter
  }

  void run(double r, double tol_inner, std::int32_t imax_in, std::int32_t isolver = 1) {
    ConsoleCapture capture;
    agesub(s.m, 0.0, r, tol_inner, imax, imax_in, s.beta1, s.beta2, s.beta3, s.beta4, s.rhs, x_old,
           x_new, niter, isolver, err, stat_succ, stat_iter_in, k);
    console = capture.text();
  }

  // Only element (k, isolver) of the statistics may change.
  void expect_recorded(std::int32_t isolver, std::int32_t succ, std::int32_t count) const {
    for (int c = stat_succ.lo2(); c <= stat_succ.hi2(); ++c) {
      for (int row = 1; row <= imax; ++row) {
        const bool mine = row == k && c == isolver;
        EXPECT_EQ(stat_succ(row, c), mine ? succ : kUnset) << row << "," << c;
        EXPECT_EQ(stat_iter_in(row, c), mine ? count : kUnset) << row << "," << c;
      }
    }
    EXPECT_EQ(niter, count);
  }
};

// Every line begins with the record's blank; the rule's text has a blank of
// its own before its 37 hyphens. Inner blanks matter: 19 after "ends"
// (streamfunction), 11 after "no" (vorticity).
const std::string kRule = "  -------------------------------------\n";
const std::string kPsiDone = " (streamfun-solver) inner loop ends successfully at:\n";
const std::string kOmegaDone = " (vorticity-solver) inner loop ends successfully at:\n";
const std::string kPsiFailed =
    " (streamfun-solver) inner loop ends                   with no convergence\n";
const std::string kOmegaFailed =
    " (vorticity-solver) inner loop ends with no           convergence\n";
const std::string kEmpty = " \n";

// Line 4 of a block: a blank, then the count and the change each after a blank.
std::string count_line(std::int32_t count, double err) {
  return "  " + std::to_string(count) + "     error=  " + free_number(err) + "\n";
}

std::string block(const std::string& line2, std::int32_t count, double err) {
  return kRule + line2 + kEmpty + count_line(count, err);
}

double max_change(const RealGrid& a, const RealGrid& b) {
  double d = 0.0;
  for (std::int64_t p = 0; p < a.size(); ++p)
    d = std::fmax(d, std::fabs(a.data()[p] - b.data()[p]));
  return d;
}

bool same_bits(const RealGrid& a, const RealGrid& b) {
  if (a.size() != b.size()) return false;
  for (std::int64_t p = 0; p < a.size(); ++p) {
    if (!(a.data()[p] == b.data()[p])) return false;
  }
  return true;
}

void expect_zero_outside(const RealGrid& x, int m) {
  for (int j = -2; j <= m + 2; ++j) {
    for (int i = -2; i <= m + 2; ++i) {
      if (i < 1 || i > m || j < 1 || j > m) {
        ASSERT_EQ(x(i, j), 0.0) << i << "," << j;
      }
    }
  }
}

// A solve with a random right-hand side and start on the given couplings.
Solve random_solve(int m, bool laplacian, std::uint64_t seed) {
  Solve v(m);
  Rand rnd(seed);
  if (laplacian) {
    v.s.set_couplings(-1.0);
  } else {
    v.s.random_couplings(rnd, -1.0, 0.1);
  }
  test::fill_interior(v.s.rhs, m, rnd, 0.0, 1.0);
  test::fill_interior(v.x_old, m, rnd, 0.0, 1.0);
  return v;
}

TEST(AgeSub, ConvergesToTheDirectSolutionOfTheFivePointSystem) {
  int n = 0;
  for (int m : {5, 9}) {
    for (bool laplacian : {true, false}) {
      for (double r : {0.8, 1.0, 1.2}) {
        SCOPED_TRACE(testing::Message()
                     << "m " << m << (laplacian ? " laplacian" : " unsymmetric") << " r " << r);
        Solve v = random_solve(m, laplacian, 40 + n);
        const std::int32_t isolver = 1 + n++ % 2;
        const Vector exact = test::solve_dense(test::assemble_A(v.s), test::interior(v.s.rhs, m));
        const double tol = 1e-12;
        v.run(r, tol, 5000, isolver);

        ASSERT_GE(v.niter, 2);
        ASSERT_LT(v.niter, 5000);
        v.expect_recorded(isolver, 1, v.niter);
        EXPECT_LT(v.err, tol);
        // x_old is the iterate before the last one, err the change between them.
        EXPECT_EQ(v.err, max_change(v.x_old, v.x_new));
        EXPECT_GT(v.err, 0.0);
        expect_zero_outside(v.x_new, m);
        const Vector x = test::interior(v.x_new, m);
        for (std::size_t p = 0; p < x.size(); ++p) {
          EXPECT_NEAR(x[p], exact[p], 1e-9 * (1.0 + test::max_abs(exact))) << p;
        }
        EXPECT_EQ(v.console, block(isolver == 1 ? kPsiDone : kOmegaDone, v.niter, v.err) + kEmpty);
      }
    }
  }
}

TEST(AgeSub, ChangeEqualToTheToleranceIsNotConvergence) {
  const int m = 5;
  const Solve start = random_solve(m, false, 3);
  // The change of the first iteration from this start.
  Solve first = start;
  first.run(1.0, 0.0, 1);
  const double e1 = first.err;
  ASSERT_GT(e1, 0.0);

  Solve equal_tol = start;
  equal_tol.run(1.0, e1, 1, 2);
  equal_tol.expect_recorded(2, 0, 1);
  EXPECT_EQ(equal_tol.err, e1);
  EXPECT_EQ(equal_tol.console, block(kOmegaFailed, 1, e1) + kEmpty);

  // Just above the change: convergence in the first iteration, count 1.
  Solve above = start;
  above.run(1.0, std::nextafter(e1, std::numeric_limits<double>::infinity()), 1, 2);
  above.expect_recorded(2, 1, 1);
  EXPECT_EQ(above.err, e1);
  EXPECT_TRUE(same_bits(above.x_old, start.x_old));  // not overwritten on success
  EXPECT_EQ(above.console, block(kOmegaDone, 1, e1) + kEmpty);
}

TEST(AgeSub, StartingAtTheSolutionConvergesInTheFirstIteration) {
  const int m = 9;
  Solve v = random_solve(m, false, 11);
  const Vector exact = test::solve_dense(test::assemble_A(v.s), test::interior(v.s.rhs, m));
  for (int j = 1; j <= m; ++j) {
    for (int i = 1; i <= m; ++i) v.x_old(i, j) = exact[test::node(m, i, j)];
  }
  v.run(1.0, 1e-12, 100);
  v.expect_recorded(1, 1, 1);
  EXPECT_EQ(v.console, block(kPsiDone, 1, v.err) + kEmpty);
}

TEST(AgeSub, LimitReachedLeavesTheLastIterateInBothArrays) {
  const int m = 7;
  const Solve start = random_solve(m, true, 5);
  Solve three = start;
  three.run(0.9, 0.0, 3);
  Solve four = start;
  four.run(0.9, 0.0, 4, 2);

  four.expect_recorded(2, 0, 4);
  EXPECT_TRUE(same_bits(four.x_old, four.x_new));
  EXPECT_EQ(four.err, max_change(four.x_new, three.x_new));
  EXPECT_EQ(four.console, block(kOmegaFailed, 4, four.err) + kEmpty);
  three.expect_recorded(1, 0, 3);
  EXPECT_EQ(three.console, block(kPsiFailed, 3, three.err) + kEmpty);
}

TEST(AgeSub, FirstIterationDivergesOnlyOnAChangeAbove1e14) {
  // With rhs = 0 the iteration is linear: scaling the start by a power of two
  // scales every iterate and the change exactly.
  const int m = 5;
  Solve unit = random_solve(m, true, 8);
  test::fill_all(unit.s.rhs, 0.0);
  Solve probe = unit;
  probe.run(1.0, 0.0, 1);
  double scale = 1.0;
  while (probe.err * scale <= 1e14) scale *= 2.0;
  const auto scaled = [&](double f) {
    Solve v = unit;
    for (double& x : v.x_old.storage()) x *= f;
    return v;
  };

  // More than 100 times the initial 1.0e12: divergence before the limit, only
  // the empty line.
  Solve early = scaled(scale);
  const RealGrid start = early.x_old;
  early.run(1.0, 1e-10, 50);
  early.expect_recorded(1, 0, 1);
  EXPECT_EQ(early.err, probe.err * scale);
  EXPECT_TRUE(same_bits(early.x_old, start));
  EXPECT_EQ(early.console, kEmpty);

  // The same divergence in the last permitted iteration prints the block.
  Solve last = scaled(scale);
  last.run(1.0, 1e-10, 1, 2);
  last.expect_recorded(2, 0, 1);
  EXPECT_TRUE(same_bits(last.x_old, start));  // no copy after a divergence exit
  EXPECT_EQ(last.console, block(kOmegaFailed, 1, last.err) + kEmpty);

  // Half of it, between 50 and 100 times the previous change, does not
  // diverge: at the limit the iterate is copied.
  Solve half = scaled(scale / 2.0);
  half.run(1.0, 1e-10, 1);
  EXPECT_GT(half.err, 5e13);
  half.expect_recorded(1, 0, 1);
  EXPECT_TRUE(same_bits(half.x_old, half.x_new));
  EXPECT_EQ(half.console, block(kPsiFailed, 1, half.err) + kEmpty);
  Solve goes_on = scaled(scale / 2.0);
  goes_on.run(1.0, 0.0, 20);
  goes_on.expect_recorded(1, 0, 20);
}

TEST(AgeSub, DivergenceInALaterIteration) {
  // r far below the convergent range: the change grows by more than 100 once
  // the growing part of the error dominates, a few iterations in.
  // (Here in iteration 5 of 50.)
  const int m = 11;
  const double r = 0.01;
  Solve start(m);
  start.s.set_couplings(-1.0);
  Rand rnd(1);
  test::fill_interior(start.x_old, m, rnd, 1.0, 0.05);

  Solve early = start;
  early.run(r, 1e-10, 50);
  const std::int32_t n = early.niter;
  ASSERT_GE(n, 2);
  ASSERT_LE(n, 20);
  early.expect_recorded(1, 0, n);
  EXPECT_EQ(early.console, kEmpty);

  // The n-1 iterations before it do not trigger the test (limit exit there),
  // and their last iterate is the diverging solve's x_old.
  Solve before = start;
  before.run(r, 1e-10, n - 1);
  before.expect_recorded(1, 0, n - 1);
  EXPECT_TRUE(same_bits(early.x_old, before.x_new));
  EXPECT_GT(early.err, 100.0 * before.err);
  EXPECT_EQ(early.err, max_change(early.x_new, before.x_new));

  // The same divergence as the last permitted iteration prints the block.
  Solve at_limit = start;
  at_limit.run(r, 1e-10, n, 2);
  at_limit.expect_recorded(2, 0, n);
  EXPECT_EQ(at_limit.err, early.err);
  EXPECT_TRUE(same_bits(at_limit.x_old, before.x_new));
  EXPECT_EQ(at_limit.console, block(kOmegaFailed, n, early.err) + kEmpty);
}

TEST(AgeSub, NotANumberChangeIsADivergenceExit) {
  const int m = 5;
  // A coupling that is not a number (as a viscosity pole gives): the first
  // iterate has NaN in it.
  Solve base = random_solve(m, true, 9);
  base.s.beta1(2, 3) = kNaN;

  Solve early = base;
  early.run(1.0, 1e-10, 50);
  early.expect_recorded(1, 0, 1);
  EXPECT_TRUE(std::isnan(early.err));
  EXPECT_TRUE(same_bits(early.x_old, base.x_old));
  EXPECT_EQ(early.console, kEmpty);

  Solve last = base;
  last.run(1.0, 1e-10, 1, 2);
  last.expect_recorded(2, 0, 1);
  EXPECT_TRUE(std::isnan(last.err));
  EXPECT_EQ(last.console, block(kOmegaFailed, 1, last.err) + kEmpty);
}

TEST(AgeSub, OverflowingIterationEndsAsDivergenceNotSuccess) {
  // Below r of about 0.7 the iteration grows slowly until its values overflow
  // and turn into NaN; that must not read as an unchanged iterate.
  const int m = 9;
  Solve v(m);
  v.s.set_couplings(-1.0);
  Rand rnd(1);
  test::fill_interior(v.s.rhs, m, rnd, 1.0, 0.0);
  test::fill_interior(v.x_old, m, rnd, 1.0, 0.5);
  v.run(0.3, 1e-10, 5000);
  ASSERT_LT(v.niter, 5000);
  v.expect_recorded(1, 0, v.niter);
  EXPECT_TRUE(std::isnan(v.err));
  EXPECT_EQ(v.console, kEmpty);
}

TEST(AgeSub, NoIterationWhenTheLimitIsBelowOne) {
  for (std::int32_t imax_in : {0, -3}) {
    Solve v = random_solve(5, true, 2);
    const RealGrid start = v.x_old;
    v.run(1.0, 1e-10, imax_in);
    EXPECT_EQ(v.err, 1.0e12);
    EXPECT_EQ(v.niter, kUnset);
    v.expect_recorded(1, kUnset, kUnset);
    EXPECT_TRUE(same_bits(v.x_old, start));
    for (double x : v.x_new.storage()) EXPECT_EQ(x, 0.0);
    EXPECT_EQ(v.console, "");
  }
}

TEST(AgeSub, OtherSolverSelectorPrintsOnlyTheEmptyLine) {
  const int m = 5;
  // Statistics arrays with a third column, so that isolver = 3 has an element.
  Rand rnd(4);
  Solve done(m, 3);
  done.s.set_couplings(-1.0);
  test::fill_interior(done.s.rhs, m, rnd, 0.0, 1.0);
  done.run(1.0, 1e-6, 500, 3);
  done.expect_recorded(3, 1, done.niter);
  EXPECT_EQ(done.console, kEmpty);

  Solve limit(m, 3);
  limit.s.set_couplings(-1.0);
  test::fill_interior(limit.x_old, m, rnd, 0.0, 1.0);
  limit.run(1.0, 0.0, 2, 3);
  limit.expect_recorded(3, 0, 2);
  EXPECT_EQ(limit.console, kEmpty);

  // Without such an element the solve is refused before it writes anything.
  Solve refused(m);
  EXPECT_THROW(refused.run(1.0, 1e-6, 5, 3), RunError);
  refused.expect_recorded(1, kUnset, kUnset);
}

TEST(Norm, LargestDifferenceOverAllPointsAndNaNWins) {
  const int m = 3;
  const int n = m + 5;
  struct Case {
    const char* what;
    std::vector<std::pair<int, double>> a_values;  // storage position, value
    double want;
  };
  const double inf = std::numeric_limits<double>::infinity();
  const std::vector<Case> cases{
      {"equal arrays", {}, 0.0},
      {"largest of several, first and last positions included",
       {{0, -0.5}, {30, 2.0}, {63, -1.5}},
       2.0},
      {"last position", {{5, 1.0}, {63, 3.0}}, 3.0},
      {"infinite difference", {{10, inf}}, inf},
      {"NaN after a larger difference", {{3, 9.0}, {40, kNaN}}, kNaN},
      {"NaN first", {{0, kNaN}, {20, 9.0}}, kNaN},
  };
  for (const Case& c : cases) {
    RealGrid a = test::make_iterate(m), b = test::make_iterate(m);
    for (double& x : a.storage()) x = 0.25;
    for (double& x : b.storage()) x = 0.25;
    for (const auto& [pos, value] : c.a_values) a.data()[pos] = 0.25 + value;
    double dmax = -1.0;
    norm(a, b, n, dmax);
    if (std::isnan(c.want)) {
      EXPECT_TRUE(std::isnan(dmax)) << c.what;
    } else {
      EXPECT_EQ(dmax, c.want) << c.what;
    }
  }
  RealGrid a = test::make_iterate(m), b = test::make_iterate(m);
  double dmax = 0.0;
  EXPECT_THROW(norm(a, b, n + 1, dmax), RunError);
}

}  // namespace
}  // namespace ladyzh
