// Grid arrays and the three array utilities.
#include <gtest/gtest.h>

#include "run/grid.hpp"

namespace ladyzh {
namespace {

TEST(Grid, StorageIsFirstIndexFastestWithInclusiveRanges) {
  RealGrid a(-2, 4, 1, 3);  // 7 x 3
  EXPECT_EQ(a.extent1(), 7);
  EXPECT_EQ(a.extent2(), 3);
  EXPECT_EQ(a.size(), 21);
  for (double v : a.storage()) EXPECT_EQ(v, 0.0);
  a(-2, 1) = 1.0;
  a(-1, 1) = 2.0;
  a(-2, 2) = 3.0;
  a(4, 3) = 4.0;
  EXPECT_EQ(a.data()[0], 1.0);
  EXPECT_EQ(a.data()[1], 2.0);
  EXPECT_EQ(a.data()[7], 3.0);
  EXPECT_EQ(a.data()[20], 4.0);
}

TEST(Grid, EmptyRangesHaveNoElements) {
  RealGrid beta1(1, 0, 2, 2);  // beta1 of m = 1
  EXPECT_EQ(beta1.size(), 0);
  IntGrid stats(1, 0, 1, 2);  // imax = 0
  EXPECT_EQ(stats.size(), 0);
}

TEST(Grid, ArrayTooLargeIsARunErrorNotACrash) {
  constexpr int big = 2147483000;
  EXPECT_THROW(RealGrid(-2, big, -2, big), RunError);
  try {
    RealGrid(-2, big, -2, big);
  } catch (const RunError& e) {
    EXPECT_NE(std::string(e.what()).find("cannot allocate"), std::string::npos);
  }
}

TEST(GridUtilities, Zeros2mClearsTheGivenRangeHaloIncluded) {
  const int m = 3;
  RealGrid omega(-2, m + 2, -2, m + 2);
  for (double& v : omega.storage()) v = 7.0;
  zeros2m(omega, -2, m + 2, -2, m + 2);
  for (double v : omega.storage()) EXPECT_EQ(v, 0.0);
  for (double& v : omega.storage()) v = 7.0;
  zeros2m(omega, 0, m + 1, 1, 0);  // empty second range: nothing happens
  for (double v : omega.storage()) EXPECT_EQ(v, 7.0);
}

TEST(GridUtilities, RmzerosClearsTheFirstElementsWhateverTheLowerBounds) {
  const int m = 5;
  RealGrid beta1(1, m - 1, 2, m + 1);  // (m-1) * m elements, second index from 2
  for (double& v : beta1.storage()) v = 1.5;
  rmzeros(beta1, m - 1, m);
  for (double v : beta1.storage()) EXPECT_EQ(v, 0.0);

  RealGrid fpsi(0, m + 1, 0, m + 1);
  for (double& v : fpsi.storage()) v = 2.5;
  rmzeros(fpsi, m + 1, 2);  // only the first 2 * (m + 1) elements
  for (std::int64_t q = 0; q < fpsi.size(); ++q) {
    EXPECT_EQ(fpsi.data()[q], q < 2 * (m + 1) ? 0.0 : 2.5) << q;
  }

  RealGrid stat_err_cpu(1, 0, 1, 4);
  rmzeros(stat_err_cpu, 0, 4);  // imax = 0: nothing to do
}

TEST(GridUtilities, EqualCopiesTheRangeAndLeavesTheSourceAlone) {
  const int m = 3;
  RealGrid psi(-2, m + 2, -2, m + 2), psi_old(-2, m + 2, -2, m + 2);
  for (std::int64_t q = 0; q < psi.size(); ++q) psi.data()[q] = 0.25 * double(q);
  equal(psi_old, psi, -2, m + 2, -2, m + 2);
  for (std::int64_t q = 0; q < psi.size(); ++q) {
    EXPECT_EQ(psi_old.data()[q], 0.25 * double(q));
    EXPECT_EQ(psi.data()[q], 0.25 * double(q));
  }
}

}  // namespace
}  // namespace ladyzh
