// The fused AGE inner iteration (see sweep.hpp) and the literal composition it
// must reproduce.
//
// Every quarter step is formed a whole line at a time, point by point: along
// a line the points alternate between the first (p) and the second (q) point
// of their pairs, so each point takes its own coupling and values and those of
// its partner (the neighbour on one side or the other, chosen by the point's
// parity) and is solved with the *_own kernels. The loops over a line are
// contiguous and free of branches, so the compiler vectorises them; the single
// points at the ends of the lines are formed apart.
//
// Schedule of one row block j0..j1. With s2 = max(1, j0-2), e2 = min(m, j1+2),
// step t = s2 .. e2+2 does, in order:
//   quarter steps 1 and 2 of row t (t <= e2): x_q1 row t, then x_q2 row t;
//   quarter step 3 of row t-1, from x_q2 rows t-2..t, for t-1 in j0-1..j1+1;
//   quarter step 4 of row t-2, from x_q3 rows t-3..t-1, for t-2 in j0..j1,
//   written to x_new, and the change of that row.
// x_q2 and x_q3 live in rings of three rows. A block writes only its own rows
// of x_new; the window rows it shares with the neighbouring blocks are
// computed by each of them from the same operands, so they agree.
//
// Patterns (m odd); along each line, which points are the first of a pair:
//   step 1, rows t odd:  single 1, pairs (2,3) .. (m-1,m)      p: even positions
//           rows t even: pairs (1,2) .. (m-2,m-1), single m    p: odd positions
//   step 2, rows t odd:  pairs (1,2) .. (m-2,m-1), single m    p: odd
//           rows t even: single 1, pairs (2,3) .. (m-1,m)      p: even
//   step 3, columns odd: single 1, pairs (2,3) ..;  even columns: pairs (1,2) .., single m
//   step 4, columns odd: pairs (1,2) .., single m;  even columns: single 1, pairs (2,3) ..
// Seen along a row t of steps 3 and 4: in step 3 the first points of column
// pairs are the even columns of odd rows and the odd columns of even rows; in
// step 4 the other way round.
#include "age/sweep.hpp"

#include <omp.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>

#include "age/age.hpp"
#include "age/groups.hpp"

namespace ladyzh::age {

void literal_iteration(std::int32_t m, double r, const RealGrid& beta1, const RealGrid& beta2,
                       const RealGrid& beta3, const RealGrid& beta4, const RealGrid& rhs,
                       const RealGrid& x_old, RealGrid& x_q1, RealGrid& x_q2, RealGrid& x_q3,
                       RealGrid& x_new, double& err) {
  Q1step(m, r, beta1, beta2, beta3, beta4, rhs, x_old, x_q1);
  Q2step(m, r, beta1, beta2, x_old, x_q1, x_q2);
  Q3step(m, r, beta3, beta4, x_old, x_q2, x_q3);
  Q4step(m, r, beta3, beta4, x_old, x_q3, x_new);
  norm(x_old, x_new, m + 5, err);
}

namespace {

bool has_ranges(const RealGrid& g, int lo1, int hi1, int lo2, int hi2) {
  return g.lo1() == lo1 && g.hi1() == hi1 && g.lo2() == lo2 && g.hi2() == hi2;
}

// Row pointers: p[i] is element (i, j) for the iterates and rhs (whose first
// index starts at -2 and 0); the couplings start at i = 1 (beta1, beta3,
// beta4) or i = 2 (beta2) and are indexed from there.
inline const double* row0(const RealGrid& g, int j) {
  return g.data() + g.offset(0, j);
}
inline double* row0(RealGrid& g, int j) {
  return g.data() + g.offset(0, j);
}
inline const double* row_from_lo(const RealGrid& g, int j) {
  return g.data() + g.offset(g.lo1(), j);
}

// Largest |a - b| over i = lo..hi with the NaN flag, merged into c. For
// numbers that are not negative the order of their bit patterns (as unsigned
// integers) is the order of their values, and |NaN| lies above +infinity, so
// one integer maximum gives both the largest difference and whether any
// difference is not a number; it vectorises, and does not depend on the
// order in which the differences are visited.
inline void row_change(int lo, int hi, const double* __restrict a, const double* __restrict b,
                       Change& c) {
  std::uint64_t top = 0;
  for (int i = lo; i <= hi; ++i) {
    const std::uint64_t d = std::bit_cast<std::uint64_t>(std::fabs(a[i] - b[i]));
    top = d > top ? d : top;
  }
  constexpr std::uint64_t infinity = 0x7FF0000000000000ULL;
  if (top > infinity) {
    c.nan = true;
  } else {
    const double d = std::bit_cast<double>(top);
    if (d > c.max) c.max = d;
  }
}

// Quarter step 1 of row t.
struct Q1Row {
  int m;
  Q1Constants k;
  const double* __restrict u;   // x_old row t
  const double* __restrict us;  // x_old row t-1, or zeros in row 1
  const double* __restrict un;  // x_old row t+1, or zeros in row m
  const double* __restrict cE;  // beta1(i, t+1) at [i-1], i <= m-1
  const double* __restrict cW;  // beta2(i, t+1) at [i-2], i >= 2
  const double* __restrict cN;  // beta3(i, t) at [i-1], or zeros in row m
  const double* __restrict cS;  // beta4(i, t) at [i-1], or zeros in row 1
  const double* __restrict f;   // rhs(i, t) at [i]

  // x_q1 at the points lo..hi into out, through H of the points lo-1..hi+1
  // (within 1..m) in h. Position i is the first point of its pair when
  // i % 2 == pp (partner i+1, in-group coupling east), else the second
  // (partner i-1, coupling west); the ends of the row are the single point or
  // a pair point without its outer coupling.
  void run(int t, int lo, int hi, double* __restrict h, double* __restrict out) const {
    const int pp = t % 2 == 1 ? 0 : 1;
    const double ha = k.half_a;
    const double rho = k.rho;
    for (int i = std::max(lo - 1, 2), e = std::min(hi + 1, m - 1); i <= e; ++i) {
      const bool p = (i & 1) == pp;
      // Every operand is loaded for both sides, then selected: no branch.
      const double ce = cE[i - 1];
      const double cw = cW[i - 2];
      const double ue = u[i + 1];
      const double uw = u[i - 1];
      h[i] = q1_half_paired(ha, u[i], p ? ce : cw, p ? ue : uw, p ? cw : ce, p ? uw : ue, cN[i - 1],
                            un[i], cS[i - 1], us[i], f[i]);
    }
    if (lo <= 2) {
      h[1] =
          pp == 0
              // Single point 1.
              ? q1_half_single(ha, u[1], cE[0], u[2], 0.0, 0.0, cN[0], un[1], cS[0], us[1], f[1])
              // Point 1 first of the pair (1, 2), no west coupling.
              : q1_half_paired(ha, u[1], cE[0], u[2], 0.0, 0.0, cN[0], un[1], cS[0], us[1], f[1]);
    }
    if (hi >= m - 1) {
      h[m] = pp == 0
                 // Point m second of the pair (m-1, m), no east coupling.
                 ? q1_half_paired(ha, u[m], cW[m - 2], u[m - 1], 0.0, 0.0, cN[m - 1], un[m],
                                  cS[m - 1], us[m], f[m])
                 // Single point m.
                 : q1_half_single(ha, u[m], 0.0, 0.0, cW[m - 2], u[m - 1], cN[m - 1], un[m],
                                  cS[m - 1], us[m], f[m]);
    }
    // Pair (i, i+1): c_pq = beta1(i, t+1) = cE[i-1], c_qp = beta2(i+1, t+1) = cW[i-1].
    for (int i = std::max(lo, 2), e = std::min(hi, m - 1); i <= e; ++i) {
      const bool p = (i & 1) == pp;
      const double ce_own = cE[i - 1], cw_own = cW[i - 2];
      const double cw_next = cW[i - 1], ce_prev = cE[i - 2];
      const double h_next = h[i + 1], h_prev = h[i - 1];
      out[i] =
          q1_pair_own(rho, p ? ce_own : cw_own, p ? cw_next : ce_prev, h[i], p ? h_next : h_prev);
    }
    if (lo == 1)
      out[1] = pp == 0 ? q1_single(rho, h[1]) : q1_pair_own(rho, cE[0], cW[0], h[1], h[2]);
    if (hi == m) {
      out[m] =
          pp == 0 ? q1_pair_own(rho, cW[m - 2], cE[m - 2], h[m], h[m - 1]) : q1_single(rho, h[m]);
    }
  }
};

// Quarter step 2 of row t at the points lo..hi, w = x_q1 of the row at
// lo-1..hi+1: pairs (i, i+1) with c_pq = beta1(i, t+1) = cE[i-1] and
// c_qp = beta2(i+1, t+1) = cW[i-1].
void q2_row(int m, double r, double rho, int t, int lo, int hi, const double* __restrict u,
            const double* __restrict cE, const double* __restrict cW, const double* __restrict w,
            double* __restrict out) {
  const int pp = t % 2 == 1 ? 1 : 0;
  for (int i = std::max(lo, 2), e = std::min(hi, m - 1); i <= e; ++i) {
    const bool p = (i & 1) == pp;
    const double ce_own = cE[i - 1], cw_own = cW[i - 2];
    const double cw_next = cW[i - 1], ce_prev = cE[i - 2];
    const double u_next = u[i + 1], u_prev = u[i - 1];
    const double w_next = w[i + 1], w_prev = w[i - 1];
    out[i] = qk_pair_own(r, rho, p ? ce_own : cw_own, p ? cw_next : ce_prev, u[i],
                         p ? u_next : u_prev, w[i], p ? w_next : w_prev);
  }
  // Rows t odd: point 1 first of the pair (1, 2), single point m; rows t
  // even: single point 1, point m second of the pair (m-1, m).
  if (lo == 1) {
    out[1] = pp == 1 ? qk_pair_own(r, rho, cE[0], cW[0], u[1], u[2], w[1], w[2])
                     : qk_single(r, rho, u[1], w[1]);
  }
  if (hi == m) {
    out[m] = pp == 1 ? qk_single(r, rho, u[m], w[m])
                     : qk_pair_own(r, rho, cW[m - 2], cE[m - 2], u[m], u[m - 1], w[m], w[m - 1]);
  }
}

// Quarter step 3 or 4 along row t: column pairs (t, t+1) and (t-1, t). Column
// i is the first point of its pair when i % 2 == pp (partner row t+1, own
// coupling beta3(i, t), the partner's beta4(i, t+1)), else the second (partner
// row t-1, own coupling beta4(i, t), the partner's beta3(i, t-1)). Rows that
// do not exist are passed as zeros; the single points of rows 1 and m are
// formed afterwards by column_singles.
struct ColumnRow {
  const double* __restrict b3;     // beta3(i, t) at [i-1]
  const double* __restrict b4_up;  // beta4(i, t+1) at [i-1]
  const double* __restrict b4;     // beta4(i, t) at [i-1]
  const double* __restrict b3_dn;  // beta3(i, t-1) at [i-1]
  const double* __restrict u;      // x_old rows t, t+1, t-1 at [i]
  const double* __restrict u_up;
  const double* __restrict u_dn;
  const double* __restrict w;  // the previous quarter step's rows t, t+1, t-1
  const double* __restrict w_up;
  const double* __restrict w_dn;

  void run(int lo, int hi, double r, double rho, int pp, double* __restrict out) const {
    for (int i = lo; i <= hi; ++i) {
      const bool p = (i & 1) == pp;
      const double c3 = b3[i - 1], c4 = b4[i - 1];
      const double c4_up = b4_up[i - 1], c3_dn = b3_dn[i - 1];
      const double v_up = u_up[i], v_dn = u_dn[i];
      const double x_up = w_up[i], x_dn = w_dn[i];
      out[i] = qk_pair_own(r, rho, p ? c3 : c4, p ? c4_up : c3_dn, u[i], p ? v_up : v_dn, w[i],
                           p ? x_up : x_dn);
    }
  }
};

// Single points of quarter steps 3 and 4 at the columns of the parity of
// `first` within lo..hi.
void column_singles(int lo, int hi, double r, double rho, int first, const double* __restrict u,
                    const double* __restrict w, double* __restrict out) {
  for (int i = lo + ((lo ^ first) & 1); i <= hi; i += 2) out[i] = qk_single(r, rho, u[i], w[i]);
}

}  // namespace

// The sweep is compiled for the baseline instruction set and for AVX2 and
// AVX-512 (chosen at run time for the processor it runs on); everything it
// calls is inlined into each version. Vector width changes only how many
// points one instruction forms: no version contracts a multiply and an add,
// so all of them give the same bits.
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define LADYZH_SWEEP_VERSIONS __attribute__((target_clones("default", "avx2", "avx512f"), flatten))
#else
#define LADYZH_SWEEP_VERSIONS
#endif

struct FusedSweep::Window {
  double* h;      // H of quarter step 1 of the current row, [i]
  double* q1;     // x_q1 of the current row
  double* q2[3];  // x_q2 of rows t with t % 3
  double* q3[3];  // x_q3 of rows t with t % 3
};

bool FusedSweep::fits(std::int32_t m, const RealGrid& beta1, const RealGrid& beta2,
                      const RealGrid& beta3, const RealGrid& beta4, const RealGrid& rhs) {
  return m >= 3 && m % 2 == 1 && has_ranges(beta1, 1, m - 1, 2, m + 1) &&
         has_ranges(beta2, 2, m, 2, m + 1) && has_ranges(beta3, 1, m, 1, m - 1) &&
         has_ranges(beta4, 1, m, 2, m) && has_ranges(rhs, 0, m + 1, 0, m + 1);
}

bool FusedSweep::fits_iterate(std::int32_t m, const RealGrid& x) {
  return has_ranges(x, -2, m + 2, -2, m + 2);
}

FusedSweep::FusedSweep(std::int32_t m, double r, const RealGrid& beta1, const RealGrid& beta2,
                       const RealGrid& beta3, const RealGrid& beta4, const RealGrid& rhs,
                       int threads)
    : m_(m),
      r_(r),
      beta1_(beta1),
      beta2_(beta2),
      beta3_(beta3),
      beta4_(beta4),
      rhs_(rhs),
      threads_(threads > 0 ? threads : omp_get_max_threads()) {
  if (threads <= 0 && m_ < min_parallel_m) threads_ = 1;
  threads_ = std::max(1, std::min(threads_, max_threads));
  // Rows of m+2 values, rounded up to whole cache lines, one allocation per
  // thread so that no two threads write to one line.
  const std::size_t row = (std::size_t(m_) + 2 + 7) / 8 * 8;
  zero_.assign(row, 0.0);
  windows_.resize(std::size_t(threads_));
  for (auto& w : windows_) w.assign(window_rows * row + 8, 0.0);
}

LADYZH_SWEEP_VERSIONS
void FusedSweep::sweep_block(Window& w, const RealGrid& x_old, RealGrid& x_new, int j0, int j1,
                             Change& change) const {
  const int m = m_;
  const double r = r_;
  const Q1Constants k1 = q1_constants(r);
  const double rho = r + 1.0;
  const double* zero = zero_.data();
  const int s2 = std::max(1, j0 - 2);
  const int e2 = std::min(m, j1 + 2);
  const int lo3 = std::max(1, j0 - 1);
  const int hi3 = std::min(m, j1 + 1);

  const auto b3 = [&](int j) { return j >= 1 && j <= m - 1 ? row_from_lo(beta3_, j) : zero; };
  const auto b4 = [&](int j) { return j >= 2 && j <= m ? row_from_lo(beta4_, j) : zero; };
  const auto u = [&](int j) { return j >= 1 && j <= m ? row0(x_old, j) : zero; };

  // Quarter steps 3 and 4 along row t at the columns lo..hi, from the rows
  // t-1, t, t+1 of the previous quarter step held in the ring `ring`.
  const auto column_row = [&](int t, int lo, int hi, double* const* ring, int pp, double* out) {
    const ColumnRow c{b3(t),
                      b4(t + 1),
                      b4(t),
                      b3(t - 1),
                      u(t),
                      u(t + 1),
                      u(t - 1),
                      ring[t % 3],
                      t < m ? ring[(t + 1) % 3] : zero,
                      t > 1 ? ring[(t - 1) % 3] : zero};
    c.run(lo, hi, r, rho, pp, out);
  };

  for (int t = s2; t <= e2 + 2; ++t) {
    if (t <= e2) {
      // Quarter steps 1 and 2 of row t.
      const double* cE = row_from_lo(beta1_, t + 1);
      const double* cW = row_from_lo(beta2_, t + 1);
      const Q1Row q1{m, k1, u(t), u(t - 1), u(t + 1), cE, cW, b3(t), b4(t), row0(rhs_, t)};
      q1.run(t, 1, m, w.h, w.q1);
      q2_row(m, r, rho, t, 1, m, u(t), cE, cW, w.q1, w.q2[t % 3]);
    }
    const int t3 = t - 1;
    if (t3 >= lo3 && t3 <= hi3) {
      // Quarter step 3: first points of column pairs in the even columns of
      // odd rows; single points in the odd columns of row 1 and the even
      // columns of row m.
      double* out = w.q3[t3 % 3];
      column_row(t3, 1, m, w.q2, t3 % 2 == 1 ? 0 : 1, out);
      if (t3 == 1) column_singles(1, m, r, rho, 1, u(1), w.q2[1 % 3], out);
      if (t3 == m) column_singles(1, m, r, rho, 2, u(m), w.q2[m % 3], out);
    }
    const int t4 = t - 2;
    if (t4 >= j0 && t4 <= j1) {
      // Quarter step 4 into x_new: first points in the odd columns of odd
      // rows; single points in the even columns of row 1 and the odd
      // columns of row m.
      double* out = row0(x_new, t4);
      column_row(t4, 1, m, w.q3, t4 % 2 == 1 ? 1 : 0, out);
      if (t4 == 1) column_singles(1, m, r, rho, 2, u(1), w.q3[1 % 3], out);
      if (t4 == m) column_singles(1, m, r, rho, 1, u(m), w.q3[m % 3], out);
      row_change(1, m, u(t4), out, change);
    }
  }
}

Change FusedSweep::iterate(const RealGrid& x_old, RealGrid& x_new) {
  const std::size_t row = zero_.size();
  Change parts[max_threads];
  int used = 1;
#pragma omp parallel num_threads(threads_) if (threads_ > 1)
  {
    // The team may be smaller than asked for: the blocks follow its size.
    const int id = omp_get_thread_num();
    const int n = omp_get_num_threads();
    double* base = windows_[std::size_t(id)].data();
    Window w{base,
             base + row,
             {base + 2 * row, base + 3 * row, base + 4 * row},
             {base + 5 * row, base + 6 * row, base + 7 * row}};
    // Rows 1..m in n contiguous blocks.
    const int j0 = 1 + int(std::int64_t{m_} * id / n);
    const int j1 = int(std::int64_t{m_} * (id + 1) / n);
    if (j0 <= j1) sweep_block(w, x_old, x_new, j0, j1, parts[id]);
    if (id == 0) used = n;
  }
  // Combine the blocks; max and "any NaN" do not depend on the order.
  Change total;
  for (int b = 0; b < used; ++b) {
    if (parts[b].max > total.max) total.max = parts[b].max;
    total.nan = total.nan || parts[b].nan;
  }
  return total;
}

}  // namespace ladyzh::age
