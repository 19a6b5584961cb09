// Two ways to run one AGE inner iteration on the same data, giving the same bits.
//
// The literal composition runs the four quarter-step routines one after the
// other over whole grids (x_old -> x_q1 -> x_q2 -> x_q3 -> x_new) and measures the
// change with norm: about thirteen passes over grid-sized arrays.
//
// The fused sweep forms all four quarter steps in one pass down the rows with a
// small rolling window of intermediate rows. Quarter steps 1 and 2 couple points
// only along a row, 3 and 4 only along a column, so x_new of row t needs x_q3 of
// rows t-1..t+1, x_q2 of rows t-2..t+2 and x_old of rows t-3..t+3: a few rows of
// x_q1..x_q3 instead of three full arrays. The change measure is taken on each
// row as soon as it is complete. Every group is solved by the kernels of
// groups.hpp with the same operands as in the quarter-step routines, so the
// iterates are identical bit for bit.
//
// With several threads the rows are cut into one contiguous block per thread
// (static partitioning). Each block recomputes the few window rows it shares
// with its neighbours, so the blocks never wait for each other within an
// iteration, and no value depends on the number of threads.
#pragma once

#include <cstdint>
#include <vector>

#include "run/grid.hpp"

namespace ladyzh::age {

// One inner iteration as the quarter-step routines compose it: Q1step..Q4step
// from x_old into x_new through x_q1..x_q3, then err = norm(x_old, x_new) over
// all (m+5)^2 points. x_old is left as it was.
void literal_iteration(std::int32_t m, double r, const RealGrid& beta1, const RealGrid& beta2,
                       const RealGrid& beta3, const RealGrid& beta4, const RealGrid& rhs,
                       const RealGrid& x_old, RealGrid& x_q1, RealGrid& x_q2, RealGrid& x_q3,
                       RealGrid& x_new, double& err);

// The change of one sweep: the largest |x_old - x_new| over the points it
// compared, and whether any of those differences was not a number (such a
// difference never enters max).
struct Change {
  double max = 0.0;
  bool nan = false;
};

// The fused inner iteration for one linear system (couplings and right-hand
// side fixed for the object's lifetime). Needs m odd and at least 3, the arrays
// in their usual ranges: beta1 (1:m-1, 2:m+1), beta2 (2:m, 2:m+1), beta3
// (1:m, 1:m-1), beta4 (1:m, 2:m), rhs (0:m+1, 0:m+1), iterates (-2:m+2)^2.
// The window rows are allocated once, here; iterate allocates nothing. Here,
// too, each coupling array is checked once for holding a single number
// throughout (as in the streamfunction solves, all -1): the sweep then reads
// the numbers instead of the arrays, with the same bits.
class FusedSweep {
 public:
  // threads: how many threads iterate uses (at most max_threads). 0 takes
  // OpenMP's current maximum, except that grids below min_parallel_m then run
  // on the calling thread alone. The results do not depend on it.
  FusedSweep(std::int32_t m, double r, const RealGrid& beta1, const RealGrid& beta2,
             const RealGrid& beta3, const RealGrid& beta4, const RealGrid& rhs, int threads = 0);

  // Whether the fused sweep can run a system of this size and these arrays.
  static bool fits(std::int32_t m, const RealGrid& beta1, const RealGrid& beta2,
                   const RealGrid& beta3, const RealGrid& beta4, const RealGrid& rhs);
  static bool fits_iterate(std::int32_t m, const RealGrid& x);

  // Writes the interior 1..m x 1..m of x_new from x_old (one inner iteration)
  // and returns the change over the interior points. The outer layers of
  // x_new are not touched; x_old must not be x_new.
  Change iterate(const RealGrid& x_old, RealGrid& x_new);

  int threads() const { return threads_; }
  // Whether every coupling array holds one number throughout (bit for bit),
  // so that the sweep reads those numbers instead of the arrays.
  bool uniform_couplings() const { return uniform_; }

  // Below this m the sweep runs serially: a row block would be too short to
  // pay for waking the other threads.
  static constexpr std::int32_t min_parallel_m = 100;
  // The most threads one sweep uses.
  static constexpr int max_threads = 64;

 private:
  struct Window;                          // one thread's rolling rows
  static constexpr int window_rows = 13;  // H, x_q1, 3 x_q2, 3 x_q3, 3 x_old, 2 x_new

  void sweep_block(Window& w, const RealGrid& x_old, RealGrid& x_new, int j0, int j1,
                   Change& change) const;
  // The sweep of one row block, reading the couplings through `beta` (the
  // arrays themselves, or one number per array).
  template <class Couplings>
  void sweep_rows(const Couplings& beta, Window& w, const RealGrid& x_old, RealGrid& x_new, int j0,
                  int j1, Change& change) const;

  std::int32_t m_;
  double r_;
  const RealGrid& beta1_;
  const RealGrid& beta2_;
  const RealGrid& beta3_;
  const RealGrid& beta4_;
  const RealGrid& rhs_;
  int threads_;
  // Whether each coupling array holds a single number at every element (the
  // same bits), and those numbers: then the sweep reads them instead.
  bool uniform_ = false;
  double uniform_values_[4] = {};
  std::vector<double> zero_;  // a row of zeros: the couplings beyond rows 1 and m
  std::vector<std::vector<double>> windows_;
};

}  // namespace ladyzh::age
