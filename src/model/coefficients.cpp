// The nonlinear coefficient field, the couplings of the five-point operator and
// the determinant magnitudes of the 2-by-2 blocks that the AGE quarter steps invert.
#include <cmath>
#include <limits>

#include "model/model.hpp"

namespace ladyzh {
namespace {

// Grids of at least this many interior nodes per side fill their arrays with
// all threads: every element depends only on its own inputs, so the values are
// the same whatever the number of threads. Smaller grids stay on one thread.
constexpr std::int32_t kThreadedFrom = 100;

}  // namespace

void compPL(std::int32_t m, double h, double eps1, double Re, double Q, const RealGrid& psi,
            RealGrid& plcoef) {
  rmzeros(plcoef, m + 2, m + 2);
  const double q2 = Q - 2.0;
  const double hp = std::pow(h, -q2);  // h^(2-Q), applied once
  const double c = Re * eps1;
  // Columns i run innermost: the first index is the one adjacent in memory.
#pragma omp parallel for schedule(static) if (m >= kThreadedFrom)
  for (int j = 0; j <= m + 1; ++j) {
    for (int i = 0; i <= m + 1; ++i) {
      // Undivided second differences: R is h^2 times the discrete magnitude of
      // the second derivatives, the mixed one counted once under the root. The
      // boundary ring reads the halo layer of psi.
      const double dxx = psi(i + 1, j) - 2.0 * psi(i, j) + psi(i - 1, j);
      const double dyy = psi(i, j + 1) - 2.0 * psi(i, j) + psi(i, j - 1);
      const double dxy =
          (psi(i + 1, j + 1) - psi(i + 1, j - 1) - psi(i - 1, j + 1) + psi(i - 1, j - 1)) / 4.0;
      const double R = std::sqrt(std::pow(dxy, 2.0) + std::pow(dyy, 2.0) + std::pow(dxx, 2.0));
      if (q2 == 0.0) {
        plcoef(i, j) = c + 1.0;
      } else {
        // For Q < 2 a node with R = 0 gives an infinite power, kept as it is.
        plcoef(i, j) = std::pow(R, q2) * c * hp + 1.0;
      }
    }
  }
}

void comp_beta(std::int32_t m, double Re, const RealGrid& plcoef, const RealGrid& psi,
               RealGrid& beta1, RealGrid& beta2, RealGrid& beta3, RealGrid& beta4) {
  rmzeros(beta1, m - 1, m);
  rmzeros(beta2, m - 1, m);
  rmzeros(beta3, m, m - 1);
  rmzeros(beta4, m, m - 1);
  const double re4 = Re / 4.0;
  // East and west couplings of row j are stored at second index j + 1: the
  // row node is (i, j - 1) in these two loops. The first index runs innermost.
#pragma omp parallel if (m >= kThreadedFrom)
  {
#pragma omp for schedule(static) nowait
    for (int j = 2; j <= m + 1; ++j) {
      for (int i = 1; i <= m - 1; ++i) {
        beta1(i, j) = re4 * (psi(i, j) - psi(i, j - 2)) - plcoef(i + 1, j - 1);
      }
      for (int i = 2; i <= m; ++i) {
        beta2(i, j) = -re4 * (psi(i, j) - psi(i, j - 2)) - plcoef(i - 1, j - 1);
      }
    }
    // North and south couplings sit at the row node's own indices.
#pragma omp for schedule(static) nowait
    for (int j = 1; j <= m; ++j) {
      if (j <= m - 1) {
        for (int i = 1; i <= m; ++i) {
          beta3(i, j) = -re4 * (psi(i + 1, j) - psi(i - 1, j)) - plcoef(i, j + 1);
        }
      }
      if (j >= 2) {
        for (int i = 1; i <= m; ++i) {
          beta4(i, j) = re4 * (psi(i + 1, j) - psi(i - 1, j)) - plcoef(i, j - 1);
        }
      }
    }
  }
}

void comp_delta(std::int32_t m, double r, const RealGrid& beta1, const RealGrid& beta2,
                const RealGrid& beta3, const RealGrid& beta4, double& dmin1, double& dmin2,
                RealGrid& delta1, RealGrid& delta2) {
  const double rho = r + 1.0;
  const double rho2 = rho * rho;
  if (m < 2) {
    // A grid of one interior node has no pairs, so there is no minimum.
    dmin1 = std::numeric_limits<double>::quiet_NaN();
    dmin2 = std::numeric_limits<double>::quiet_NaN();
    return;
  }
  // Both scans start from the first pair: (1,1)-(2,1) and (1,1)-(1,2).
  dmin1 = std::fabs(rho2 - beta1(1, 2) * beta2(2, 2));
  dmin2 = std::fabs(rho2 - beta3(1, 1) * beta4(1, 2));
  // The minima do not depend on the order of the scan (no element is negative,
  // and a NaN never replaces a minimum), so the first index runs innermost.
  for (int j = 1; j <= m; ++j) {
    for (int i = 1; i <= m; ++i) {
      if (i <= m - 1) {
        const double d = std::fabs(rho2 - beta1(i, j + 1) * beta2(i + 1, j + 1));
        delta1(i, j) = d;
        if (d < dmin1) dmin1 = d;
      }
      if (j <= m - 1) {
        const double d = std::fabs(rho2 - beta3(i, j) * beta4(i, j + 1));
        delta2(i, j) = d;
        if (d < dmin2) dmin2 = d;
      }
    }
  }
}

}  // namespace ladyzh
