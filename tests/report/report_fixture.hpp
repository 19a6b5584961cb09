// Small fixtures for the report tests: run parameters, fields whose every value
// names its node, and three passes of hand-set statistics with the table rows
// they must give.
#pragma once

#include <sstream>
#include <string>
#include <vector>

#include "run/grid.hpp"
#include "run/params.hpp"

namespace ladyzh::test {

inline RunParams report_params(std::int32_t m, double L = 1.0, std::int32_t iproblem = 2) {
  RunParams p;
  p.Re = 100.0;
  p.eps1 = 0.5;
  p.Q = 3.0;
  p.m = m;
  p.L = L;
  p.r = 0.25;
  p.imax = 3;
  p.imax_in = 1000;
  p.tol_outer = 1e-6;
  p.tol_inner = 1e-8;
  p.iproblem = iproblem;
  return p;
}

// The parameter block of report_params(9) as the reports write it.
inline const std::vector<std::string> header_m9 = {
    " -------------------------------------------------",
    " This file contains the result of solving",
    " Ladyzhenskaya equations using AGE method with the",
    " following parameters: ",
    " ",
    " Re =  100.0",
    " eps1 =  0.5",
    " Q =  3.0",
    " m =  9",
    " L =  1.0",
    " r =  0.25",
    " imax =  3",
    " imax_in =  1000",
    " tol_outer =  1e-06",
    " tol_inner =  1e-08",
};

// psi(i, j) = i + 100 j and omega(i, j) = 0 - (i + 100 j) on the grid nodes
// 0..m+1, so that a written value tells the node it came from; the layers
// outside the grid hold a value no node has.
struct NodeFields {
  RealGrid psi;
  RealGrid omega;
};

inline constexpr double outside_value = 7777777.0;

inline NodeFields node_fields(std::int32_t m) {
  NodeFields f{RealGrid(-2, m + 2, -2, m + 2), RealGrid(-2, m + 2, -2, m + 2)};
  for (int j = -2; j <= m + 2; ++j) {
    for (int i = -2; i <= m + 2; ++i) {
      const bool node = i >= 0 && i <= m + 1 && j >= 0 && j <= m + 1;
      f.psi(i, j) = node ? i + 100.0 * j : outside_value;
      f.omega(i, j) = node ? 0.0 - (i + 100.0 * j) : -outside_value;
    }
  }
  return f;
}

// Three passes of statistics. Row 1: ordinary values, a 1e12 minimum and a
// negative one; row 2: values that round up into the next power of ten, a
// rounding tie (0.125) and the widest I5 value; row 3: zero, a negative CPU
// time and iteration count, integers too wide for I5 and I1, an exponent of
// three digits.
inline RunStats report_stats() {
  RunStats s(3);
  const double err_cpu[3][4] = {
      {0.12e-2, 0.5, 1.25, 0.5}, {0.996, 1.5e-5, 12.34567, 0.0}, {0.0, 0.0, -1.5, 123.0}};
  const std::int32_t iter[3][2] = {{37, 1234}, {10, 99999}, {-5, 100000}};
  const std::int32_t succ[3][2] = {{1, 0}, {1, 1}, {10, -1}};
  const double delta[3][4] = {
      {3.5, 1e12, 0.0, -0.25}, {2.0, 0.125, 7.77e-7, 100.0}, {-1e-3, 5e-3, 9.994, 6e99}};
  for (int p = 1; p <= 3; ++p) {
    for (int c = 1; c <= 4; ++c) {
      s.stat_err_cpu(p, c) = err_cpu[p - 1][c - 1];
      s.stat_delta(p, c) = delta[p - 1][c - 1];
    }
    for (int c = 1; c <= 2; ++c) {
      s.stat_iter(p, c) = iter[p - 1][c - 1];
      s.stat_succ(p, c) = succ[p - 1][c - 1];
    }
  }
  return s;
}

inline const std::vector<std::string> table_head = {
    "  k    psi      omega     psi     omega   #iter   #iter  psi   w    all deltas",
    "      error     error   cputime  cputime psi-stp  w-stp  succ succ  2psi , 2w",
    " ---  -----     -----   -------  ------- -------  -----  --    --   ----------",
};

// The rows of report_stats(), 100 characters each.
// clang-format off
inline const std::vector<std::string> table_rows = {
    "  1  .12E-02  .50E+00   1.2500    .5000     37   1234    1     0  .35E+01  .10E+13  .00E+00  *******",
    "  2  .10E+01  .15E-04  12.3457    .0000     10  99999    1     1  .20E+01  .13E+00  .78E-06  .10E+03",
    "  3  .00E+00  .00E+00  -1.5000 123.0000     -5  *****    *     *  *******  .50E-02  .10E+02  .60+100",
};
// clang-format on

inline std::vector<double> numbers_of(const std::string& line) {
  std::istringstream in(line);
  std::vector<double> v;
  for (double x; in >> x;) v.push_back(x);
  return v;
}

// The node (i, j) whose psi value a field shows: i + 100 j.
inline std::pair<int, int> node_of(double v) {
  const long n = static_cast<long>(v);
  return {static_cast<int>(n % 100), static_cast<int>(n / 100)};
}

// The sample rows under the n-th (0-based) occurrence of the head line
// `title`: the records after the coordinate line and the hyphen line that
// follow it, up to the next line of hyphens.
inline std::vector<std::string> samples_under(const std::vector<std::string>& lines,
                                              const std::string& title, int occurrence = 0) {
  std::size_t k = 0;
  for (int seen = -1; k < lines.size(); ++k) {
    if (lines[k] == title && ++seen == occurrence) break;
  }
  std::vector<std::string> out;
  for (k += 3; k < lines.size() && lines[k].rfind(" ---", 0) != 0; ++k) out.push_back(lines[k]);
  return out;
}

}  // namespace ladyzh::test
