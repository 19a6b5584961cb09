// Right-hand sides, the forcing of the test problem and its exact solution.
//
// The forcing is checked against two routes of its own: the derivatives of psi
// come from a generic two-variable polynomial type (exact differentiation of
// the coefficients, long double), and the Laplacian of nu*omega is taken either
// by sixth-order central differences of the function nu*omega, or by the
// product rule with the general-exponent derivatives of G^p.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "model/model.hpp"

namespace ladyzh {
namespace {

using ld = long double;

// Polynomial sum c(i, j) x^i y^j, degrees 0..n-1 in each variable.
struct Poly {
  int n;
  std::vector<ld> c;
  explicit Poly(int n_) : n(n_), c(static_cast<std::size_t>(n_ * n_), 0.0L) {}
  ld& at(int i, int j) { return c[static_cast<std::size_t>(i + j * n)]; }
  ld at(int i, int j) const { return c[static_cast<std::size_t>(i + j * n)]; }

  ld operator()(ld x, ld y) const {
    ld sum = 0.0L;
    for (int j = n - 1; j >= 0; --j) {
      ld row = 0.0L;
      for (int i = n - 1; i >= 0; --i) row = row * x + at(i, j);
      sum = sum * y + row;
    }
    return sum;
  }
  Poly dx() const {
    Poly d(n);
    for (int i = 1; i < n; ++i) {
      for (int j = 0; j < n; ++j) d.at(i - 1, j) = at(i, j) * i;
    }
    return d;
  }
  Poly dy() const {
    Poly d(n);
    for (int i = 0; i < n; ++i) {
      for (int j = 1; j < n; ++j) d.at(i, j - 1) = at(i, j) * j;
    }
    return d;
  }
  friend Poly operator+(const Poly& a, const Poly& b) {
    Poly s(a.n);
    for (std::size_t k = 0; k < s.c.size(); ++k) s.c[k] = a.c[k] + b.c[k];
    return s;
  }
  friend Poly operator*(ld f, const Poly& a) {
    Poly s(a.n);
    for (std::size_t k = 0; k < s.c.size(); ++k) s.c[k] = f * a.c[k];
    return s;
  }
  friend Poly operator*(const Poly& a, const Poly& b) {
    Poly s(a.n);
    for (int i1 = 0; i1 < a.n; ++i1) {
      for (int j1 = 0; j1 < a.n; ++j1) {
        if (a.at(i1, j1) == 0.0L) continue;
        for (int i2 = 0; i1 + i2 < a.n; ++i2) {
          for (int j2 = 0; j1 + j2 < a.n; ++j2)
            s.at(i1 + i2, j1 + j2) += a.at(i1, j1) * b.at(i2, j2);
        }
      }
    }
    return s;
  }
};

// The test problem: psi = (x^4 - 2x^3 + x)(y^4 - 2y^3 + y), its vorticity and G.
struct Problem {
  Poly psi{17}, psi_x{17}, psi_y{17}, w{17}, w_x{17}, w_y{17}, lap_w{17};
  Poly G{17}, G_x{17}, G_y{17}, G_xx{17}, G_yy{17};
  Problem() {
    psi.at(1, 1) = 1;
    psi.at(1, 3) = -2;
    psi.at(1, 4) = 1;
    psi.at(3, 1) = -2;
    psi.at(3, 3) = 4;
    psi.at(3, 4) = -2;
    psi.at(4, 1) = 1;
    psi.at(4, 3) = -2;
    psi.at(4, 4) = 1;
    psi_x = psi.dx();
    psi_y = psi.dy();
    const Poly pxx = psi_x.dx(), pyy = psi_y.dy(), pxy = psi_x.dy();
    w = -1.0L * (pxx + pyy);
    w_x = w.dx();
    w_y = w.dy();
    lap_w = w.dx().dx() + w.dy().dy();
    G = pxx * pxx + 2.0L * (pxy * pxy) + pyy * pyy;
    G_x = G.dx();
    G_y = G.dy();
    G_xx = G_x.dx();
    G_yy = G_y.dy();
  }
};

const Problem& problem() {
  static const Problem p;
  return p;
}

struct Params {
  double Re, eps1, Q;
};

// -Laplacian(nu*omega) + Re*(psi_y*omega_x - psi_x*omega_y) with the Laplacian
// by sixth-order central differences of nu*omega, nu = 1 + Re*eps1*G^((Q-2)/2).
ld forcing_by_differences(const Params& a, ld x, ld y) {
  const Problem& pb = problem();
  const ld c = static_cast<ld>(a.Re) * a.eps1, p = (static_cast<ld>(a.Q) - 2.0L) / 2.0L;
  auto g = [&](ld u, ld v) { return (1.0L + c * std::pow(pb.G(u, v), p)) * pb.w(u, v); };
  const ld s = 1.0L / 256.0L;
  const ld wt[4] = {-49.0L / 18.0L, 3.0L / 2.0L, -3.0L / 20.0L, 1.0L / 90.0L};
  ld lap = 2.0L * wt[0] * g(x, y);
  for (int k = 1; k <= 3; ++k) {
    lap += wt[k] * (g(x + k * s, y) + g(x - k * s, y) + g(x, y + k * s) + g(x, y - k * s));
  }
  lap /= s * s;
  const ld conv = pb.psi_y(x, y) * pb.w_x(x, y) - pb.psi_x(x, y) * pb.w_y(x, y);
  return -lap + static_cast<ld>(a.Re) * conv;
}

// The same forcing by the product rule, with d/dx G^p = p G^(p-1) G_x for any p.
// scale receives the sum of the magnitudes of its terms.
ld forcing_by_product_rule(const Params& a, ld x, ld y, ld& scale) {
  const Problem& pb = problem();
  const ld c = static_cast<ld>(a.Re) * a.eps1, p = (static_cast<ld>(a.Q) - 2.0L) / 2.0L;
  const ld G = pb.G(x, y), Gx = pb.G_x(x, y), Gy = pb.G_y(x, y);
  const ld nu = 1.0L + c * std::pow(G, p);
  const ld nu_x = c * p * std::pow(G, p - 1.0L) * Gx;
  const ld nu_y = c * p * std::pow(G, p - 1.0L) * Gy;
  const ld lap_nu = c * p *
                    (std::pow(G, p - 1.0L) * (pb.G_xx(x, y) + pb.G_yy(x, y)) +
                     (p - 1.0L) * std::pow(G, p - 2.0L) * (Gx * Gx + Gy * Gy));
  const ld w = pb.w(x, y), wx = pb.w_x(x, y), wy = pb.w_y(x, y);
  const ld terms[5] = {nu * pb.lap_w(x, y), 2.0L * nu_x * wx, 2.0L * nu_y * wy, lap_nu * w,
                       static_cast<ld>(a.Re) * (pb.psi_y(x, y) * wx - pb.psi_x(x, y) * wy)};
  scale = 0.0L;
  for (ld t : terms) scale += std::fabs(t);
  return -(terms[0] + terms[1] + terms[2] + terms[3]) + terms[4];
}

const Params kParams[] = {
    {0.0, 0.0, 2.0}, {0.0, 0.7, 1.5}, {25.0, 0.4, 2.0}, {10.0, 0.5, 3.0},
    {5.0, 0.2, 4.0}, {5.0, 0.2, 6.0}, {3.0, 0.1, 1.5},  {40.0, 1.0, 2.6},
    {2.0, 3.0, 6.0}, {1.0, 2.0, 4.0}, {0.5, 1.0, 0.5},
};
const double kPoints[][2] = {{0.3, 0.7},   {0.5, 0.5},   {0.15, 0.4}, {0.8, 0.25},
                             {0.62, 0.91}, {0.07, 0.93}, {0.5, 0.2}};

TEST(Forcing, AgreesWithTheDifferenceAndProductRuleRoutes) {
  for (const Params& a : kParams) {
    for (const auto& pt : kPoints) {
      SCOPED_TRACE(testing::Message() << "Re " << a.Re << " eps1 " << a.eps1 << " Q " << a.Q
                                      << " at (" << pt[0] << ", " << pt[1] << ")");
      ASSERT_GT(problem().G(pt[0], pt[1]), 0.01L);
      double f = 0.0;
      fun(f, pt[0], pt[1], a.Re, a.Q, a.eps1);
      ld scale = 0.0L;
      const ld by_rule = forcing_by_product_rule(a, pt[0], pt[1], scale);
      const ld by_diff = forcing_by_differences(a, pt[0], pt[1]);
      const double tol = static_cast<double>(std::fmax(scale, 1.0L));
      EXPECT_NEAR(f, static_cast<double>(by_diff), 1e-8 * tol);
      EXPECT_NEAR(f, static_cast<double>(by_rule), 1e-13 * tol);
    }
  }
}

// Re = 0 leaves the biharmonic of psi, whatever Q and eps1.
TEST(Forcing, WithoutReynoldsNumberItIsTheBiharmonic) {
  for (double Q : {2.0, 3.0, 4.0, 6.0, 1.5}) {
    for (const auto& pt : kPoints) {
      const ld x = pt[0], y = pt[1];
      // psi_xxxx + 2 psi_xxyy + psi_yyyy of P(x) P(y): 24 P(y) + 2 (12x^2 - 12x)(12y^2 - 12y) + 24
      // P(x).
      const ld Px = x * x * x * x - 2 * x * x * x + x, Py = y * y * y * y - 2 * y * y * y + y;
      const ld expected = 24 * Py + 2 * (12 * x * x - 12 * x) * (12 * y * y - 12 * y) + 24 * Px;
      double f = 0.0;
      fun(f, pt[0], pt[1], 0.0, Q, 0.9);
      EXPECT_NEAR(f, static_cast<double>(expected),
                  1e-13 * std::fabs(static_cast<double>(expected)))
          << "Q " << Q;
    }
  }
}

// Where G = 0 (the midpoints of the edges) Q = 2, 4 and 6 need no negative power
// of G and give the finite values that the smooth nu*omega has there.
TEST(Forcing, QTwoFourSixStayFiniteWhereGVanishes) {
  const double mids[][2] = {{0.0, 0.5}, {0.5, 0.0}, {1.0, 0.5}, {0.5, 1.0}};
  for (double Q : {2.0, 4.0, 6.0}) {
    for (const auto& pt : mids) {
      SCOPED_TRACE(testing::Message() << "Q " << Q << " at (" << pt[0] << ", " << pt[1] << ")");
      EXPECT_EQ(problem().G(pt[0], pt[1]), 0.0L);
      const Params a{7.0, 0.6, Q};
      double f = 0.0;
      fun(f, pt[0], pt[1], a.Re, a.Q, a.eps1);
      ASSERT_TRUE(std::isfinite(f));
      const double by_diff = static_cast<double>(forcing_by_differences(a, pt[0], pt[1]));
      EXPECT_NEAR(f, by_diff, 1e-8 * std::fmax(std::fabs(by_diff), 1.0));
    }
  }
}

TEST(Forcing, TheIndependentRouteMeetsTheProblemsAnchors) {
  // The corner has psi_xy = P'(0)^2 = 1 and nothing else, so G = 2.
  EXPECT_EQ(problem().G(0.0L, 0.0L), 2.0L);
  EXPECT_EQ(problem().psi(0.5L, 0.5L), 25.0L / 256.0L);
  EXPECT_EQ(problem().w(0.5L, 0.5L), 15.0L / 8.0L);
}

TEST(Exact, KnownValues) {
  double psi = -1.0, omega = -1.0;
  exact(psi, omega, 0.5, 0.5);  // P(1/2) = 5/16, psi_xx = psi_yy = -15/16
  EXPECT_EQ(psi, 25.0 / 256.0);
  EXPECT_EQ(omega, 15.0 / 8.0);
  exact(psi, omega, 2.0, -1.0);  // outside the square: P(2) = P(-1) = 2, a(2) = a(-1) = 2
  EXPECT_EQ(psi, 4.0);
  EXPECT_EQ(omega, -96.0);
  for (const auto& pt : kPoints) {
    exact(psi, omega, pt[0], pt[1]);
    EXPECT_NEAR(psi, static_cast<double>(problem().psi(pt[0], pt[1])), 1e-15);
    EXPECT_NEAR(omega, static_cast<double>(problem().w(pt[0], pt[1])), 1e-14);
  }
}

TEST(Exact, ZeroOnEveryEdgeOfTheUnitSquare) {
  for (double edge : {0.0, 1.0}) {
    for (double t : {0.0, 0.1, 0.25, 1.0 / 3.0, 0.5, 0.77, 1.0}) {
      double psi = -1.0, omega = -1.0;
      exact(psi, omega, edge, t);
      EXPECT_EQ(psi, 0.0) << edge << ", " << t;
      EXPECT_EQ(omega, 0.0) << edge << ", " << t;
      exact(psi, omega, t, edge);
      EXPECT_EQ(psi, 0.0) << t << ", " << edge;
      EXPECT_EQ(omega, 0.0) << t << ", " << edge;
    }
  }
}

TEST(RightHandSides, ConstantForcingForEveryOtherProblem) {
  const int m = 5;
  const double h = 1.0 / (m + 1);
  for (int iproblem : {1, 0, 3, -1}) {
    SCOPED_TRACE(iproblem);
    RealGrid fij(0, m + 1, 0, m + 1);
    for (double& v : fij.storage()) v = std::numeric_limits<double>::quiet_NaN();
    comp_fij(m, h, 10.0, 1.5, 0.5, fij, iproblem);
    for (double v : fij.storage()) EXPECT_DOUBLE_EQ(v, h * h);
  }
}

// iproblem = 2 evaluates the forcing at x = i*h, y = j*h on every node, ring included.
TEST(RightHandSides, TestProblemForcingAtTheNodes) {
  const int m = 9;
  for (double L : {1.0, 0.7}) {
    const double h = L / (m + 1);
    for (double Q : {2.0, 4.0}) {
      RealGrid fij(0, m + 1, 0, m + 1);
      for (double& v : fij.storage()) v = std::numeric_limits<double>::quiet_NaN();
      comp_fij(m, h, 3.0, Q, 0.5, fij, 2);
      for (int i = 0; i <= m + 1; ++i) {
        for (int j = 0; j <= m + 1; ++j) {
          double f = 0.0;
          fun(f, i * h, j * h, 3.0, Q, 0.5);
          EXPECT_DOUBLE_EQ(fij(i, j), f * h * h) << "at (" << i << ", " << j << ")";
        }
      }
    }
  }
}

TEST(RightHandSides, StreamfunctionRightHandSideIsHSquaredTimesOmega) {
  const int m = 5;
  const double h = 0.3;
  for (bool zero : {false, true}) {
    RealGrid omega(-2, m + 2, -2, m + 2);
    for (int i = -2; i <= m + 2; ++i) {
      for (int j = -2; j <= m + 2; ++j) {
        const bool outer = i < 0 || j < 0 || i > m + 1 || j > m + 1;
        omega(i, j) =
            outer ? std::numeric_limits<double>::quiet_NaN() : (zero ? 0.0 : 1.0 + i - 0.5 * j * j);
      }
    }
    RealGrid fpsi(0, m + 1, 0, m + 1);
    for (double& v : fpsi.storage()) v = 123.0;
    compfpsi(m, h, omega, fpsi);
    for (int i = 0; i <= m + 1; ++i) {
      for (int j = 0; j <= m + 1; ++j) {
        EXPECT_DOUBLE_EQ(fpsi(i, j), omega(i, j) * h * h) << "at (" << i << ", " << j << ")";
      }
    }
  }
}

}  // namespace
}  // namespace ladyzh
