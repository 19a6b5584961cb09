// The step report: one section per outer pass, each with the statistics table
// of every pass so far and 5-column samples of the streamfunction and the
// vorticity; the first section of a run follows the run header.
#include <algorithm>
#include <array>

#include "report/report_sections.hpp"
#include "report/reports.hpp"

namespace ladyzh {
namespace report {

void write_run_header(RecordFile& f, const RunParams& p) {
  free_line(f, {hyphens49});
  free_line(f, {"This file contains the result of solving"});
  free_line(f, {"Ladyzhenskaya equations using AGE method with the"});
  free_line(f, {"following parameters: "});
  free_line(f, {});
  free_line(f, {"Re = ", p.Re});
  free_line(f, {"eps1 = ", p.eps1});
  free_line(f, {"Q = ", p.Q});
  free_line(f, {"m = ", p.m});
  free_line(f, {"L = ", p.L});
  free_line(f, {"r = ", p.r});
  free_line(f, {"imax = ", p.imax});
  free_line(f, {"imax_in = ", p.imax_in});
  free_line(f, {"tol_outer = ", p.tol_outer});
  free_line(f, {"tol_inner = ", p.tol_inner});
}

void write_table_head(RecordFile& f) {
  free_line(f, {" k    psi      omega     psi     omega   #iter   #iter  psi   w    all deltas"});
  free_line(f, {"     error     error   cputime  cputime psi-stp  w-stp  succ succ  2psi , 2w"});
  free_line(f, {"---  -----     -----   -------  ------- -------  -----  --    --   ----------"});
}

void write_table_rows(RecordFile& f, const RunStats& s, std::int32_t rows) {
  // Pass number, the two change measures, the two CPU times, the two inner
  // iteration counts, the two success flags and the four block-determinant
  // minima: 100 characters. A negative E7.2 value does not fit and shows as
  // asterisks.
  static const Format row = Format::parse(
      "(I3,2x,E7.2,2x,E7.2,F9.4,F9.4,2x,I5,2x,I5,4x,I1,5x,I1,  2x,E7.2,2x,E7.2,2x,E7.2,2x,E7.2)");
  for (std::int32_t k = 1; k <= rows; ++k) {
    const std::array<Item, 13> items = {
        k,
        s.stat_err_cpu(k, 1),
        s.stat_err_cpu(k, 2),
        s.stat_err_cpu(k, 3),
        s.stat_err_cpu(k, 4),
        s.stat_iter(k, 1),
        s.stat_iter(k, 2),
        s.stat_succ(k, 1),
        s.stat_succ(k, 2),
        s.stat_delta(k, 1),
        s.stat_delta(k, 2),
        s.stat_delta(k, 3),
        s.stat_delta(k, 4),
    };
    format_line(f, row, items);
  }
}

}  // namespace report

namespace {

// Sample rows of one field: the columns cols at every row j = 1, 1+s, ... <= m.
void write_samples(RecordFile& f, const RealGrid& u, const std::array<int, 5>& cols, std::int32_t m,
                   std::int32_t s) {
  static const Format sample = Format::parse("(e12.5,2x,e12.5,2x,e12.5,2x,e12.5,2x,e12.5)");
  for (std::int32_t j = 1; j <= m; j += s) {
    const std::array<Item, 5> items = {u(cols[0], j), u(cols[1], j), u(cols[2], j), u(cols[3], j),
                                       u(cols[4], j)};
    report::format_line(f, sample, items);
  }
}

}  // namespace

void printstep(const RunParams& p, const RealGrid& omega, const RealGrid& psi,
               const RunStats& stats, std::int32_t k, RecordFile& step) {
  using namespace report;
  // The statistics hold imax passes: a later pass number has no row of its
  // own, and the section of pass imax already shows the complete table.
  if (k > p.imax) return;

  if (k == 1) {
    write_run_header(step, p);
    for (int n = 0; n < 3; ++n) free_line(step, {two_blanks});
  }

  free_line(step, {hyphens49});
  free_line(step, {"------------", k, "-------------------"});
  free_line(step, {hyphens49});
  write_table_head(step);
  write_table_rows(step, stats, k);
  free_line(step, {hyphens49});
  for (int n = 0; n < 3; ++n) free_line(step, {two_blanks});

  // Sample step s = (m - 1) div 4: columns 1, 1+s, 1+2s, 1+3s, m and the rows
  // 1, 1+s, ... up to m. Below m = 5 the step would be 0; it is then 1 and the
  // columns beyond m are taken at m, so that m = 3 shows columns 1, 2, 3, 3, 3
  // and rows 1, 2, 3.
  const std::int32_t m = p.m;
  const std::int32_t s = std::max<std::int32_t>(1, (m - 1) / 4);
  std::array<int, 5> cols = {1, 1 + s, 1 + 2 * s, 1 + 3 * s, m};
  for (int& c : cols) c = std::min(c, m);

  free_line(step, {hyphens51});
  free_line(step, {psi_head});
  free_line(step, {coord_head});
  free_line(step, {hyphens51});
  write_samples(step, psi, cols, m, s);

  free_line(step, {hyphens51});
  free_line(step, {omega_head});
  free_line(step, {coord_head});
  free_line(step, {hyphens51});
  write_samples(step, omega, cols, m, s);

  free_line(step, {hyphens49});
}

}  // namespace ladyzh
