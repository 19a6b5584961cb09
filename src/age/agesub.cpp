// The AGE inner iteration: four quarter steps per iteration, the change
// measure, the divergence and convergence tests, the statistics of the solve
// and its console messages.
//
// Two engines run the iterations, with the same bits: the literal one
// (the quarter-step routines over three full work arrays, norm, and the copy
// of x_new into x_old after every iteration) and the fused sweep of sweep.hpp,
// which needs no work arrays and alternates the roles of the two iterate
// arrays instead of copying. Builds with LADYZH_LITERAL_AGE use the literal
// engine only; the others use it where the fused sweep does not apply (m even
// or below 3, or arrays in unusual ranges).
#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "age/age.hpp"
#include "age/sweep.hpp"
#include "report/console.hpp"
#include "run/error.hpp"

namespace ladyzh {

void norm(const RealGrid& a, const RealGrid& b, std::int32_t n, double& dmax) {
  dmax = 0.0;
  if (n < 1) return;
  const std::int64_t count = std::int64_t{n} * n;
  if (count > a.size() || count > b.size()) {
    throw RunError("norm: " + std::to_string(n) + " x " + std::to_string(n) +
                   " points asked of arrays of " + std::to_string(a.size()) + " and " +
                   std::to_string(b.size()) + " elements");
  }
  const double* pa = a.data();
  const double* pb = b.data();
  for (std::int64_t p = 0; p < count; ++p) {
    const double d = std::fabs(pa[p] - pb[p]);
    // An iterate that has turned into NaN must not look unchanged: the change
    // measure becomes NaN, which no stopping test accepts as convergence.
    if (std::isnan(d)) {
      dmax = d;
      return;
    }
    if (d > dmax) dmax = d;
  }
}

namespace {

enum class Outcome { success, no_convergence };

// The message block of an exit: separator, the solver's line, an empty line,
// then the recorded count and the change. Only the two solvers have one.
void report_exit(Outcome outcome, std::int32_t isolver, std::int32_t count, double err) {
  std::string_view text;
  if (isolver == 1) {
    text = outcome == Outcome::success
               ? "(streamfun-solver) inner loop ends successfully at:"
               : "(streamfun-solver) inner loop ends                   with no convergence";
  } else if (isolver == 2) {
    text = outcome == Outcome::success
               ? "(vorticity-solver) inner loop ends successfully at:"
               : "(vorticity-solver) inner loop ends with no           convergence";
  } else {
    return;
  }
  console({" -------------------------------------"});
  console({text});
  console({});
  console({count, "     error= ", err});
}

// The literal engine: x_q1..x_q3 created and cleared once per solve.
class LiteralEngine {
 public:
  LiteralEngine(std::int32_t m, double r, const RealGrid& beta1, const RealGrid& beta2,
                const RealGrid& beta3, const RealGrid& beta4, const RealGrid& rhs, RealGrid& x_old,
                RealGrid& x_new)
      : m_(m),
        r_(r),
        beta1_(beta1),
        beta2_(beta2),
        beta3_(beta3),
        beta4_(beta4),
        rhs_(rhs),
        x_old_(x_old),
        x_new_(x_new),
        x_q1_(-2, m + 2, -2, m + 2),
        x_q2_(-2, m + 2, -2, m + 2),
        x_q3_(-2, m + 2, -2, m + 2) {
    const int lo = -2;
    const int hi = m + 2;
    zeros2m(x_q1_, lo, hi, lo, hi);
    zeros2m(x_q2_, lo, hi, lo, hi);
    zeros2m(x_q3_, lo, hi, lo, hi);
    zeros2m(x_new_, lo, hi, lo, hi);
  }

  // One iteration from x_old into x_new; the change between them.
  double iterate() {
    double err = 0.0;
    age::literal_iteration(m_, r_, beta1_, beta2_, beta3_, beta4_, rhs_, x_old_, x_q1_, x_q2_,
                           x_q3_, x_new_, err);
    return err;
  }
  // The iteration goes on from the new iterate.
  void advance() { equal(x_old_, x_new_, -2, m_ + 2, -2, m_ + 2); }
  // x_new holds the last iterate, x_old the one before: nothing to do.
  void finish_exit() {}
  // The copy of the last iteration has already made x_old equal to x_new.
  void finish_limit() {}

 private:
  std::int32_t m_;
  double r_;
  const RealGrid& beta1_;
  const RealGrid& beta2_;
  const RealGrid& beta3_;
  const RealGrid& beta4_;
  const RealGrid& rhs_;
  RealGrid& x_old_;
  RealGrid& x_new_;
  RealGrid x_q1_, x_q2_, x_q3_;
};

// Zero outside 1..m, interior untouched.
void zero_outer_layers(RealGrid& x, int m) {
  for (int j = -2; j <= m + 2; ++j) {
    const bool outer_row = j < 1 || j > m;
    for (int i = -2; i <= m + 2; ++i) {
      if (outer_row || i < 1 || i > m) x(i, j) = 0.0;
      if (!outer_row && i == 0) i = m;  // skip the interior of the row
    }
  }
}

// The change over the points outside 1..m of two iterates.
age::Change outer_change(const RealGrid& a, const RealGrid& b, int m) {
  age::Change c;
  for (int j = -2; j <= m + 2; ++j) {
    const bool outer_row = j < 1 || j > m;
    for (int i = -2; i <= m + 2; ++i) {
      const double d = std::fabs(a(i, j) - b(i, j));
      if (d > c.max) c.max = d;
      if (std::isnan(d)) c.nan = true;
      if (!outer_row && i == 0) i = m;
    }
  }
  return c;
}

// The fused engine. The iterates alternate between the caller's two arrays:
// iteration n reads `cur` and writes `next`, and the next iteration reads what
// this one wrote. At an exit the arrays are exchanged (their storage, once)
// when the last iterate lies in x_old, and at the limit the last iterate is
// copied into the other array once.
//
// Both arrays keep zero outer layers once they have been written (x_new is
// cleared at entry, x_old before the second iteration writes into it), so the
// change over the whole storage, as norm takes it, is the change over the
// interior; only the first iteration compares x_old's outer layers as the
// caller passed them. A change that is not a number is taken again with norm
// itself, so that err carries exactly norm's NaN.
class FusedEngine {
 public:
  FusedEngine(std::int32_t m, double r, const RealGrid& beta1, const RealGrid& beta2,
              const RealGrid& beta3, const RealGrid& beta4, const RealGrid& rhs, RealGrid& x_old,
              RealGrid& x_new)
      : m_(m),
        sweep_(m, r, beta1, beta2, beta3, beta4, rhs),
        x_old_(x_old),
        x_new_(x_new),
        cur_(&x_old),
        next_(&x_new) {
    zero_outer_layers(x_new_, m_);
  }

  double iterate() {
    ++done_;
    if (done_ == 2) zero_outer_layers(*next_, m_);
    age::Change c = sweep_.iterate(*cur_, *next_);
    if (done_ == 1) {
      const age::Change outer = outer_change(*cur_, *next_, m_);
      if (outer.max > c.max) c.max = outer.max;
      c.nan = c.nan || outer.nan;
    }
    if (!c.nan) return c.max;
    double err = 0.0;
    norm(*cur_, *next_, m_ + 5, err);
    return err;
  }
  void advance() { std::swap(cur_, next_); }
  // The last iterate is in next_, the one before in cur_.
  void finish_exit() {
    if (next_ != &x_new_) std::swap(x_old_, x_new_);
  }
  // After advance the last iterate is in cur_: copy it into the other array.
  void finish_limit() {
    if (cur_ == &x_new_) {
      equal(x_old_, x_new_, -2, m_ + 2, -2, m_ + 2);
    } else {
      equal(x_new_, x_old_, -2, m_ + 2, -2, m_ + 2);
    }
  }

 private:
  std::int32_t m_;
  age::FusedSweep sweep_;
  RealGrid& x_old_;
  RealGrid& x_new_;
  RealGrid* cur_;
  RealGrid* next_;
  std::int32_t done_ = 0;
};

// The inner loop with its stopping tests, records and messages.
template <class Engine>
void iterate_solve(Engine& engine, double tol_inner, std::int32_t imax_in, std::int32_t& niter,
                   std::int32_t isolver, double& err, IntGrid& stat_succ, IntGrid& stat_iter_in,
                   std::int32_t k) {
  err = 1.0e12;
  for (std::int32_t iter = 1; iter <= imax_in; ++iter) {
    const double err_prev = err;
    err = engine.iterate();

    // Divergence: a change more than a hundred times the previous one, or a
    // change that is not a number.
    if (std::isnan(err) || std::fabs(err_prev) < 0.01 * std::fabs(err)) {
      engine.finish_exit();
      stat_iter_in(k, isolver) = iter;
      niter = iter;
      stat_succ(k, isolver) = 0;
      if (iter == imax_in) report_exit(Outcome::no_convergence, isolver, iter, err);
      console({});
      return;
    }
    if (err < tol_inner) {
      engine.finish_exit();
      niter = iter;
      stat_succ(k, isolver) = 1;
      stat_iter_in(k, isolver) = iter;
      report_exit(Outcome::success, isolver, iter, err);
      console({});
      return;
    }
    engine.advance();
  }

  if (imax_in >= 1) {
    engine.finish_limit();
    stat_iter_in(k, isolver) = imax_in;
    niter = imax_in;
    stat_succ(k, isolver) = 0;
    report_exit(Outcome::no_convergence, isolver, imax_in, err);
    console({});
  }
}

}  // namespace

void agesub(std::int32_t m, double Re, double r, double tol_inner, std::int32_t imax,
            std::int32_t imax_in, const RealGrid& beta1, const RealGrid& beta2,
            const RealGrid& beta3, const RealGrid& beta4, const RealGrid& rhs, RealGrid& x_old,
            RealGrid& x_new, std::int32_t& niter, std::int32_t isolver, double& err,
            IntGrid& stat_succ, IntGrid& stat_iter_in, std::int32_t k) {
  (void)Re;    // the solver does not depend on the equation's Reynolds number
  (void)imax;  // the statistics arrays carry their own ranges

  // The solve records its outcome in element (k, isolver); an element outside
  // the statistics arrays would be a write beyond their storage.
  const auto holds = [&](const IntGrid& s) {
    return k >= s.lo1() && k <= s.hi1() && isolver >= s.lo2() && isolver <= s.hi2();
  };
  if (imax_in >= 1 && (!holds(stat_succ) || !holds(stat_iter_in))) {
    throw RunError("agesub: statistics element (" + std::to_string(k) + ", " +
                   std::to_string(isolver) + ") lies outside the statistics arrays");
  }

#ifndef LADYZH_LITERAL_AGE
  // Without an iteration x_new is only cleared: the literal engine does that.
  const bool fused = imax_in >= 1 && &x_old != &x_new &&
                     age::FusedSweep::fits(m, beta1, beta2, beta3, beta4, rhs) &&
                     age::FusedSweep::fits_iterate(m, x_old) &&
                     age::FusedSweep::fits_iterate(m, x_new);
  if (fused) {
    FusedEngine engine(m, r, beta1, beta2, beta3, beta4, rhs, x_old, x_new);
    iterate_solve(engine, tol_inner, imax_in, niter, isolver, err, stat_succ, stat_iter_in, k);
    return;
  }
#endif
  LiteralEngine engine(m, r, beta1, beta2, beta3, beta4, rhs, x_old, x_new);
  iterate_solve(engine, tol_inner, imax_in, niter, isolver, err, stat_succ, stat_iter_in, k);
}

}  // namespace ladyzh
