// Whole runs of the program on one and on two threads: the grid listing and
// the console are the same bytes. The grid is large enough for the inner
// solver to cut its sweeps into row blocks.
#include <gtest/gtest.h>

#include <string>

#include "support/support.hpp"

namespace ladyzh {
namespace {

using test::read_file;
using test::run_program;
using test::TempDir;
using test::write_file;

struct ProgramRun {
  TempDir dir;
  test::ProcResult proc;
};

void run_with_threads(ProgramRun& run, const std::string& para, int threads) {
  write_file(run.dir / "para.dat", para);
  run.proc = run_program(test::ladyzh_exe(), run.dir.path(),
                         {"OMP_NUM_THREADS=" + std::to_string(threads)});
}

TEST(Threads, OneAndTwoThreadsWriteTheSameGridListingAndConsole) {
  struct Case {
    const char* what;
    std::string para;
  };
  // Re, eps1, Q, m, L, r, imax, imax_in, tol_outer, tol_inner, iproblem.
  const Case cases[] = {
      // Every inner solve runs to its limit; the vorticity couplings are
      // unsymmetric and change from pass to pass.
      {"nonlinear test problem at the limit",
       "10\n0.001\n4.0\n129\n1.0\n0.8\n3\n40\n1e-12\n1e-14\n2\n"},
      // Inner solves that converge, with constant forcing.
      {"converging inner solves", "1\n0\n2.0\n101\n1.0\n1.2\n2\n3000\n1e-12\n1e-5\n1\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ProgramRun one, two;
    run_with_threads(one, c.para, 1);
    run_with_threads(two, c.para, 2);
    ASSERT_EQ(one.proc.status, 0) << one.proc.err;
    ASSERT_EQ(two.proc.status, 0) << two.proc.err;
    const std::string data = read_file(one.dir / "data");
    ASSERT_GT(data.size(), 100000u);
    EXPECT_TRUE(data == read_file(two.dir / "data"));
    EXPECT_EQ(one.proc.out, two.proc.out);
  }
}

}  // namespace
}  // namespace ladyzh
