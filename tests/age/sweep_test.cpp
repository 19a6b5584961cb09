// The fused inner iteration against the literal composition of the quarter
// steps: the same bits for one iteration with any number of row blocks, and
// for whole inner solves through every exit of agesub, serial and threaded.
#include "age/sweep.hpp"

#include <gtest/gtest.h>
#include <omp.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "age/age.hpp"
#include "age_fixture.hpp"
#include "report/console.hpp"

namespace ladyzh {
namespace {

using test::Rand;
using test::System;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr std::int32_t kUnset = -7;

bool same_storage(const RealGrid& a, const RealGrid& b) {
  return a.size() == b.size() &&
         std::memcmp(a.data(), b.data(), std::size_t(a.size()) * sizeof(double)) == 0;
}

std::uint64_t bits(double x) {
  std::uint64_t u = 0;
  std::memcpy(&u, &x, sizeof u);
  return u;
}

// The first point where two iterates differ, for the failure message.
std::string first_difference(const RealGrid& a, const RealGrid& b, int m) {
  for (int j = -2; j <= m + 2; ++j) {
    for (int i = -2; i <= m + 2; ++i) {
      if (bits(a(i, j)) != bits(b(i, j))) {
        std::ostringstream out;
        out << "(" << i << ", " << j << "): " << a(i, j) << " vs " << b(i, j);
        return out.str();
      }
    }
  }
  return "none";
}

enum class Couplings { laplacian, unsymmetric, random };

const char* name(Couplings c) {
  switch (c) {
    case Couplings::laplacian:
      return "laplacian";
    case Couplings::unsymmetric:
      return "unsymmetric";
    default:
      return "random";
  }
}

// A system with a random right-hand side: the plain five-point Laplacian, an
// unsymmetric operator near it (couplings -0.9 +- 0.1, as the vorticity
// equation has), or couplings spread over [-1, 1].
System make_system(int m, Couplings c, std::uint64_t seed) {
  System s(m);
  Rand rnd(seed);
  switch (c) {
    case Couplings::laplacian:
      s.set_couplings(-1.0);
      break;
    case Couplings::unsymmetric:
      s.random_couplings(rnd, -0.9, 0.1);
      break;
    case Couplings::random:
      s.random_couplings(rnd, 0.0, 1.0);
      break;
  }
  test::fill_interior(s.rhs, m, rnd, 0.0, 1.0);
  return s;
}

RealGrid random_start(int m, std::uint64_t seed, double base = 0.0, double spread = 1.0) {
  RealGrid x = test::make_iterate(m);
  Rand rnd(seed);
  test::fill_interior(x, m, rnd, base, spread);
  return x;
}

// Thread count for the code under test, restored afterwards.
class Threads {
 public:
  explicit Threads(int n) : saved_(omp_get_max_threads()) { omp_set_num_threads(n); }
  ~Threads() { omp_set_num_threads(saved_); }
  Threads(const Threads&) = delete;
  Threads& operator=(const Threads&) = delete;

 private:
  int saved_;
};

// --- one iteration -----------------------------------------------------------

TEST(FusedSweep, OneIterationGivesTheBitsOfTheQuarterStepsForAnyRowBlocks) {
  for (int m : {3, 5, 7, 9, 33, 129}) {
    for (Couplings c : {Couplings::laplacian, Couplings::unsymmetric, Couplings::random}) {
      const System s = make_system(m, c, 100 + m);
      const RealGrid x_old = random_start(m, 200 + m, 0.5, 2.0);
      for (double r : {0.6, 1.3}) {
        RealGrid q1 = test::make_iterate(m), q2 = q1, q3 = q1, want = q1;
        double want_err = -1.0;
        age::literal_iteration(m, r, s.beta1, s.beta2, s.beta3, s.beta4, s.rhs, x_old, q1, q2, q3,
                               want, want_err);
        // Blocks of one row up to one block per thread for several threads.
        for (int threads : {1, 2, 3, 4, 7}) {
          SCOPED_TRACE(testing::Message()
                       << "m " << m << " " << name(c) << " r " << r << " threads " << threads);
          age::FusedSweep sweep(m, r, s.beta1, s.beta2, s.beta3, s.beta4, s.rhs, threads);
          RealGrid got = test::make_iterate(m);
          const age::Change change = sweep.iterate(x_old, got);
          EXPECT_TRUE(same_storage(got, want)) << first_difference(got, want, m);
          EXPECT_FALSE(change.nan);
          EXPECT_EQ(bits(change.max), bits(want_err));
        }
      }
    }
  }
}

// Couplings that are one number per array (the streamfunction solves) are
// read as numbers; one element that differs sends the sweep back to the
// arrays. Either way the bits are the quarter steps'.
TEST(FusedSweep, UniformCouplingsAreReadAsNumbersWithTheSameBits) {
  struct Case {
    const char* what;
    double values[4];  // beta1 .. beta4 throughout
    int array, i, j;   // then this element of beta<array> (0: none) ...
    double changed;    // ... set to this
    bool uniform;
  };
  const Case cases[] = {
      {"Laplacian", {-1.0, -1.0, -1.0, -1.0}, 0, 0, 0, 0.0, true},
      {"one number per array", {-0.7, -1.1, -0.9, -1.3}, 0, 0, 0, 0.0, true},
      {"all zero", {0.0, 0.0, 0.0, 0.0}, 0, 0, 0, 0.0, true},
      {"-0 in the first element of beta1", {0.0, 0.0, 0.0, 0.0}, 1, 1, 2, -0.0, false},
      {"the last element of beta4 differs", {-1.0, -1.0, -1.0, -1.0}, 4, 0, 0, -0.5, false},
      {"one inner element of beta2 differs", {-1.0, -1.0, -1.0, -1.0}, 2, 3, 4, -0.99, false},
  };
  for (int m : {3, 9, 33, 129}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::Message() << "m " << m << ": " << c.what);
      System s = make_system(m, Couplings::laplacian, 300 + m);
      RealGrid* betas[4] = {&s.beta1, &s.beta2, &s.beta3, &s.beta4};
      for (int b = 0; b < 4; ++b) {
        for (double& x : betas[b]->storage()) x = c.values[b];
      }
      if (c.array != 0) {
        RealGrid& b = *betas[c.array - 1];
        // i = 0: the last element, (hi1, hi2).
        (c.i == 0 ? b(b.hi1(), b.hi2()) : b(c.i, c.j)) = c.changed;
      }
      const RealGrid x_old = random_start(m, 400 + m, 0.5, 2.0);
      const double r = 0.9;
      RealGrid q1 = test::make_iterate(m), q2 = q1, q3 = q1, want = q1;
      double want_err = -1.0;
      age::literal_iteration(m, r, s.beta1, s.beta2, s.beta3, s.beta4, s.rhs, x_old, q1, q2, q3,
                             want, want_err);
      for (int threads : {1, 3}) {
        age::FusedSweep sweep(m, r, s.beta1, s.beta2, s.beta3, s.beta4, s.rhs, threads);
        EXPECT_EQ(sweep.uniform_couplings(), c.uniform);
        RealGrid got = test::make_iterate(m);
        const age::Change change = sweep.iterate(x_old, got);
        EXPECT_TRUE(same_storage(got, want)) << first_difference(got, want, m);
        EXPECT_EQ(bits(change.max), bits(want_err));
      }
    }
  }
}

TEST(FusedSweep, LeavesTheOuterLayersAndFlagsEveryNotANumberDifference) {
  const int m = 9;
  const System s = make_system(m, Couplings::unsymmetric, 5);
  struct Case {
    const char* what;
    int i, j;  // a point of x_old set to `value`
    double value;
    bool nan;
  };
  const double inf = std::numeric_limits<double>::infinity();
  const std::vector<Case> cases{
      {"plain start", 1, 1, 0.25, false},
      {"NaN in a corner", 1, 1, kNaN, true},
      {"NaN in the last row", 4, m, kNaN, true},
      {"NaN in the last column", m, 6, kNaN, true},
      // Infinities make inf - inf in the neighbouring groups.
      {"infinity inside", 5, 5, inf, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RealGrid x_old = random_start(m, 9);
    x_old(c.i, c.j) = c.value;
    for (int threads : {1, 4}) {
      age::FusedSweep sweep(m, 1.1, s.beta1, s.beta2, s.beta3, s.beta4, s.rhs, threads);
      RealGrid out = test::make_iterate(m);
      test::fill_all(out, -3.5);
      const age::Change change = sweep.iterate(x_old, out);
      double dmax = 0.0;
      norm(x_old, out, m + 5, dmax);  // NaN iff some difference is NaN
      EXPECT_EQ(change.nan, c.nan);
      EXPECT_EQ(std::isnan(dmax), c.nan);
      for (int j = -2; j <= m + 2; ++j) {
        for (int i = -2; i <= m + 2; ++i) {
          if (i < 1 || i > m || j < 1 || j > m) {
            ASSERT_EQ(out(i, j), -3.5) << i << "," << j;
          }
        }
      }
    }
  }
}

// --- whole inner solves --------------------------------------------------------

struct Result {
  RealGrid x_old, x_new;
  double err = -1.0;
  std::int32_t niter = kUnset, succ = kUnset, count = kUnset;
};

// The inner solve composed from the quarter-step routines as its definition
// reads: clear, iterate, measure with norm, the divergence test (a NaN change
// included), the convergence test, and the copy into x_old.
Result literal_solve(const System& s, double r, double tol, std::int32_t imax_in,
                     const RealGrid& start) {
  const int m = s.m;
  Result out{start, test::make_iterate(m)};
  RealGrid q1 = test::make_iterate(m), q2 = q1, q3 = q1;
  out.err = 1.0e12;
  for (std::int32_t iter = 1; iter <= imax_in; ++iter) {
    Q1step(m, r, s.beta1, s.beta2, s.beta3, s.beta4, s.rhs, out.x_old, q1);
    Q2step(m, r, s.beta1, s.beta2, out.x_old, q1, q2);
    Q3step(m, r, s.beta3, s.beta4, out.x_old, q2, q3);
    Q4step(m, r, s.beta3, s.beta4, out.x_old, q3, out.x_new);
    const double prev = out.err;
    norm(out.x_old, out.x_new, m + 5, out.err);
    if (std::isnan(out.err) || std::fabs(prev) < 0.01 * std::fabs(out.err)) {
      out.niter = out.count = iter;
      out.succ = 0;
      return out;
    }
    if (out.err < tol) {
      out.niter = out.count = iter;
      out.succ = 1;
      return out;
    }
    equal(out.x_old, out.x_new, -2, m + 2, -2, m + 2);
  }
  if (imax_in >= 1) {
    out.niter = out.count = imax_in;
    out.succ = 0;
  }
  return out;
}

Result production_solve(const System& s, double r, double tol, std::int32_t imax_in,
                        const RealGrid& start) {
  const int m = s.m;
  Result out{start, test::make_iterate(m)};
  test::fill_all(out.x_new, kNaN);  // its content on entry must not matter
  IntGrid succ(1, 2, 1, 2), count(1, 2, 1, 2);
  for (std::int32_t& v : succ.storage()) v = kUnset;
  for (std::int32_t& v : count.storage()) v = kUnset;
  ConsoleCapture quiet;
  agesub(m, 0.0, r, tol, 2, imax_in, s.beta1, s.beta2, s.beta3, s.beta4, s.rhs, out.x_old,
         out.x_new, out.niter, 2, out.err, succ, count, 1);
  out.succ = succ(1, 2);
  out.count = count(1, 2);
  return out;
}

void expect_same(const Result& got, const Result& want, int m) {
  EXPECT_EQ(got.niter, want.niter);
  EXPECT_EQ(got.succ, want.succ);
  EXPECT_EQ(got.count, want.count);
  EXPECT_EQ(bits(got.err), bits(want.err)) << got.err << " vs " << want.err;
  EXPECT_TRUE(same_storage(got.x_new, want.x_new)) << first_difference(got.x_new, want.x_new, m);
  EXPECT_TRUE(same_storage(got.x_old, want.x_old)) << first_difference(got.x_old, want.x_old, m);
}

enum class Exit { success, early_divergence, divergence_at_limit, limit, nan };

struct Scenario {
  const char* what;
  Exit exit;
  double r = 1.0;
  double tol = 1e-4;
  std::int32_t imax_in = 20000;
  std::int32_t count = 0;    // the exit's iteration count, where it is known (else 0)
  double start_scale = 1.0;  // the interior of the start is multiplied by it
  bool nan_coupling = false;
  double outer_value = 0.0;  // held by one point of the start's outer layers
};

// What the literal solve must have done for the scenario to test its exit.
void expect_exit(const Result& ref, const Scenario& sc) {
  EXPECT_EQ(ref.succ, sc.exit == Exit::success ? 1 : 0);
  if (sc.count > 0) {
    EXPECT_EQ(ref.niter, sc.count);
  }
  switch (sc.exit) {
    case Exit::early_divergence:
      EXPECT_LT(ref.niter, sc.imax_in);
      EXPECT_FALSE(std::isnan(ref.err));
      break;
    case Exit::divergence_at_limit:
    case Exit::limit:
      EXPECT_EQ(ref.niter, sc.imax_in);
      break;
    case Exit::nan:
      EXPECT_TRUE(std::isnan(ref.err));
      break;
    case Exit::success:
      break;
  }
}

// Runs the scenario both ways, with one and with two threads.
Result check_scenario(const System& base, const Scenario& sc, std::uint64_t seed) {
  const int m = base.m;
  System s = base;
  if (sc.nan_coupling) s.beta4(m, m) = kNaN;
  RealGrid start = random_start(m, seed);
  for (double& x : start.storage()) x *= sc.start_scale;
  start(-1, m / 2 + 1) = sc.outer_value;

  const Result want = literal_solve(s, sc.r, sc.tol, sc.imax_in, start);
  expect_exit(want, sc);
  for (int threads : {1, 2}) {
    SCOPED_TRACE(testing::Message() << "threads " << threads);
    const Threads use(threads);
    expect_same(production_solve(s, sc.r, sc.tol, sc.imax_in, start), want, m);
  }
  return want;
}

TEST(FusedAgeSub, EveryExitGivesTheBitsOfTheLiteralComposition) {
  const std::vector<Scenario> scenarios{
      {"convergence", Exit::success},
      {"convergence in the first iteration", Exit::success, 1.0, 1e30, 50, 1},
      {"limit after an odd count", Exit::limit, 1.0, 0.0, 7},
      {"limit after an even count", Exit::limit, 1.0, 0.0, 8},
      {"limit after one iteration", Exit::limit, 1.0, 0.0, 1},
      // A start of 1e16: its first change exceeds 1e14.
      {"divergence in the first iteration", Exit::early_divergence, 1.0, 1e-6, 50, 1, 1e16},
      {"divergence in the first iteration as the last", Exit::divergence_at_limit, 1.0, 1e-6, 1, 1,
       1e16},
      // r + 1 = 0.1: the change grows by far more than 100 in one iteration.
      {"divergence in the second iteration", Exit::early_divergence, -0.9, 1e-6, 50, 2},
      {"divergence in the second iteration as the last", Exit::divergence_at_limit, -0.9, 1e-6, 2,
       2},
      {"not a number from a coupling", Exit::nan, 1.0, 1e-6, 50, 1, 1.0, true},
      {"not a number in the start's outer layers", Exit::nan, 1.0, 1e-6, 50, 1, 1.0, false, kNaN},
      {"start's outer layers count in the first change", Exit::limit, 1.0, 0.0, 2, 2, 1.0, false,
       1e3},
  };
  for (int m : {3, 5, 9, 33, 129}) {
    for (Couplings c : {Couplings::laplacian, Couplings::unsymmetric, Couplings::random}) {
      const System base = make_system(m, c, 300 + m);
      for (const Scenario& sc : scenarios) {
        SCOPED_TRACE(testing::Message() << "m " << m << " " << name(c) << ": " << sc.what);
        check_scenario(base, sc, 400 + m);
      }
      // Convergence in the second iteration: a tolerance just above the
      // change of the second iteration.
      SCOPED_TRACE(testing::Message() << "m " << m << " " << name(c) << ": second iteration");
      Scenario two{"two iterations", Exit::limit, 1.0, 0.0, 2, 2};
      const Result limit2 = check_scenario(base, two, 400 + m);
      two = {"convergence in the second iteration",
             Exit::success,
             1.0,
             std::nextafter(limit2.err, std::numeric_limits<double>::infinity()),
             50,
             2};
      check_scenario(base, two, 400 + m);
    }
  }
}

TEST(FusedAgeSub, NotANumberAfterOverflowGivesTheBitsOfTheLiteralComposition) {
  // Below r of about 0.7 the Laplacian's iteration grows slowly until its
  // values overflow; the change turns into NaN after hundreds of iterations.
  for (int m : {5, 9, 33}) {
    SCOPED_TRACE(testing::Message() << "m " << m);
    const System base = make_system(m, Couplings::laplacian, 300 + m);
    const Result want = check_scenario(base, {"overflow", Exit::nan, 0.3, 1e-6, 5000}, 400 + m);
    EXPECT_GT(want.niter, 100);
  }
}

}  // namespace
}  // namespace ladyzh
