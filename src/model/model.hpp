// The discrete model: the nonlinear coefficient field and the couplings of the
// five-point operator, the right-hand sides of both equations, the forcing of
// the test problem and its exact solution.
//
// Array ranges (first index i in x, second index j in y):
//   psi, omega     -2..m+2 x -2..m+2      plcoef, fpsi, fij   0..m+1 x 0..m+1
//   beta1 (east)    1..m-1 x  2..m+1      beta2 (west)        2..m   x 2..m+1
//   beta3 (north)   1..m   x  1..m-1      beta4 (south)       1..m   x 2..m
//   delta1, delta2  1..m   x  1..m
// East and west couplings of row j are stored one row up, at second index j+1.
#pragma once

#include <cstdint>

#include "run/grid.hpp"

namespace ladyzh {

// plcoef(i, j) = 1 + Re*eps1*R^(Q-2)*h^(2-Q) on 0..m+1 x 0..m+1, R the root of the
// squared undivided second differences of psi (mixed difference weighted 1).
void compPL(std::int32_t m, double h, double eps1, double Re, double Q, const RealGrid& psi,
            RealGrid& plcoef);

// The four couplings: minus plcoef at the neighbour plus the convection part
// Re/4 times a centred difference of psi.
void comp_beta(std::int32_t m, double Re, const RealGrid& plcoef, const RealGrid& psi,
               RealGrid& beta1, RealGrid& beta2, RealGrid& beta3, RealGrid& beta4);

// |(r+1)^2 - c_pq*c_qp| for every horizontal pair (delta1) and vertical pair
// (delta2), and the smallest of each kind.
void comp_delta(std::int32_t m, double r, const RealGrid& beta1, const RealGrid& beta2,
                const RealGrid& beta3, const RealGrid& beta4, double& dmin1, double& dmin2,
                RealGrid& delta1, RealGrid& delta2);

// fpsi = h^2 * omega on 0..m+1 x 0..m+1.
void compfpsi(std::int32_t m, double h, const RealGrid& omega, RealGrid& fpsi);

// fij = h^2 * f on 0..m+1 x 0..m+1: f = 1, or fun for iproblem = 2.
void comp_fij(std::int32_t m, double h, double Re, double Q, double eps1, RealGrid& fij,
              std::int32_t iproblem);

// The forcing of the test problem at (x, y).
void fun(double& f, double x, double y, double Re, double Q, double eps1);

// The test problem's exact streamfunction and vorticity at (x, y).
void exact(double& psi, double& omega, double x, double y);

// The exact solution is separable: each coordinate t enters through the
// profile P(t) = t^4 - 2 t^3 + t and a(t) = t^2 - t only. A listing over many
// nodes forms these once per coordinate; exact_at combines them exactly as
// exact does (exact is exact_at of the factors of x and y), so both give the
// same bits.
struct ExactFactors {
  double p;  // P(t)
  double a;  // t^2 - t
};
ExactFactors exact_factors(double t);
void exact_at(double& psi, double& omega, const ExactFactors& fx, const ExactFactors& fy);

}  // namespace ladyzh
