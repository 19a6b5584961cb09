// The AGE (Alternating Group Explicit) inner solver for the five-point system
//   4 u(i,j) + E u(i+1,j) + W u(i-1,j) + N u(i,j+1) + S u(i,j-1) = rhs(i,j)
// on the interior 1..m x 1..m, with E = beta1(i,j+1), W = beta2(i,j+1),
// N = beta3(i,j), S = beta4(i,j). One inner iteration is four quarter steps of
// the splitting A = G1 + G2 + G3 + G4 (Douglas-Rachford form).
//
// Iterates x_old, x_q1..x_q3, x_new: -2..m+2 x -2..m+2; rhs: 0..m+1 x 0..m+1.
#pragma once

#include <cstdint>

#include "run/grid.hpp"

namespace ladyzh {

// (G1 + rI) x_q1 = (rI + G1 - 2A) x_old + 2 rhs.
void Q1step(std::int32_t m, double r, const RealGrid& beta1, const RealGrid& beta2,
            const RealGrid& beta3, const RealGrid& beta4, const RealGrid& rhs,
            const RealGrid& x_old, RealGrid& x_q1);

// (Gk + rI) w_out = Gk x_old + r w_in, k = 2 (pairs along i), 3 and 4 (along j).
void Q2step(std::int32_t m, double r, const RealGrid& beta1, const RealGrid& beta2,
            const RealGrid& x_old, const RealGrid& w_in, RealGrid& w_out);
void Q3step(std::int32_t m, double r, const RealGrid& beta3, const RealGrid& beta4,
            const RealGrid& x_old, const RealGrid& w_in, RealGrid& w_out);
void Q4step(std::int32_t m, double r, const RealGrid& beta3, const RealGrid& beta4,
            const RealGrid& x_old, const RealGrid& w_in, RealGrid& w_out);

// dmax = the largest |a - b| over the n x n points of a and b (the whole storage
// of two (m+5) x (m+5) iterates); NaN when any difference is not a number.
void norm(const RealGrid& a, const RealGrid& b, std::int32_t n, double& dmax);

// One inner solve: iterates from x_old until the change falls below tol_inner,
// diverges, or imax_in iterations have run; records the outcome in row k,
// column isolver of stat_succ and stat_iter_in and reports it on the console.
void agesub(std::int32_t m, double Re, double r, double tol_inner, std::int32_t imax,
            std::int32_t imax_in, const RealGrid& beta1, const RealGrid& beta2,
            const RealGrid& beta3, const RealGrid& beta4, const RealGrid& rhs, RealGrid& x_old,
            RealGrid& x_new, std::int32_t& niter, std::int32_t isolver, double& err,
            IntGrid& stat_succ, IntGrid& stat_iter_in, std::int32_t k);

}  // namespace ladyzh
