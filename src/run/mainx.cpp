// The process entry: reads para.dat from the working directory, echoes the
// parameters and the problem being solved, and runs the solve. A run that ends
// early (an input or output failure, a parameter the solver cannot work with,
// an array that cannot be created) writes one line on stderr and exits with 1.
#include <csignal>
#include <cstdio>
#include <exception>
#include <new>
#include <string>

#include "report/console.hpp"
#include "run/driver.hpp"
#include "run/error.hpp"
#include "run/params.hpp"

namespace ladyzh {
namespace {

void report_error(const std::string& message) {
  std::fprintf(stderr, "ladyzh: %s\n", message.c_str());
  std::fflush(stderr);
}

}  // namespace

int mainx() {
  // Under a file-size limit (ulimit -f) a write beyond it would kill the
  // process without a word; ignored, the write fails with EFBIG and the run
  // ends with the message naming the report file.
  std::signal(SIGXFSZ, SIG_IGN);

  RunParams p;
  bool have_params = false;
  try {
    // Every value is read, and the file closed, before anything is echoed.
    p = read_params("para.dat");
    have_params = true;

    console({"Re", p.Re});
    console({"eps1", p.eps1});
    console({"Q", p.Q});
    console({"m", p.m});
    console({"L", p.L});
    console({"r", p.r});
    console({"imax", p.imax});
    console({"imax_in", p.imax_in});
    console({"tol_outer", p.tol_outer});
    console({"tol_inner", p.tol_inner});

    if (p.iproblem == 1) {
      console({"we solve the problem with c=1"});
    } else if (p.iproblem == 2) {
      console({"we solve the problem with known solution"});
      console({" psi(x,y) = ( x(x-1)y(y-1) )^2"});
    }

    // Rejected here, before any array or report file is created.
    check_params(p);

    // The driver takes L after imax_in and iproblem before tol_inner.
    main(p.Re, p.eps1, p.Q, p.m, p.r, p.imax, p.imax_in, p.L, p.tol_outer, p.iproblem, p.tol_inner);

    console_flush();
    return 0;
  } catch (const RunError& e) {
    report_error(e.what());
  } catch (const std::bad_alloc&) {
    report_error(have_params ? "cannot allocate the arrays of the run (m = " + std::to_string(p.m) +
                                   ", imax = " + std::to_string(p.imax) + "): out of memory"
                             : "cannot allocate memory while reading para.dat");
  } catch (const std::exception& e) {
    report_error(e.what());
  }
  return 1;
}

}  // namespace ladyzh
