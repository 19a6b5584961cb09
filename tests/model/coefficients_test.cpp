// The coefficient field plcoef, the four couplings of the five-point operator and
// the block-determinant magnitudes with their minima.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "model/model.hpp"

namespace ladyzh {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// The arrays of one grid with the driver's ranges, every element preset to a
// value that no routine produces, so an element left unwritten shows.
struct Arrays {
  int m;
  RealGrid psi, plcoef, beta1, beta2, beta3, beta4, delta1, delta2;
  explicit Arrays(int m_)
      : m(m_),
        psi(-2, m_ + 2, -2, m_ + 2),
        plcoef(0, m_ + 1, 0, m_ + 1),
        beta1(1, m_ - 1, 2, m_ + 1),
        beta2(2, m_, 2, m_ + 1),
        beta3(1, m_, 1, m_ - 1),
        beta4(1, m_, 2, m_),
        delta1(1, m_, 1, m_),
        delta2(1, m_, 1, m_) {
    for (RealGrid* a : {&plcoef, &beta1, &beta2, &beta3, &beta4, &delta1, &delta2}) {
      for (double& v : a->storage()) v = kNaN;
    }
  }
  // An uneven streamfunction on the whole array, halo included.
  void fill_psi() {
    for (int i = -2; i <= m + 2; ++i) {
      for (int j = -2; j <= m + 2; ++j) psi(i, j) = std::sin(1.3 * i + 0.7 * j * j) + 0.1 * i * j;
    }
  }
  std::vector<RealGrid*> couplings() { return {&beta1, &beta2, &beta3, &beta4}; }
};

void expect_all(const RealGrid& a, double value) {
  for (int i = a.lo1(); i <= a.hi1(); ++i) {
    for (int j = a.lo2(); j <= a.hi2(); ++j) {
      EXPECT_EQ(a(i, j), value) << "at (" << i << ", " << j << ")";
    }
  }
}

// Re = 0, eps1 = 0, Q = 2 gives the plain Laplacian whatever psi_old holds.
TEST(Coefficients, StreamfunctionHalfIsThePlainLaplacian) {
  for (int m : {2, 3, 5}) {
    SCOPED_TRACE(m);
    Arrays g(m);
    g.fill_psi();
    const double h = 1.0 / (m + 1);
    compPL(m, h, 0.0, 0.0, 2.0, g.psi, g.plcoef);
    expect_all(g.plcoef, 1.0);
    comp_beta(m, 0.0, g.plcoef, g.psi, g.beta1, g.beta2, g.beta3, g.beta4);
    for (RealGrid* b : g.couplings()) expect_all(*b, -1.0);
    for (double r : {0.5, 1.0, 0.0, 0.3, -2.0}) {
      SCOPED_TRACE(r);
      double dmin1 = kNaN, dmin2 = kNaN;
      comp_delta(m, r, g.beta1, g.beta2, g.beta3, g.beta4, dmin1, dmin2, g.delta1, g.delta2);
      const double expected = std::fabs((r + 1.0) * (r + 1.0) - 1.0);
      EXPECT_EQ(dmin1, expected);
      EXPECT_EQ(dmin2, expected);
    }
  }
}

TEST(Coefficients, QTwoGivesTheConstantFieldWithoutReadingPsi) {
  struct Case {
    double Re, eps1;
  };
  for (Case c : {Case{10.0, 0.3}, Case{0.5, 2.0}, Case{100.0, 1e-3}, Case{-4.0, 0.25}}) {
    SCOPED_TRACE(c.Re);
    Arrays g(5);
    g.fill_psi();
    g.psi(2, 3) = kNaN;  // a field that would poison any power of R
    g.psi(4, 1) = kInf;
    compPL(g.m, 0.2, c.eps1, c.Re, 2.0, g.psi, g.plcoef);
    expect_all(g.plcoef, c.Re * c.eps1 + 1.0);
  }
}

TEST(Coefficients, QAboveTwoWithoutNonlinearWeightOrCurvatureGivesOne) {
  for (double Q : {2.5, 3.0, 4.0, 7.0}) {
    SCOPED_TRACE(Q);
    // Re = 0 or eps1 = 0 on a curved streamfunction.
    for (double eps1 : {0.0, 0.8}) {
      Arrays g(5);
      g.fill_psi();
      const double Re = eps1 == 0.0 ? 30.0 : 0.0;
      compPL(g.m, 1.0 / 6.0, eps1, Re, Q, g.psi, g.plcoef);
      expect_all(g.plcoef, 1.0);
    }
    // A zero streamfunction: R = 0 on every node, so R^(Q-2) = 0.
    Arrays g(5);
    for (double& v : g.psi.storage()) v = 0.0;
    compPL(g.m, 1.0 / 6.0, 0.8, 30.0, Q, g.psi, g.plcoef);
    expect_all(g.plcoef, 1.0);
    comp_beta(g.m, 30.0, g.plcoef, g.psi, g.beta1, g.beta2, g.beta3, g.beta4);
    for (RealGrid* b : g.couplings()) expect_all(*b, -1.0);
  }
}

TEST(Coefficients, QBelowTwoOnZeroStreamfunctionIsInfinite) {
  for (double Q : {1.5, 1.0, 0.5}) {
    SCOPED_TRACE(Q);
    Arrays g(3);
    for (double& v : g.psi.storage()) v = 0.0;
    compPL(g.m, 0.25, 0.5, 10.0, Q, g.psi, g.plcoef);
    expect_all(g.plcoef, kInf);
  }
}

// psi is a cubic in the node indices, so the undivided central differences are
// exactly its second derivatives in index units, and plcoef must equal
// 1 + Re*eps1*(H*h)^(Q-2) with H = sqrt(psi_xx^2 + psi_yy^2 + psi_xy^2)/h^2.
// The halo carries the cubic too, so the boundary ring reads real values there.
TEST(Coefficients, CompPLMatchesTheClosedFormOnACubicStreamfunction) {
  const int m = 5;
  auto cubic = [](long i, long j) {
    return 1 * i * i * i - 2 * i * i * j + 3 * i * j * j - 1 * j * j * j + 5 * i * i + 7 * i * j -
           4 * j * j + 3 * i - 2 * j + 11;
  };
  auto d_ii = [](long i, long j) { return 6 * i - 4 * j + 10; };
  auto d_jj = [](long i, long j) { return 6 * i - 6 * j - 8; };
  auto d_ij = [](long i, long j) { return -4 * i + 6 * j + 7; };
  struct Case {
    double Q, h, Re, eps1;
  };
  for (Case c :
       {Case{3.0, 1.0 / 6.0, 10.0, 0.5}, Case{2.5, 0.37, 4.0, 2.0}, Case{4.0, 1.0 / 6.0, 1.0, 0.1},
        Case{1.5, 0.05, 2.0, 0.75}, Case{2.0 + 1e-9, 0.2, 3.0, 1.0}}) {
    SCOPED_TRACE(c.Q);
    Arrays g(m);
    for (int i = -2; i <= m + 2; ++i) {
      for (int j = -2; j <= m + 2; ++j) g.psi(i, j) = static_cast<double>(cubic(i, j));
    }
    compPL(m, c.h, c.eps1, c.Re, c.Q, g.psi, g.plcoef);
    for (int i = 0; i <= m + 1; ++i) {
      for (int j = 0; j <= m + 1; ++j) {
        const long double H2 = static_cast<long double>(d_ii(i, j) * d_ii(i, j)) +
                               d_jj(i, j) * d_jj(i, j) + d_ij(i, j) * d_ij(i, j);
        ASSERT_GT(H2, 0.0L);
        const long double expected =
            1.0L + static_cast<long double>(c.Re) * c.eps1 *
                       std::pow(std::sqrt(H2) / c.h, static_cast<long double>(c.Q) - 2.0L);
        EXPECT_NEAR(g.plcoef(i, j), static_cast<double>(expected),
                    1e-13 * static_cast<double>(expected))
            << "at (" << i << ", " << j << ")";
      }
    }
  }
}

// A 3 x 3 grid whose streamfunction gives every coupling its own value:
// psi(i,j) = i^3/2 + i^2 j + 3 j^2 - i has the x-difference 3i^2 + 4ij - 1 and
// the y-difference 2i^2 + 12j; plcoef(i,j) = 1/2 + i/4 + j/16.
TEST(Coefficients, ConvectionSignsAndRowStorageOnASmallGrid) {
  const int m = 3;
  for (double Re : {2.0, 0.0, -3.0}) {
    SCOPED_TRACE(Re);
    Arrays g(m);
    for (int i = -2; i <= m + 2; ++i) {
      for (int j = -2; j <= m + 2; ++j) g.psi(i, j) = 0.5 * i * i * i + i * i * j + 3 * j * j - i;
    }
    for (int i = 0; i <= m + 1; ++i) {
      for (int j = 0; j <= m + 1; ++j) g.plcoef(i, j) = 0.5 + 0.25 * i + 0.0625 * j;
    }
    comp_beta(m, Re, g.plcoef, g.psi, g.beta1, g.beta2, g.beta3, g.beta4);

    const double re4 = Re / 4.0;
    const RealGrid& psi = g.psi;
    const RealGrid& pl = g.plcoef;
    std::vector<double> all;
    for (int i = 1; i <= m; ++i) {
      for (int j = 1; j <= m; ++j) {
        SCOPED_TRACE(testing::Message() << "row node (" << i << ", " << j << ")");
        const double dy = psi(i, j + 1) - psi(i, j - 1);
        const double dx = psi(i + 1, j) - psi(i - 1, j);
        if (i < m) {
          EXPECT_EQ(g.beta1(i, j + 1), re4 * dy - pl(i + 1, j));
          all.push_back(g.beta1(i, j + 1));
        }
        if (i > 1) {
          EXPECT_EQ(g.beta2(i, j + 1), -re4 * dy - pl(i - 1, j));
          all.push_back(g.beta2(i, j + 1));
        }
        if (j < m) {
          EXPECT_EQ(g.beta3(i, j), -re4 * dx - pl(i, j + 1));
          all.push_back(g.beta3(i, j));
        }
        if (j > 1) {
          EXPECT_EQ(g.beta4(i, j), re4 * dx - pl(i, j - 1));
          all.push_back(g.beta4(i, j));
        }
      }
    }
    EXPECT_EQ(all.size(), std::size_t{4 * m * (m - 1)});  // every coupling exists once
    if (Re == 2.0) {
      // By hand: E(1,1) = 14/2 - plcoef(2,1), N(2,1) = -19/2 - plcoef(2,2),
      // S(2,3) = 35/2 - plcoef(2,2), W(3,2) = -42/2 - plcoef(2,2).
      EXPECT_EQ(g.beta1(1, 2), 5.9375);
      EXPECT_EQ(g.beta3(2, 1), -10.625);
      EXPECT_EQ(g.beta4(2, 3), 16.375);
      EXPECT_EQ(g.beta2(3, 3), -22.125);
      std::sort(all.begin(), all.end());
      EXPECT_EQ(std::adjacent_find(all.begin(), all.end()), all.end()) << "couplings not distinct";
    }
    if (Re == 0.0) {
      // Pure diffusion: a horizontal pair couples through the other node's plcoef.
      for (int i = 1; i < m; ++i) {
        for (int j = 1; j <= m; ++j) {
          EXPECT_EQ(g.beta1(i, j + 1), -pl(i + 1, j));
          EXPECT_EQ(g.beta2(i + 1, j + 1), -pl(i, j));
        }
      }
    }
  }
}

// Couplings with distinct values everywhere and one planted near-singular block
// per direction; a pair with a large product checks that magnitudes are taken.
TEST(Coefficients, CompDeltaFindsThePlantedMinima) {
  const int m = 5;
  const double r = 0.8;
  const double rho2 = (r + 1.0) * (r + 1.0);
  struct Plant {
    int hi, hj, vi, vj;  // horizontal pair (hi,hj)-(hi+1,hj), vertical (vi,vj)-(vi,vj+1)
  };
  for (Plant p : {Plant{3, 2, 4, 1}, Plant{1, 1, 1, 1}, Plant{4, 5, 5, 4}}) {
    SCOPED_TRACE(testing::Message() << p.hi << "," << p.hj << " / " << p.vi << "," << p.vj);
    Arrays g(m);
    for (RealGrid* b : g.couplings()) {
      for (int i = b->lo1(); i <= b->hi1(); ++i) {
        for (int j = b->lo2(); j <= b->hi2(); ++j) (*b)(i, j) = -1.0 - 0.01 * i - 0.001 * j;
      }
    }
    // Products far above rho^2: without the magnitude these would be the minima.
    const int bi = p.hi == 1 ? 2 : 1, bj = p.vj == 1 ? 3 : 1;
    g.beta1(bi, 5) = -10.0;
    g.beta2(bi + 1, 5) = -10.0;
    g.beta3(3, bj) = 10.0;
    g.beta4(3, bj + 1) = 10.0;
    // The planted blocks, stored as the row-node table says.
    g.beta1(p.hi, p.hj + 1) = 1.8;
    g.beta2(p.hi + 1, p.hj + 1) = 1.75;
    g.beta3(p.vi, p.vj) = 2.0;
    g.beta4(p.vi, p.vj + 1) = 1.6;
    const double planted1 = std::fabs(rho2 - 1.8 * 1.75);
    const double planted2 = std::fabs(rho2 - 2.0 * 1.6);

    double dmin1 = kNaN, dmin2 = kNaN;
    comp_delta(m, r, g.beta1, g.beta2, g.beta3, g.beta4, dmin1, dmin2, g.delta1, g.delta2);
    EXPECT_EQ(dmin1, planted1);
    EXPECT_EQ(dmin2, planted2);
    EXPECT_EQ(g.delta1(p.hi, p.hj), planted1);
    EXPECT_EQ(g.delta2(p.vi, p.vj), planted2);
    EXPECT_NEAR(g.delta1(bi, 4), 100.0 - rho2, 1e-12);
    EXPECT_NEAR(g.delta2(3, bj), 100.0 - rho2, 1e-12);
    for (int i = 1; i <= m; ++i) {
      for (int j = 1; j <= m; ++j) {
        if (i < m) {
          EXPECT_EQ(g.delta1(i, j), std::fabs(rho2 - g.beta1(i, j + 1) * g.beta2(i + 1, j + 1)));
          EXPECT_GE(g.delta1(i, j), planted1);
        }
        if (j < m) {
          EXPECT_EQ(g.delta2(i, j), std::fabs(rho2 - g.beta3(i, j) * g.beta4(i, j + 1)));
          EXPECT_GE(g.delta2(i, j), planted2);
        }
      }
    }
  }
}

// The scan starts from the first pairs and replaces only on a strictly smaller
// value, so an undefined (NaN) block later on is passed over, while one at the
// first pair stays.
TEST(Coefficients, CompDeltaScanStartsAtTheFirstPairs) {
  const int m = 3;
  Arrays g(m);
  for (RealGrid* b : g.couplings()) {
    for (double& v : b->storage()) v = -1.0;
  }
  g.beta1(2, 3) = kNaN;  // horizontal pair (2,2)-(3,2)
  g.beta4(3, 3) = kNaN;  // vertical pair (3,2)-(3,3)
  double dmin1 = 0.0, dmin2 = 0.0;
  comp_delta(m, 1.0, g.beta1, g.beta2, g.beta3, g.beta4, dmin1, dmin2, g.delta1, g.delta2);
  EXPECT_EQ(dmin1, 3.0);
  EXPECT_EQ(dmin2, 3.0);

  g.beta2(2, 2) = kNaN;  // first horizontal pair (1,1)-(2,1)
  comp_delta(m, 1.0, g.beta1, g.beta2, g.beta3, g.beta4, dmin1, dmin2, g.delta1, g.delta2);
  EXPECT_TRUE(std::isnan(dmin1));
  EXPECT_EQ(dmin2, 3.0);

  // One interior node: no pairs and no minimum.
  Arrays one(1);
  dmin1 = dmin2 = 0.0;
  comp_delta(1, 1.0, one.beta1, one.beta2, one.beta3, one.beta4, dmin1, dmin2, one.delta1,
             one.delta2);
  EXPECT_TRUE(std::isnan(dmin1));
  EXPECT_TRUE(std::isnan(dmin2));
}

}  // namespace
}  // namespace ladyzh
