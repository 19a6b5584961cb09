// The test problem's exact solution: psi = P(x) P(y) with the profile
// P(t) = t^4 - 2 t^3 + t, and its vorticity omega = -(psi_xx + psi_yy).
#include <cmath>

#include "model/model.hpp"

namespace ladyzh {

void exact(double& psi, double& omega, double x, double y) {
  // P vanishes at t = 0 and t = 1 together with P'' = 12 (t^2 - t), so both
  // fields are exactly zero on the edges of the unit square.
  const double px = (std::pow(x, 4.0) - 2.0 * std::pow(x, 3.0)) + x;
  const double py = (std::pow(y, 4.0) - 2.0 * std::pow(y, 3.0)) + y;
  const double ax = std::pow(x, 2.0) - x;
  const double ay = std::pow(y, 2.0) - y;
  psi = px * py;
  const double psi_xx = ax * py * 12.0;
  const double psi_yy = ay * px * 12.0;
  omega = -(psi_yy + psi_xx);
}

}  // namespace ladyzh
