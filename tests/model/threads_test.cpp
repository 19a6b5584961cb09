// The coefficient and right-hand-side routines on grids large enough to fill
// their arrays on several threads: every element written, and the same bits
// on one, two and three threads as element-by-element evaluations in the
// test.
#include <gtest/gtest.h>
#include <omp.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "model/model.hpp"

namespace ladyzh {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

bool same_bits(const RealGrid& a, const RealGrid& b) {
  return a.storage().size() == b.storage().size() &&
         std::memcmp(a.storage().data(), b.storage().data(), a.storage().size() * sizeof(double)) ==
             0;
}

struct Fields {
  RealGrid plcoef, beta1, beta2, beta3, beta4, delta1, delta2, fpsi, fij;
  double dmin1 = kNaN, dmin2 = kNaN;
  explicit Fields(int m)
      : plcoef(0, m + 1, 0, m + 1),
        beta1(1, m - 1, 2, m + 1),
        beta2(2, m, 2, m + 1),
        beta3(1, m, 1, m - 1),
        beta4(1, m, 2, m),
        delta1(1, m, 1, m),
        delta2(1, m, 1, m),
        fpsi(0, m + 1, 0, m + 1),
        fij(0, m + 1, 0, m + 1) {
    for (RealGrid* a : {&plcoef, &beta1, &beta2, &beta3, &beta4, &delta1, &delta2, &fpsi, &fij})
      for (double& v : a->storage()) v = kNaN;
  }
};

// Every routine of one outer pass on `threads` threads.
Fields compute(int m, const RealGrid& psi, const RealGrid& omega, int threads) {
  const int before = omp_get_max_threads();
  omp_set_num_threads(threads);
  Fields f(m);
  const double h = 1.0 / (m + 1);
  compPL(m, h, 0.001, 10.0, 3.0, psi, f.plcoef);
  comp_beta(m, 10.0, f.plcoef, psi, f.beta1, f.beta2, f.beta3, f.beta4);
  comp_delta(m, 0.8, f.beta1, f.beta2, f.beta3, f.beta4, f.dmin1, f.dmin2, f.delta1, f.delta2);
  compfpsi(m, h, omega, f.fpsi);
  comp_fij(m, h, 10.0, 4.0, 0.001, f.fij, 2);
  omp_set_num_threads(before);
  return f;
}

TEST(ModelThreads, EveryElementAsEvaluatedOnItsOwnOnAnyNumberOfThreads) {
  for (int m : {129, 201}) {
    SCOPED_TRACE(m);
    RealGrid psi(-2, m + 2, -2, m + 2), omega(-2, m + 2, -2, m + 2);
    for (int j = -2; j <= m + 2; ++j) {
      for (int i = -2; i <= m + 2; ++i) {
        psi(i, j) = std::sin(0.37 * i + 0.011 * j * j) * 1e-2 + 1e-5 * i * j;
        omega(i, j) = std::cos(0.05 * i * j) - 0.5;
      }
    }
    const Fields one = compute(m, psi, omega, 1);
    const double h = 1.0 / (m + 1);

    // Element by element, from the formulas: the coefficient field at a few
    // nodes of every row block, the right-hand sides everywhere.
    for (int j = 0; j <= m + 1; j += 7) {
      for (int i = 0; i <= m + 1; i += 5) {
        const double dxx = psi(i + 1, j) - 2.0 * psi(i, j) + psi(i - 1, j);
        const double dyy = psi(i, j + 1) - 2.0 * psi(i, j) + psi(i, j - 1);
        const double dxy =
            (psi(i + 1, j + 1) - psi(i + 1, j - 1) - psi(i - 1, j + 1) + psi(i - 1, j - 1)) / 4.0;
        const double R = std::sqrt(std::pow(dxy, 2.0) + std::pow(dyy, 2.0) + std::pow(dxx, 2.0));
        EXPECT_EQ(one.plcoef(i, j), std::pow(R, 1.0) * (10.0 * 0.001) * std::pow(h, -1.0) + 1.0)
            << i << ", " << j;
      }
    }
    for (int j = 0; j <= m + 1; ++j) {
      for (int i = 0; i <= m + 1; ++i) {
        ASSERT_EQ(one.fpsi(i, j), omega(i, j) * std::pow(h, 2.0)) << i << ", " << j;
        double f = 0.0;
        fun(f, i * h, j * h, 10.0, 4.0, 0.001);
        ASSERT_EQ(one.fij(i, j), f * std::pow(h, 2.0)) << i << ", " << j;
      }
    }
    for (int j = 2; j <= m + 1; ++j) {
      for (int i = 1; i <= m - 1; ++i) {
        ASSERT_EQ(one.beta1(i, j), 2.5 * (psi(i, j) - psi(i, j - 2)) - one.plcoef(i + 1, j - 1));
        ASSERT_EQ(one.beta2(i + 1, j),
                  -2.5 * (psi(i + 1, j) - psi(i + 1, j - 2)) - one.plcoef(i, j - 1));
      }
    }
    for (int j = 1; j <= m - 1; ++j) {
      for (int i = 1; i <= m; ++i) {
        ASSERT_EQ(one.beta3(i, j), -2.5 * (psi(i + 1, j) - psi(i - 1, j)) - one.plcoef(i, j + 1));
        ASSERT_EQ(one.beta4(i, j + 1),
                  2.5 * (psi(i + 1, j + 1) - psi(i - 1, j + 1)) - one.plcoef(i, j));
      }
    }
    // The minima against a scan of the finished arrays.
    double lo1 = std::numeric_limits<double>::infinity(), lo2 = lo1;
    for (int j = 1; j <= m; ++j) {
      for (int i = 1; i <= m; ++i) {
        if (i <= m - 1) lo1 = std::fmin(lo1, one.delta1(i, j));
        if (j <= m - 1) lo2 = std::fmin(lo2, one.delta2(i, j));
      }
    }
    EXPECT_EQ(one.dmin1, lo1);
    EXPECT_EQ(one.dmin2, lo2);

    for (int threads : {2, 3}) {
      SCOPED_TRACE(threads);
      const Fields many = compute(m, psi, omega, threads);
      EXPECT_TRUE(same_bits(one.plcoef, many.plcoef));
      EXPECT_TRUE(same_bits(one.beta1, many.beta1));
      EXPECT_TRUE(same_bits(one.beta2, many.beta2));
      EXPECT_TRUE(same_bits(one.beta3, many.beta3));
      EXPECT_TRUE(same_bits(one.beta4, many.beta4));
      EXPECT_TRUE(same_bits(one.delta1, many.delta1));
      EXPECT_TRUE(same_bits(one.delta2, many.delta2));
      EXPECT_TRUE(same_bits(one.fpsi, many.fpsi));
      EXPECT_TRUE(same_bits(one.fij, many.fij));
      EXPECT_EQ(one.dmin1, many.dmin1);
      EXPECT_EQ(one.dmin2, many.dmin2);
    }
  }
}

}  // namespace
}  // namespace ladyzh
