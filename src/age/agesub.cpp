// The AGE inner iteration: four quarter steps per iteration, the change
// measure, the divergence and convergence tests, the statistics of the solve
// and its console messages.
#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>

#include "age/age.hpp"
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

  const int lo = -2;
  const int hi = m + 2;
  RealGrid x_q1(lo, hi, lo, hi);
  RealGrid x_q2(lo, hi, lo, hi);
  RealGrid x_q3(lo, hi, lo, hi);
  zeros2m(x_q1, lo, hi, lo, hi);
  zeros2m(x_q2, lo, hi, lo, hi);
  zeros2m(x_q3, lo, hi, lo, hi);
  zeros2m(x_new, lo, hi, lo, hi);

  err = 1.0e12;
  for (std::int32_t iter = 1; iter <= imax_in; ++iter) {
    Q1step(m, r, beta1, beta2, beta3, beta4, rhs, x_old, x_q1);
    Q2step(m, r, beta1, beta2, x_old, x_q1, x_q2);
    Q3step(m, r, beta3, beta4, x_old, x_q2, x_q3);
    Q4step(m, r, beta3, beta4, x_old, x_q3, x_new);

    const double err_prev = err;
    norm(x_old, x_new, m + 5, err);

    // Divergence: a change more than a hundred times the previous one, or a
    // change that is not a number.
    if (std::isnan(err) || std::fabs(err_prev) < 0.01 * std::fabs(err)) {
      stat_iter_in(k, isolver) = iter;
      niter = iter;
      stat_succ(k, isolver) = 0;
      if (iter == imax_in) report_exit(Outcome::no_convergence, isolver, iter, err);
      console({});
      return;
    }
    if (err < tol_inner) {
      niter = iter;
      stat_succ(k, isolver) = 1;
      stat_iter_in(k, isolver) = iter;
      report_exit(Outcome::success, isolver, iter, err);
      console({});
      return;
    }
    equal(x_old, x_new, lo, hi, lo, hi);
  }

  if (imax_in >= 1) {
    stat_iter_in(k, isolver) = imax_in;
    niter = imax_in;
    stat_succ(k, isolver) = 0;
    report_exit(Outcome::no_convergence, isolver, imax_in, err);
    console({});
  }
}

}  // namespace ladyzh
