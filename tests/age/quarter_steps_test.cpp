// The four quarter steps: their group patterns (found by probing the routines),
// the equations they solve (checked against dense matrices assembled from the
// pattern tables), and what they leave alone.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <set>
#include <utility>
#include <vector>

#include "age/age.hpp"
#include "age_fixture.hpp"

namespace ladyzh {
namespace {

using test::Matrix;
using test::node;
using test::Rand;
using test::System;
using test::Vector;

using Point = std::pair<int, int>;  // (i, j)
using Group = std::set<Point>;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// The groups of step 1..4 as the patterns give them: lines are rows (fixed j)
// for steps 1 and 2 and columns (fixed i) for steps 3 and 4; along a line
// either "single 1, pairs (2,3), (4,5), ..." or "pairs (1,2), ..., single m".
std::vector<Group> pattern(int step, int m) {
  std::vector<Group> groups;
  for (int line = 1; line <= m; ++line) {
    const bool odd = line % 2 == 1;
    const bool single_first = (step == 1 || step == 3) ? odd : !odd;
    const auto at = [&](int pos) { return step <= 2 ? Point{pos, line} : Point{line, pos}; };
    if (single_first) {
      groups.push_back({at(1)});
      for (int pos = 2; pos + 1 <= m; pos += 2) groups.push_back({at(pos), at(pos + 1)});
    } else {
      for (int pos = 1; pos + 1 <= m; pos += 2) groups.push_back({at(pos), at(pos + 1)});
      groups.push_back({at(m)});
    }
  }
  return groups;
}

// Inputs of one quarter step: the system (couplings and, for step 1, rhs),
// the iterate u = x_old and the previous quarter result w_in.
struct StepInputs {
  System s;
  RealGrid u, w_in;
  explicit StepInputs(int m) : s(m), u(test::make_iterate(m)), w_in(test::make_iterate(m)) {}
};

StepInputs random_inputs(int m, std::uint64_t seed) {
  StepInputs in(m);
  Rand rnd(seed);
  in.s.random_couplings(rnd, -1.0, 0.3);
  test::fill_interior(in.s.rhs, m, rnd, 0.0, 1.0);
  test::fill_interior(in.u, m, rnd, 0.5, 1.0);
  test::fill_interior(in.w_in, m, rnd, -0.5, 1.0);
  return in;
}

void run_step(int step, const StepInputs& in, double r, RealGrid& out) {
  const System& s = in.s;
  switch (step) {
    case 1:
      Q1step(s.m, r, s.beta1, s.beta2, s.beta3, s.beta4, s.rhs, in.u, out);
      break;
    case 2:
      Q2step(s.m, r, s.beta1, s.beta2, in.u, in.w_in, out);
      break;
    case 3:
      Q3step(s.m, r, s.beta3, s.beta4, in.u, in.w_in, out);
      break;
    default:
      Q4step(s.m, r, s.beta3, s.beta4, in.u, in.w_in, out);
      break;
  }
}

RealGrid step_result(int step, const StepInputs& in, double r) {
  RealGrid out = test::make_iterate(in.s.m);
  run_step(step, in, r, out);
  return out;
}

// The group of q as the routine sees it: the points whose result moves when
// the input that enters q's own equation only (rhs(q) in step 1, w_in(q) in
// the others) changes.
Group probed_group(int step, StepInputs in, double r, Point q) {
  const int m = in.s.m;
  const RealGrid base = step_result(step, in, r);
  (step == 1 ? in.s.rhs : in.w_in)(q.first, q.second) += 1.0;
  const RealGrid moved = step_result(step, in, r);
  Group g;
  for (int j = 1; j <= m; ++j) {
    for (int i = 1; i <= m; ++i) {
      if (moved(i, j) != base(i, j)) g.insert({i, j});
    }
  }
  return g;
}

std::vector<Group> probed_groups(int step, int m) {
  const StepInputs in = random_inputs(m, 17 + step);
  std::set<Group> found;
  for (int j = 1; j <= m; ++j) {
    for (int i = 1; i <= m; ++i) {
      const Group g = probed_group(step, in, 0.9, {i, j});
      EXPECT_TRUE(g.count({i, j})) << "step " << step << " point " << i << "," << j;
      found.insert(g);
    }
  }
  return {found.begin(), found.end()};
}

std::set<Group> as_set(const std::vector<Group>& v) {
  return {v.begin(), v.end()};
}

// The pairs of a set of groups.
std::set<Group> pairs_of(const std::vector<Group>& groups) {
  std::set<Group> pairs;
  for (const Group& g : groups) {
    if (g.size() == 2) pairs.insert(g);
  }
  return pairs;
}

TEST(QuarterSteps, GroupsPartitionTheInteriorAlongTheStepDirection) {
  for (int m : {3, 5, 7, 9}) {
    std::vector<std::vector<Group>> probed(5);
    for (int step = 1; step <= 4; ++step) {
      SCOPED_TRACE(testing::Message() << "m " << m << " step " << step);
      probed[step] = probed_groups(step, m);
      // Every interior point lies in exactly one group: the probed groups are
      // disjoint and cover the m x m points.
      std::set<Point> covered;
      std::size_t total = 0;
      for (const Group& g : probed[step]) {
        ASSERT_TRUE(g.size() == 1 || g.size() == 2);
        if (g.size() == 2) {
          const Point p = *g.begin();
          const Point q = *g.rbegin();
          const Point along =
              step <= 2 ? Point{p.first + 1, p.second} : Point{p.first, p.second + 1};
          EXPECT_EQ(q, along) << "a pair must be neighbours along the step's direction";
        }
        covered.insert(g.begin(), g.end());
        total += g.size();
      }
      EXPECT_EQ(total, covered.size());
      EXPECT_EQ(covered.size(), static_cast<std::size_t>(m * m));
      // And the groups are those of the step's pattern.
      EXPECT_EQ(as_set(probed[step]), as_set(pattern(step, m)));
    }
    // G1 and G2 share out the couplings along the first index, G3 and G4
    // those along the second: every neighbour pair is a group of exactly one.
    const std::set<Group> p1 = pairs_of(probed[1]), p2 = pairs_of(probed[2]);
    const std::set<Group> p3 = pairs_of(probed[3]), p4 = pairs_of(probed[4]);
    for (int j = 1; j <= m; ++j) {
      for (int i = 1; i < m; ++i) {
        const Group across_i{{i, j}, {i + 1, j}};
        EXPECT_EQ(p1.count(across_i) + p2.count(across_i), 1u) << m << ": " << i << "," << j;
        const Group across_j{{j, i}, {j, i + 1}};
        EXPECT_EQ(p3.count(across_j) + p4.count(across_j), 1u) << m << ": " << j << "," << i;
      }
    }
    EXPECT_EQ(p1.size() + p2.size(), static_cast<std::size_t>(m * (m - 1)));
    EXPECT_EQ(p3.size() + p4.size(), static_cast<std::size_t>(m * (m - 1)));
  }
}

TEST(QuarterSteps, ThreeByThreeGroupsAreTheListedOnes) {
  // Step 1: row 1 {(1,1)}, pair (2,3); row 2 pair (1,2), {(3,2)}; row 3 as row 1.
  const std::set<Group> g1{{{1, 1}}, {{2, 1}, {3, 1}}, {{1, 2}, {2, 2}},
                           {{3, 2}}, {{1, 3}},         {{2, 3}, {3, 3}}};
  // Step 3: column 1 {(1,1)}, pair (1,2)-(1,3); column 2 pair (2,1)-(2,2),
  // {(2,3)}; column 3 as column 1.
  const std::set<Group> g3{{{1, 1}}, {{1, 2}, {1, 3}}, {{2, 1}, {2, 2}},
                           {{2, 3}}, {{3, 1}},         {{3, 2}, {3, 3}}};
  EXPECT_EQ(as_set(probed_groups(1, 3)), g1);
  EXPECT_EQ(as_set(probed_groups(3, 3)), g3);
}

// Gk + rI and the right-hand side of step k, assembled densely from A and the
// pattern table: Gk is 1 on the diagonal plus A's couplings inside its pairs.
Matrix group_matrix(const Matrix& a, int step, int m) {
  Matrix g = test::zero_matrix(m * m);
  for (int p = 0; p < m * m; ++p) g[p][p] = 1.0;
  for (const Group& grp : pattern(step, m)) {
    if (grp.size() != 2) continue;
    const int p = node(m, grp.begin()->first, grp.begin()->second);
    const int q = node(m, grp.rbegin()->first, grp.rbegin()->second);
    g[p][q] = a[p][q];
    g[q][p] = a[q][p];
  }
  return g;
}

TEST(QuarterSteps, EachStepSolvesItsDefiningEquation) {
  for (int m : {3, 5, 7, 9}) {
    for (double r : {0.3, 1.0, 1.7}) {
      StepInputs in = random_inputs(m, 100 + m);
      // Values beyond the interior must not enter: couplings to them do not exist.
      for (RealGrid* g : {&in.u, &in.w_in, &in.s.rhs}) {
        for (int j = g->lo2(); j <= g->hi2(); ++j) {
          for (int i = g->lo1(); i <= g->hi1(); ++i) {
            if (i < 1 || i > m || j < 1 || j > m) (*g)(i, j) = kNaN;
          }
        }
      }
      const Matrix a = test::assemble_A(in.s);
      const Vector u = test::interior(in.u, m);
      const Vector w = test::interior(in.w_in, m);
      const Vector b = test::interior(in.s.rhs, m);
      for (int step = 1; step <= 4; ++step) {
        SCOPED_TRACE(testing::Message() << "m " << m << " r " << r << " step " << step);
        // The output is never read (NaN inside) and only its interior written
        // (a marker outside).
        RealGrid out = test::make_iterate(m);
        test::fill_all(out, 12345.0);
        for (int j = 1; j <= m; ++j) {
          for (int i = 1; i <= m; ++i) out(i, j) = kNaN;
        }
        run_step(step, in, r, out);
        for (int j = -2; j <= m + 2; ++j) {
          for (int i = -2; i <= m + 2; ++i) {
            const bool inside = i >= 1 && i <= m && j >= 1 && j <= m;
            if (inside) {
              ASSERT_TRUE(std::isfinite(out(i, j))) << i << "," << j;
            } else {
              ASSERT_EQ(out(i, j), 12345.0) << i << "," << j;
            }
          }
        }
        const Matrix g = group_matrix(a, step, m);
        const Vector x = test::interior(out, m);
        Vector lhs = test::multiply(g, x);
        Vector rhs(m * m);
        const Vector gu = test::multiply(g, u);
        const Vector au = test::multiply(a, u);
        for (int p = 0; p < m * m; ++p) {
          lhs[p] += r * x[p];
          rhs[p] = step == 1 ? r * u[p] + gu[p] - 2.0 * au[p] + 2.0 * b[p] : gu[p] + r * w[p];
        }
        const double scale = 1.0 + test::max_abs(rhs);
        for (int p = 0; p < m * m; ++p) EXPECT_NEAR(lhs[p], rhs[p], 1e-13 * scale) << p;
      }
    }
  }
}

TEST(QuarterSteps, UncoupledPointsAndTheOnePointGrid) {
  // Without couplings every group, pairs included, is a single point:
  // step 1 gives ((r-7) u + 2 rhs) / (r+1), steps 2-4 (r w_in + u) / (r+1).
  // m = 1 has no couplings at all.
  for (int m : {1, 3, 5}) {
    StepInputs in = random_inputs(m, 7);
    in.s.set_couplings(0.0);
    const double r = 0.85;
    for (int step = 1; step <= 4; ++step) {
      const RealGrid out = step_result(step, in, r);
      for (int j = 1; j <= m; ++j) {
        for (int i = 1; i <= m; ++i) {
          const double u = in.u(i, j);
          const double want = step == 1 ? ((r - 7.0) * u + 2.0 * in.s.rhs(i, j)) / (r + 1.0)
                                        : (r * in.w_in(i, j) + u) / (r + 1.0);
          EXPECT_NEAR(out(i, j), want, 1e-15 * (1.0 + std::fabs(want)))
              << "m " << m << " step " << step << " at " << i << "," << j;
        }
      }
    }
  }
}

TEST(QuarterSteps, SecondToFourthStepsKeepAFixedIterate) {
  // w_in = x_old solves (Gk + rI) w = Gk x_old + r w_in with w = x_old.
  for (int m : {3, 5, 7, 9}) {
    StepInputs in = random_inputs(m, 55);
    in.w_in = in.u;
    for (int step = 2; step <= 4; ++step) {
      const RealGrid out = step_result(step, in, 1.1);
      for (int j = 1; j <= m; ++j) {
        for (int i = 1; i <= m; ++i) {
          EXPECT_NEAR(out(i, j), in.u(i, j), 1e-14) << m << " " << step << ": " << i << "," << j;
        }
      }
    }
  }
}

TEST(QuarterSteps, EvenMLeavesTheUnreachedPointsUntouched) {
  // m = 4: the points no loop of the step reaches (worked out from the loop bounds).
  const int m = 4;
  const std::vector<std::set<Point>> unreached{
      {},
      {{4, 1}, {4, 3}, {3, 2}, {1, 4}, {2, 4}, {3, 4}, {4, 4}},
      {{3, 1}, {3, 3}, {4, 2}, {1, 4}, {2, 4}, {3, 4}, {4, 4}},
      {{1, 4}, {3, 4}, {2, 3}, {4, 1}, {4, 2}, {4, 3}, {4, 4}},
      {{1, 3}, {3, 3}, {2, 4}, {4, 1}, {4, 2}, {4, 3}, {4, 4}},
  };
  const StepInputs in = random_inputs(m, 3);
  for (int step = 1; step <= 4; ++step) {
    RealGrid out = test::make_iterate(m);
    test::fill_all(out, -77.0);
    run_step(step, in, 1.0, out);
    for (int j = 1; j <= m; ++j) {
      for (int i = 1; i <= m; ++i) {
        if (unreached[step].count({i, j})) {
          EXPECT_EQ(out(i, j), -77.0) << "step " << step << " at " << i << "," << j;
        } else {
          EXPECT_NE(out(i, j), -77.0) << "step " << step << " at " << i << "," << j;
        }
      }
    }
  }
}

}  // namespace
}  // namespace ladyzh
