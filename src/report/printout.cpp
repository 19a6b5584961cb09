// The final report `result` (run parameters, problem, outcome, the statistics
// table of every pass, computed and exact samples, a dump of both fields) and
// the grid listing `data` (computed and exact values at every grid node).
#include <algorithm>
#include <array>
#include <exception>
#include <string>
#include <vector>

#include "model/model.hpp"
#include "report/report_sections.hpp"
#include "report/reports.hpp"

namespace ladyzh {
namespace {

using report::format_line;
using report::free_line;

// The grid dump of `result` and the listing `data` hold one record per grid
// node: on grids with at least this many interior nodes per side their records
// are rendered on all threads, in batches of rows, and written in order, so
// the files are the same byte for byte whatever the number of threads.
constexpr std::int32_t kThreadedFrom = 100;
constexpr std::int32_t kBatchRows = 32;

// Writes the records of rows first..last in that order; render(out, row)
// appends the records of one row, each followed by '\n'.
template <class Render>
void write_rows(RecordFile& f, std::int32_t m, std::int32_t first, std::int32_t last,
                const Render& render) {
  if (m < kThreadedFrom) {
    for (std::int32_t row = first; row <= last; ++row) {
      render(f.buffer(), row);
      f.commit();
    }
    return;
  }
  std::vector<std::string> parts(kBatchRows);
  std::exception_ptr failure;
  for (std::int32_t start = first; start <= last; start += kBatchRows) {
    const std::int32_t n = std::min(kBatchRows, last - start + 1);
#pragma omp parallel for schedule(static)
    for (std::int32_t k = 0; k < n; ++k) {
      parts[k].clear();
      try {
        render(parts[k], start + k);
      } catch (...) {
#pragma omp critical(ladyzh_printout_failure)
        if (!failure) failure = std::current_exception();
      }
    }
    if (failure) std::rethrow_exception(failure);
    for (std::int32_t k = 0; k < n; ++k) {
      f.buffer() += parts[k];
      f.commit();
    }
  }
}

// Five sample rows of one field: row j (in the order of idx) holds the values
// at (idx[0], j) .. (idx[4], j).
void write_samples(RecordFile& f, const Format& format, const RealGrid& u,
                   const std::array<int, 5>& idx) {
  for (int j : idx) {
    const std::array<Item, 5> items = {u(idx[0], j), u(idx[1], j), u(idx[2], j), u(idx[3], j),
                                       u(idx[4], j)};
    format_line(f, format, items);
  }
}

// Five rows of an exact sample table: row b holds (1, b) .. (5, b).
void write_exact(RecordFile& f, const Format& format, const double (&t)[5][5]) {
  for (int b = 0; b < 5; ++b) {
    const std::array<Item, 5> items = {t[0][b], t[1][b], t[2][b], t[3][b], t[4][b]};
    format_line(f, format, items);
  }
}

void write_result(RecordFile& f, const RunParams& p, const RealGrid& omega, const RealGrid& psi,
                  const RunStats& stats, std::int32_t kconv, std::int32_t iconv) {
  using namespace report;
  static const Format sample = Format::parse("(e12.6,2x,e12.6,2x,e12.6,2x,e12.6,2x,e12.6)");
  static const Format dump = Format::parse("(e20.10,4x,e20.10)");
  const std::int32_t m = p.m;

  write_run_header(f, p);
  free_line(f, {two_blanks});
  if (p.iproblem == 1) {
    free_line(f, {"we solve the problem with constant rhs c=1"});
  } else if (p.iproblem == 2) {
    free_line(f, {"we solve the problem with known solution"});
    free_line(f, {"psi(x,y) = (x^4-2x^2+x)(y^4-2y^2+y)"});
  }
  for (int n = 0; n < 3; ++n) free_line(f, {two_blanks});
  if (iconv == 1) {
    free_line(f, {"***successful convergence with half outer iteration*"});
  } else if (iconv == 2) {
    free_line(f, {"***successful convergence with full outer iteration*"});
  } else if (iconv == 0) {
    free_line(f, {"******No convergence*****"});
  }
  free_line(f, {hyphens49});
  write_table_head(f);
  // The statistics hold imax passes; a larger kconv shows all of them.
  write_table_rows(f, stats, std::clamp<std::int32_t>(kconv, 0, std::max(p.imax, 0)));
  free_line(f, {hyphens49});
  for (int n = 0; n < 3; ++n) free_line(f, {two_blanks});

  // Samples at n, 3n, 5n, 7n, 9n with n = (m + 1) div 10, in both directions:
  // the coordinates 0.1 .. 0.9 of the head line when m + 1 is a multiple of 10
  // and L = 1. Below m = 9 the step would be 0; it is then 1 and indices beyond
  // m are taken at m (m = 3: 1, 3, 3, 3, 3).
  const std::int32_t n = std::max<std::int32_t>(1, (m + 1) / 10);
  std::array<int, 5> idx = {n, 3 * n, 5 * n, 7 * n, 9 * n};
  for (int& c : idx) c = std::min(c, m);

  free_line(f, {hyphens51});
  free_line(f, {psi_head});
  free_line(f, {coord_head});
  free_line(f, {hyphens51});
  write_samples(f, sample, psi, idx);

  free_line(f, {hyphens51});
  free_line(f, {omega_head});
  free_line(f, {coord_head});
  free_line(f, {hyphens51});
  write_samples(f, sample, omega, idx);

  // Exact samples at x, y = 0.1, 0.3, 0.5, 0.7, 0.9, the coordinates formed by
  // repeated double additions of 0.2 (so the second is 0.1 + 0.2, not 0.3),
  // whatever m and L are.
  double psi_e[5][5];
  double omega_e[5][5];
  double x = 0.1;
  for (int a = 0; a < 5; ++a) {
    double y = 0.1;
    for (int b = 0; b < 5; ++b) {
      exact(psi_e[a][b], omega_e[a][b], x, y);
      y += 0.2;
    }
    x += 0.2;
  }

  free_line(f, {"------------------exact----------------------------"});
  free_line(f, {psi_head});
  free_line(f, {coord_head});
  free_line(f, {hyphens51});
  write_exact(f, sample, psi_e);

  free_line(f, {"-----------------exact-----------------------------"});
  free_line(f, {omega_head});
  free_line(f, {coord_head});
  free_line(f, {hyphens51});
  write_exact(f, sample, omega_e);

  free_line(f, {hyphens49});
  free_line(f, {});
  free_line(f, {"    streamfunction            vorticity "});
  free_line(f, {"    ---------------         ---------------       "});

  // Every grid node, boundary included, i running fastest.
  write_rows(f, m, 0, m + 1, [&](std::string& out, std::int32_t j) {
    for (std::int32_t i = 0; i <= m + 1; ++i) {
      const std::array<Item, 2> items = {psi(i, j), omega(i, j)};
      append_record(out, dump, items);
      out += '\n';
    }
  });
}

void write_data(RecordFile& f, const RunParams& p, const RealGrid& omega, const RealGrid& psi) {
  static const Format listing = Format::parse("(e20.10,4x,e20.10,4x,e20.10,4x,e20.10)");
  const std::int32_t m = p.m;
  const double h = p.L / static_cast<double>(m + 1);
  // Node coordinates are accumulated by adding h, j running fastest: the last
  // line is evaluated at the sum of m + 1 additions, which need not be L.
  // The sums are formed once, in the order of the listing, for every row.
  std::vector<double> coord(static_cast<std::size_t>(m) + 2);
  double t = 0.0;
  for (double& c : coord) {
    c = t;
    t += h;
  }
  // The exact solution's factors of every coordinate, formed once.
  std::vector<ExactFactors> factors;
  factors.reserve(coord.size());
  for (const double c : coord) factors.push_back(exact_factors(c));
  write_rows(f, m, 0, m + 1, [&](std::string& out, std::int32_t i) {
    const ExactFactors& fx = factors[static_cast<std::size_t>(i)];
    for (std::int32_t j = 0; j <= m + 1; ++j) {
      double psi_e = 0.0;
      double omega_e = 0.0;
      exact_at(psi_e, omega_e, fx, factors[static_cast<std::size_t>(j)]);
      const std::array<Item, 4> items = {psi(i, j), omega(i, j), psi_e, omega_e};
      append_record(out, listing, items);
      out += '\n';
    }
  });
}

}  // namespace

void printout(const RunParams& p, const RealGrid& omega, const RealGrid& psi, const RunStats& stats,
              std::int32_t kconv, std::int32_t iconv, RecordFile& data) {
  // Both files are created before anything is written: when `data` cannot be
  // created, `result` stays behind empty.
  RecordFile result("result");
  data.create("data");
  write_result(result, p, omega, psi, stats, kconv, iconv);
  result.close();
  write_data(data, p, omega, psi);
  data.flush();
}

}  // namespace ladyzh
