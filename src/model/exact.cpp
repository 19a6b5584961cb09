// The test problem's exact solution: psi = P(x) P(y) with the profile
// P(t) = t^4 - 2 t^3 + t, and its vorticity omega = -(psi_xx + psi_yy).
#include <cmath>

#include "model/model.hpp"

namespace ladyzh {

ExactFactors exact_factors(double t) {
  // P vanishes at t = 0 and t = 1 together with P'' = 12 (t^2 - t), so both
  // fields are exactly zero on the edges of the unit square.
  return {(std::pow(t, 4.0) - 2.0 * std::pow(t, 3.0)) + t, std::pow(t, 2.0) - t};
}

void exact_at(double& psi, double& omega, const ExactFactors& fx, const ExactFactors& fy) {
  psi = fx.p * fy.p;
  const double psi_xx = fx.a * fy.p * 12.0;
  const double psi_yy = fy.a * fx.p * 12.0;
  omega = -(psi_yy + psi_xx);
}

void exact(double& psi, double& omega, double x, double y) {
  exact_at(psi, omega, exact_factors(x), exact_factors(y));
}

}  // namespace ladyzh
