// Right-hand sides of the two five-point systems, both scaled by h^2, and the
// forcing of the test problem with the known solution psi = P(x) P(y).
#include <cmath>

#include "model/model.hpp"

namespace ladyzh {
namespace {

// Grids of at least this many interior nodes per side fill their arrays with
// all threads: every element depends only on its own node, so the values are
// the same whatever the number of threads. Smaller grids stay on one thread.
constexpr std::int32_t kThreadedFrom = 100;

}  // namespace

void compfpsi(std::int32_t m, double h, const RealGrid& omega, RealGrid& fpsi) {
  rmzeros(fpsi, m + 2, m + 2);
  const double h2 = std::pow(h, 2.0);
  // The first index, adjacent in memory, runs innermost.
#pragma omp parallel for schedule(static) if (m >= kThreadedFrom)
  for (int j = 0; j <= m + 1; ++j) {
    for (int i = 0; i <= m + 1; ++i) fpsi(i, j) = omega(i, j) * h2;
  }
}

void comp_fij(std::int32_t m, double h, double Re, double Q, double eps1, RealGrid& fij,
              std::int32_t iproblem) {
  zeros2m(fij, 0, m + 1, 0, m + 1);
  const double h2 = std::pow(h, 2.0);
  const double c = 1.0;
  // Node coordinates from the index, not accumulated, so every x_i is one
  // rounding away; the first index, adjacent in memory, runs innermost.
#pragma omp parallel for schedule(static) if (m >= kThreadedFrom)
  for (int j = 0; j <= m + 1; ++j) {
    const double y = static_cast<double>(j) * h;
    for (int i = 0; i <= m + 1; ++i) {
      const double x = static_cast<double>(i) * h;
      double v = c;
      if (iproblem == 2) fun(v, x, y, Re, Q, eps1);
      fij(i, j) = v * h2;
    }
  }
}

namespace {

// The profile P(t) = t^4 - 2 t^3 + t and the pieces of its derivatives:
// P'' = 12 a, P''' = 12 b, P'''' = 24.
double profile(double t) {
  return (std::pow(t, 4.0) - 2.0 * std::pow(t, 3.0)) + t;
}
double profile_d1(double t) {
  return (4.0 * std::pow(t, 3.0) - 6.0 * std::pow(t, 2.0)) + 1.0;
}
double factor_a(double t) {
  return std::pow(t, 2.0) - t;
}
double factor_b(double t) {
  return 2.0 * t - 1.0;
}

}  // namespace

void fun(double& f, double x, double y, double Re, double Q, double eps1) {
  const double Px = profile(x), Py = profile(y);
  const double P1x = profile_d1(x), P1y = profile_d1(y);
  const double ax = factor_a(x), ay = factor_a(y);
  const double bx = factor_b(x), by = factor_b(y);

  // Derivatives of psi = P(x) P(y).
  const double psi_x = P1x * Py;
  const double psi_y = P1y * Px;
  const double psi_xx = ax * Py * 12.0;
  const double psi_yy = Px * ay * 12.0;
  const double psi_xy = P1y * P1x;
  const double psi_xxx = Py * bx * 12.0;
  const double psi_yyy = Px * by * 12.0;
  const double psi_xxy = ax * P1y * 12.0;
  const double psi_xyy = P1x * ay * 12.0;
  const double psi_xxxx = Py * 24.0;
  const double psi_yyyy = Px * 24.0;
  const double psi_xxxy = P1y * bx * 12.0;
  const double psi_xyyy = P1x * by * 12.0;
  const double psi_xxyy = ax * ay * 144.0;

  // Vorticity omega = -Laplacian(psi), its gradient and its Laplacian.
  const double w = -(psi_yy + psi_xx);
  const double w_x = -(psi_xyy + psi_xxx);
  const double w_y = -(psi_xxy + psi_yyy);
  const double lap_w = -((2.0 * psi_xxyy + psi_xxxx) + psi_yyyy);

  // G = psi_xx^2 + 2 psi_xy^2 + psi_yy^2 and its first and second derivatives.
  const double G = (2.0 * std::pow(psi_xy, 2.0) + std::pow(psi_yy, 2.0)) + std::pow(psi_xx, 2.0);
  const double G_x = (2.0 * psi_xxx * psi_xx + 4.0 * psi_xxy * psi_xy) + 2.0 * psi_xyy * psi_yy;
  const double G_y = (2.0 * psi_yyy * psi_yy + 2.0 * psi_xxy * psi_xx) + 4.0 * psi_xyy * psi_xy;
  const double G_xx = (2.0 * (std::pow(psi_xyy, 2.0) + psi_yy * psi_xxyy) +
                       4.0 * (std::pow(psi_xxy, 2.0) + psi_xy * psi_xxxy)) +
                      2.0 * (std::pow(psi_xxx, 2.0) + psi_xx * psi_xxxx);
  const double G_yy = (4.0 * (std::pow(psi_xyy, 2.0) + psi_xy * psi_xyyy) +
                       2.0 * (std::pow(psi_xxy, 2.0) + psi_xx * psi_xxyy)) +
                      2.0 * (std::pow(psi_yyy, 2.0) + psi_yy * psi_yyyy);

  // Viscosity nu = 1 + c G^p and its derivatives. Q = 4 and Q = 6 avoid the
  // negative powers of G, so they stay finite where G = 0.
  const double p = (Q - 2.0) / 2.0;
  const double c = Re * eps1;
  double nu, nu_x, nu_y, nu_xx, nu_yy;
  if (Q == 2.0) {
    nu = c + 1.0;
    nu_x = 0.0;
    nu_y = 0.0;
    nu_xx = 0.0;
    nu_yy = 0.0;
  } else if (Q == 4.0) {
    nu = c * G + 1.0;
    nu_x = c * G_x;
    nu_y = c * G_y;
    nu_xx = c * G_xx;
    nu_yy = c * G_yy;
  } else if (Q == 6.0) {
    nu = std::pow(G, p) * c + 1.0;
    nu_x = c * p * G_x * G;
    nu_y = c * p * G_y * G;
    nu_xx = (std::pow(G_x, 2.0) + G_xx * G) * c * p;
    nu_yy = (std::pow(G_y, 2.0) + G_yy * G) * c * p;
  } else {
    nu = std::pow(G, p) * c + 1.0;
    nu_x = std::pow(G, p - 1.0) * c * p * G_x;
    nu_y = std::pow(G, p - 1.0) * c * p * G_y;
    nu_xx = ((p - 1.0) * std::pow(G_x, 2.0) + G_xx * G) * std::pow(G, p - 2.0) * c * p;
    nu_yy = ((p - 1.0) * std::pow(G_y, 2.0) + G_yy * G) * std::pow(G, p - 2.0) * c * p;
  }

  // D = Laplacian(nu * omega) by the product rule.
  const double lap_nu = nu_yy + nu_xx;
  const double D = 2.0 * (w_y * nu_y + w_x * nu_x) + nu * lap_w + lap_nu * w;
  f = -(Re * (psi_x * w_y - psi_y * w_x) + D);
}

}  // namespace ladyzh
