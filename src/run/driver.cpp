// The outer iteration: one complete solve of the stationary Ladyzhenskaya
// equations in streamfunction-vorticity form,
//
//   -Lap psi = omega,
//   -Lap(nu omega) + Re (psi_y omega_x - psi_x omega_y) = f,
//   nu = 1 + Re eps1 G^((Q-2)/2),   psi = omega = 0 on the boundary.
//
// Every pass solves the two five-point systems one after the other with the
// AGE inner iteration: first the streamfunction from the vorticity of the
// previous pass (plain Laplacian), then the vorticity with the coefficients
// rebuilt from the new streamfunction. The passes stop when both inner solves
// change their fields by less than tol_outer, and the reports follow.
#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <initializer_list>

#include "age/age.hpp"
#include "model/model.hpp"
#include "report/console.hpp"
#include "report/record_file.hpp"
#include "report/reports.hpp"
#include "run/driver.hpp"
#include "run/error.hpp"
#include "run/grid.hpp"

namespace ladyzh {
namespace {

void pass_banner(std::int32_t k) {
  const std::string_view stars77 =
      "*****************************************************************************";
  console({stars77});
  console({"******************         outer iteration:", k, "  *********************"});
  console({stars77});
}

void convergence_line(std::int32_t kconv) {
  console({"successful convergence at outer iteration:", kconv});
}

// The reports are written only after the last pass; a report file already in
// the folder would make the run fail after all its work, so look first.
void refuse_existing_reports() {
  for (const char* name : {"step", "result", "data"}) {
    if (file_exists(name)) {
      throw RunError(std::string("report file '") + name +
                     "' already exists in the working directory; the program never overwrites "
                     "its reports: move it away or run in a fresh folder");
    }
  }
}

// Linux hands out memory it does not have and ends the process when the pages
// are first touched, as zeroing a new array does; so the arrays of the run are
// measured before any is created and a run that cannot fit in the machine's
// memory is refused with a message instead of being killed part way.
void refuse_beyond_memory(std::int32_t m, std::int32_t imax) {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long page_size = sysconf(_SC_PAGESIZE);
  if (pages <= 0 || page_size <= 0) return;  // unknown: let the allocations decide
  // Elements of an index range lo..hi (none when hi < lo), in floating point:
  // the squares of 32-bit extents do not fit in 64 bits once scaled to bytes.
  const auto n = [](double lo, double hi) { return hi >= lo ? hi - lo + 1.0 : 0.0; };
  const double dm = m;
  const double couplings = 2.0 * n(1, dm - 1) * n(2, dm + 1) + 2.0 * n(1, dm) * n(1, dm - 1);
  const double rhs_coef = 3.0 * n(0, dm + 1) * n(0, dm + 1);    // fij, fpsi, plcoef
  const double fields = 4.0 * n(-2, dm + 2) * n(-2, dm + 2);    // omega, psi and olds
  const double minima = 2.0 * n(1, dm) * n(1, dm);              // delta1, delta2
  const double age_work = 3.0 * n(-2, dm + 2) * n(-2, dm + 2);  // agesub's quarter steps
  const double stats_real = 8.0 * n(1, imax);                   // stat_delta, stat_err_cpu
  const double stats_int = 6.0 * n(1, imax);                    // three integer tables
  const double bytes =
      8.0 * (couplings + rhs_coef + fields + minima + age_work + stats_real) + 4.0 * stats_int;
  const double memory = double(pages) * double(page_size);
  if (bytes <= memory) return;
  const double gib = 1024.0 * 1024.0 * 1024.0;
  char text[160];
  std::snprintf(text, sizeof text, "needs %.1f GiB, the machine has %.1f GiB of memory",
                bytes / gib, memory / gib);
  throw RunError("cannot allocate the arrays of the run: m = " + std::to_string(m) +
                 ", imax = " + std::to_string(imax) + " " + text);
}

// The eighteen arrays of the run, created once in this order. East and west
// couplings of row j are stored one row up (second index j+1).
struct RunArrays {
  RealGrid beta1, beta2, beta3, beta4;
  RealGrid fij, fpsi;
  RealGrid omega, omega_old, psi, psi_old;
  RealGrid plcoef, delta1, delta2;
  RunStats stats;

  RunArrays(std::int32_t m, std::int32_t imax)
      : beta1(1, m - 1, 2, m + 1),
        beta2(2, m, 2, m + 1),
        beta3(1, m, 1, m - 1),
        beta4(1, m, 2, m),
        fij(0, m + 1, 0, m + 1),
        fpsi(0, m + 1, 0, m + 1),
        omega(-2, m + 2, -2, m + 2),
        omega_old(-2, m + 2, -2, m + 2),
        psi(-2, m + 2, -2, m + 2),
        psi_old(-2, m + 2, -2, m + 2),
        plcoef(0, m + 1, 0, m + 1),
        delta1(1, m, 1, m),
        delta2(1, m, 1, m),
        stats(imax) {}
};

// An array that cannot be created ends the run with a message naming the grid.
RunArrays create_arrays(std::int32_t m, std::int32_t imax) {
  try {
    return RunArrays(m, imax);
  } catch (const RunError& e) {
    throw RunError("cannot allocate the arrays of the run: m = " + std::to_string(m) +
                   ", imax = " + std::to_string(imax) + " (" + e.what() + ")");
  }
}

}  // namespace

float CPSEC() {
  // Thread CPU time (user plus system) of the calling thread. The first call
  // fixes the origin. When the system cannot supply it the error is shown once
  // and the times read 0: the solve itself does not depend on them.
  static bool started = false;
  static bool failed = false;
  static double origin = 0.0;
  if (failed) return 0.0f;
  timespec ts{};
  if (clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts) != 0) {
    failed = true;
    std::fputs("An error occurred in obtaining the runtime statistics.\n", stderr);
    return 0.0f;
  }
  const double now = double(ts.tv_sec) + 1e-9 * double(ts.tv_nsec);
  if (!started) {
    started = true;
    origin = now;
  }
  return static_cast<float>(now - origin);
}

void main(double Re, double eps1, double Q, std::int32_t m, double r, std::int32_t imax,
          std::int32_t imax_in, double L, double tol_outer, std::int32_t iproblem,
          double tol_inner) {
  const RunParams params{Re, eps1, Q, m, L, r, imax, imax_in, tol_outer, tol_inner, iproblem};

  if (Q < 2.0) {
    console({"warning: Q < 2: the viscosity has a pole where the second differences of psi "
             "vanish (as on the zero streamfunction of the first pass); the vorticity solves "
             "cannot succeed"});
  }
  refuse_existing_reports();
  // Index ranges reach m + 2; beyond the 32-bit range no array could be made.
  if (m > INT32_MAX - 5) {
    throw RunError("cannot allocate the arrays of the run: m = " + std::to_string(m) +
                   " is too large");
  }
  refuse_beyond_memory(m, imax);

  RunArrays a = create_arrays(m, imax);
  RealGrid &beta1 = a.beta1, &beta2 = a.beta2, &beta3 = a.beta3, &beta4 = a.beta4;
  RealGrid &fij = a.fij, &fpsi = a.fpsi, &omega = a.omega, &omega_old = a.omega_old;
  RealGrid &psi = a.psi, &psi_old = a.psi_old, &plcoef = a.plcoef;
  RealGrid &delta1 = a.delta1, &delta2 = a.delta2;
  RunStats& stats = a.stats;

  RecordFile step("step");

  std::int32_t niter_psi = 1;
  std::int32_t niter_omega = 1;
  std::int32_t iconv = 0;
  const double h = L / double(m + 1);

  // Zero fields and halo layers: the boundary condition psi = omega = 0.
  zeros2m(omega, -2, m + 2, -2, m + 2);
  zeros2m(psi, -2, m + 2, -2, m + 2);
  zeros2m(omega_old, -2, m + 2, -2, m + 2);
  zeros2m(psi_old, -2, m + 2, -2, m + 2);
  zeros2m(fij, 0, m + 1, 0, m + 1);
  rmzeros(stats.stat_err_cpu, imax, 4);

  CPSEC();  // starts the clock
  std::int32_t kconv = imax;
  double err_psi = 0.0;
  double err_omega = 0.0;
  double dmin1 = 0.0;
  double dmin2 = 0.0;
  std::int32_t isolver = 0;

  // A stopping test counts a change measure only from a solve that succeeded:
  // a solve that ran out of iterations has a small change but no solution.
  const auto solved = [&](std::int32_t pass, std::int32_t column) {
    return pass >= 1 && stats.stat_succ(pass, column) == 1;
  };

  std::int32_t k = 1;
  for (; k <= imax; ++k) {
    pass_banner(k);

    // Streamfunction half: the plain five-point Laplacian (Re = 0, eps1 = 0,
    // Q = 2), source h^2 omega of the previous pass.
    compPL(m, h, 0.0, 0.0, 2.0, psi_old, plcoef);
    comp_beta(m, 0.0, plcoef, psi_old, beta1, beta2, beta3, beta4);
    comp_delta(m, r, beta1, beta2, beta3, beta4, dmin1, dmin2, delta1, delta2);
    stats.stat_delta(k, 1) = dmin1;
    stats.stat_delta(k, 2) = dmin2;
    compfpsi(m, h, omega, fpsi);

    isolver = 1;
    const double t0 = CPSEC();
    agesub(m, 0.0, r, tol_inner, imax, imax_in, beta1, beta2, beta3, beta4, fpsi, psi_old, psi,
           niter_psi, isolver, err_psi, stats.stat_succ, stats.stat_iter_in, k);
    const double t1 = CPSEC();
    stats.stat_iter(k, 1) = niter_psi;

    // First test: the vorticity change of the previous pass with the
    // streamfunction change of this one.
    if (err_omega < tol_outer && err_psi < tol_outer && k != 1 && solved(k, 1) &&
        solved(k - 1, 2)) {
      iconv = 1;
      kconv = k;
      convergence_line(kconv);
      break;
    }

    // Vorticity half: coefficients from the streamfunction just solved.
    compPL(m, h, eps1, Re, Q, psi, plcoef);
    comp_beta(m, Re, plcoef, psi, beta1, beta2, beta3, beta4);
    comp_delta(m, r, beta1, beta2, beta3, beta4, dmin1, dmin2, delta1, delta2);
    comp_fij(m, h, Re, Q, eps1, fij, iproblem);
    stats.stat_delta(k, 3) = dmin1;
    stats.stat_delta(k, 4) = dmin2;

    isolver = 2;
    const double t2 = CPSEC();
    agesub(m, Re, r, tol_inner, imax, imax_in, beta1, beta2, beta3, beta4, fij, omega_old, omega,
           niter_omega, isolver, err_omega, stats.stat_succ, stats.stat_iter_in, k);
    const double t3 = CPSEC();
    console({" -------------------------------------"});

    stats.stat_iter(k, 2) = niter_omega;
    stats.stat_err_cpu(k, 1) = err_psi;
    stats.stat_err_cpu(k, 2) = err_omega;
    stats.stat_err_cpu(k, 3) = t1 - t0;
    stats.stat_err_cpu(k, 4) = t3 - t2;

    // Second test: both changes of this pass.
    if (err_omega < tol_outer && err_psi < tol_outer && k != 1 && solved(k, 1) &&
        solved(k, 2)) {
      kconv = k;
      iconv = 2;
      convergence_line(kconv);
      break;
    }

    equal(psi_old, psi, -2, m + 2, -2, m + 2);
    equal(omega_old, omega, -2, m + 2, -2, m + 2);
    printstep(params, omega, psi, stats, k, step);
  }

  // The final report, then the step report's last section: the pass that
  // stopped the iteration (its in-loop section was skipped). After a run that
  // used every pass k stands at imax + 1 and no further section is written.
  RecordFile data;
  printout(params, omega, psi, stats, kconv, iconv, data);
  printstep(params, omega, psi, stats, k, step);
  step.close();
  data.close();
}

}  // namespace ladyzh
