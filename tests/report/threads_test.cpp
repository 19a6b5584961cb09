// The grid dump of `result` and the listing `data` on grids large enough to be
// rendered on several threads: every record in its place, the same bytes on
// one and on two threads.
#include <gtest/gtest.h>
#include <omp.h>

#include <string>
#include <vector>

#include "model/model.hpp"
#include "report/record.hpp"
#include "report/record_file.hpp"
#include "report/report_fixture.hpp"
#include "report/reports.hpp"
#include "support/support.hpp"

namespace ladyzh {
namespace {

using test::split_lines;

struct Reports {
  std::string result;
  std::string data;
};

// psi(i, j) = i + 1000 j + 0.25 and omega = -psi / 3 on the grid nodes, so
// that every record shows which node it came from.
Reports final_report(std::int32_t m, int threads) {
  RealGrid psi(-2, m + 2, -2, m + 2), omega(-2, m + 2, -2, m + 2);
  for (int j = 0; j <= m + 1; ++j) {
    for (int i = 0; i <= m + 1; ++i) {
      psi(i, j) = i + 1000.0 * j + 0.25;
      omega(i, j) = -psi(i, j) / 3.0;
    }
  }
  const RunParams p = test::report_params(m);
  const RunStats s = test::report_stats();
  const int before = omp_get_max_threads();
  omp_set_num_threads(threads);
  test::TempDir dir;
  {
    test::InDir in(dir.path());
    RecordFile data;
    printout(p, omega, psi, s, 3, 2, data);
    data.close();
  }
  omp_set_num_threads(before);
  return {test::read_file(dir / "result"), test::read_file(dir / "data")};
}

TEST(PrintoutThreads, EveryNodeInOrderAndTheSameBytesOnOneAndTwoThreads) {
  for (std::int32_t m : {129, 163}) {
    SCOPED_TRACE(m);
    const Reports one = final_report(m, 1);
    const Reports two = final_report(m, 2);
    EXPECT_TRUE(one.result == two.result);
    EXPECT_TRUE(one.data == two.data);

    const int n = m + 2;
    const std::size_t nodes = std::size_t(n) * std::size_t(n);
    const double h = 1.0 / (m + 1);
    const std::string pair = "(e20.10,4x,e20.10)";
    // The dump closes `result`, i running fastest.
    const auto result = split_lines(two.result);
    ASSERT_GT(result.size(), nodes);
    std::size_t k = result.size() - nodes;
    for (int j = 0; j < n; ++j) {
      for (int i = 0; i < n; ++i, ++k) {
        const double v = i + 1000.0 * j + 0.25;
        ASSERT_EQ(result[k], format_record(pair, {v, -v / 3.0})) << i << ", " << j;
      }
    }
    // The listing, j running fastest, the exact solution at coordinates
    // accumulated by adding h.
    const auto data = split_lines(two.data);
    ASSERT_EQ(data.size(), nodes);
    k = 0;
    double x = 0.0;
    for (int i = 0; i < n; ++i) {
      double y = 0.0;
      for (int j = 0; j < n; ++j, ++k) {
        const double v = i + 1000.0 * j + 0.25;
        double psi_e = 0.0, omega_e = 0.0;
        exact(psi_e, omega_e, x, y);
        ASSERT_EQ(data[k], format_record(pair, {v, -v / 3.0}) + "    " +
                               format_record(pair, {psi_e, omega_e}))
            << i << ", " << j;
        y += h;
      }
      x += h;
    }
  }
}

}  // namespace
}  // namespace ladyzh
