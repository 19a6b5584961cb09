// The eleven run parameters of para.dat, in file order, and the statistics
// arrays that the outer iteration fills per pass.
#pragma once

#include <cstdint>

#include "run/grid.hpp"

namespace ladyzh {

struct RunParams {
  double Re = 0.0;         // Reynolds number
  double eps1 = 0.0;       // weight of the nonlinear part of the viscosity
  double Q = 2.0;          // exponent parameter of the viscosity (2: constant)
  std::int32_t m = 0;      // interior grid points per side
  double L = 1.0;          // side length of the square
  double r = 0.0;          // AGE acceleration parameter
  std::int32_t imax = 0;   // maximum number of outer passes (rows of the statistics)
  std::int32_t imax_in = 0;  // maximum number of inner AGE iterations per solve
  double tol_outer = 0.0;  // outer tolerance
  double tol_inner = 0.0;  // inner tolerance
  std::int32_t iproblem = 1;  // 2: test problem with known solution; else constant forcing
};

// Statistics per outer pass, rows 1..imax.
struct RunStats {
  RealGrid stat_delta;    // 1..imax x 1..4: dmin1, dmin2 of the psi half, of the omega half
  IntGrid stat_iter;      // 1..imax x 1..2: inner iteration counts, psi and omega solve
  RealGrid stat_err_cpu;  // 1..imax x 1..4: change psi, change omega, CPU s psi, CPU s omega
  IntGrid stat_succ;      // 1..imax x 1..2: success flags (1 success, 0 failure)
  IntGrid stat_iter_in;   // 1..imax x 1..2: iteration count recorded by the inner solver

  RunStats() = default;
  explicit RunStats(std::int32_t imax)
      : stat_delta(1, imax, 1, 4),
        stat_iter(1, imax, 1, 2),
        stat_err_cpu(1, imax, 1, 4),
        stat_succ(1, imax, 1, 2),
        stat_iter_in(1, imax, 1, 2) {}
};

}  // namespace ladyzh
