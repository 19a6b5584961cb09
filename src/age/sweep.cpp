// The fused AGE inner iteration (see sweep.hpp) and the literal composition it
// must reproduce.
//
// Every quarter step is formed a whole line at a time. A pair is solved once
// for both its points (q1_pair, qk_pair: the two right-hand sides and the
// determinant serve both points, and the compiler forms each of them once),
// in loops that step from pair to pair; the pairs along a row are its
// neighbouring points, the pairs of quarter steps 3 and 4 are the same column
// of two neighbouring rows. The half right-hand sides H of quarter step 1 are
// formed point by point in one branch-free loop along the row, each point
// selecting its partner by its parity. The single points at the ends of the
// lines are formed apart.
//
// The window rows hold their values in split layout (even columns, then odd
// columns; see Split): the points of one quarter step's pairs along a row are
// then two contiguous runs, and the column pairs of quarter steps 3 and 4,
// every second column of two rows, are contiguous too. Only the couplings and
// H are read every second value; each row of x_old is split once when the
// sweep reaches it, and each row of x_new is merged back into the grid once,
// when it is complete.
//
// The pair loops are bound by their divisions; while they run they fetch the
// rows that the next step reads first (see Ahead), so that the loop forming
// H does not wait for them. Couplings that are one number per array are read
// as numbers (see Uniform), and then only x_old, rhs and x_new are streamed.
//
// Schedule of one row block j0..j1. With s2 = max(1, j0-2), e2 = min(m, j1+2),
// lo3 = max(1, j0-1), hi3 = min(m, j1+1), step t = s2 .. j1+2 does, in order:
//   quarter steps 1 and 2 of row t (t <= e2): x_old row t split, x_q1 row t,
//   then x_q2 row t;
//   quarter step 3 of the column pairs (t-1, t), from x_q2 rows t-1 and t,
//   when row t-1 or t lies in lo3..hi3 (and the single points of row t when
//   t is 1 or m): x_q3 row t-1 is then complete;
//   quarter step 4 of the column pairs (t-2, t-1), from x_q3 rows t-2 and t-1,
//   when row t-2 or t-1 lies in j0..j1, the single points of row t-1 when it
//   is 1 or m; row t-2 of x_new is then complete: into the grid if it lies in
//   j0..j1, and its change is taken.
// x_old (split), x_q2 and x_q3 live in rings of three rows, x_new in a ring of
// two. A block writes only its own rows of x_new; the window rows it shares
// with the neighbouring blocks are computed by each of them from the same
// operands, so they agree.
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

// Whether every element of g has the bits of its first one (then value is
// that number). Stops at the first element that differs.
bool single_value(const RealGrid& g, double& value) {
  const auto all = g.storage();
  if (all.empty()) return false;
  const auto first = std::bit_cast<std::uint64_t>(all[0]);
  for (const double x : all) {
    if (std::bit_cast<std::uint64_t>(x) != first) return false;
  }
  value = all[0];
  return true;
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

// Rows of the next step that a loop of this step brings towards the cache
// while it works: read rows a and b, and w, a row about to be written (each
// an address, 0 for none). The loops that solve pairs are bound by their
// divisions and leave the memory system idle; the rows the next step streams
// first (in the loop that forms H) then arrive meanwhile instead of when
// that loop asks for them. A prefetch never faults and changes no value.
struct Ahead {
  std::uintptr_t a = 0;
  std::uintptr_t b = 0;
  std::uintptr_t w = 0;
};

// The address of the first element of row j of g, or 0 when g has no row j.
inline std::uintptr_t row_address(const RealGrid& g, int j) {
  return j >= g.lo2() && j <= g.hi2()
             ? reinterpret_cast<std::uintptr_t>(g.data() + g.offset(g.lo1(), j))
             : 0;
}

// Pairs per block of a fetching loop, and the cache lines of each row fetched
// per block: a pair stands for two columns, 16 bytes of a row.
constexpr int kBlockPairs = 16;
constexpr int kBlockLines = kBlockPairs * 16 / 64;

inline void fetch_line(std::uintptr_t p, bool write) {
  if (write) {
    __builtin_prefetch(reinterpret_cast<const void*>(p), 1, 3);
  } else {
    __builtin_prefetch(reinterpret_cast<const void*>(p), 0, 3);
  }
}

// Fetches the next kBlockLines lines of each row of ahead and moves past them.
inline void fetch_block(Ahead& ahead) {
  for (int l = 0; l < kBlockLines; ++l) {
    if (ahead.a != 0) fetch_line(ahead.a + 64 * l, false);
    if (ahead.b != 0) fetch_line(ahead.b + 64 * l, false);
    if (ahead.w != 0) fetch_line(ahead.w + 64 * l, true);
  }
  const std::uintptr_t step = 64 * kBlockLines;
  if (ahead.a != 0) ahead.a += step;
  if (ahead.b != 0) ahead.b += step;
  if (ahead.w != 0) ahead.w += step;
}

// pairs(j, count) solves the pairs j .. j+count-1 of a run of n; this calls
// it in blocks of kBlockPairs, fetching ahead before each block, then once
// for the rest. A block has a fixed count, so the compiler forms it with
// whole vectors and no remainder.
template <class Pairs>
inline void run_fetching(int n, Ahead ahead, Pairs&& pairs) {
  int j = 0;
  for (; j + kBlockPairs <= n; j += kBlockPairs) {
    fetch_block(ahead);
    pairs(j, kBlockPairs);
  }
  pairs(j, n - j);
}

// The change of a row is taken as the largest bit pattern of |a - b|: for
// numbers that are not negative the order of their bit patterns (as unsigned
// integers) is the order of their values, and |NaN| lies above +infinity, so
// one integer maximum gives both the largest difference and whether any
// difference is not a number; it vectorises, and does not depend on the
// order in which the differences are visited.
inline std::uint64_t change_bits(double a, double b) {
  return std::bit_cast<std::uint64_t>(std::fabs(a - b));
}

// The largest pattern top of a row, merged into c.
inline void merge_change(std::uint64_t top, Change& c) {
  constexpr std::uint64_t infinity = 0x7FF0000000000000ULL;
  if (top > infinity) {
    c.nan = true;
  } else {
    const double d = std::bit_cast<double>(top);
    if (d > c.max) c.max = d;
  }
}

// A window row in split layout: the values of the even columns one after the
// other, then those of the odd columns; e[k] is column 2k, o[k] column 2k+1.
// Along a row the first points of the pairs of one quarter step all have one
// parity and their partners the other, so in this layout the points of the
// pairs are contiguous and the pairs are solved by plain vector loops, without
// gathering every second value and scattering the results back.
struct Split {
  double* e;
  double* o;
};
struct CSplit {
  const double* e;
  const double* o;
  CSplit(const double* e_, const double* o_) : e(e_), o(o_) {}
  // Implicit: a row one quarter step writes is read as input by the next.
  CSplit(Split s) : e(s.e), o(s.o) {}  // NOLINT(google-explicit-constructor)
};

// The points of pairs (i, i+1) along a row, i of parity pp, as k runs:
// i = 2k + pp lies in first(s, pp)[k] and i + 1 in second(s, pp)[k].
inline double* first(Split s, int pp) {
  return pp == 0 ? s.e : s.o;
}
inline double* second(Split s, int pp) {
  return pp == 0 ? s.o : s.e + 1;
}
inline const double* first(CSplit s, int pp) {
  return pp == 0 ? s.e : s.o;
}
inline const double* second(CSplit s, int pp) {
  return pp == 0 ? s.o : s.e + 1;
}
// The columns i of parity par in one half, as k runs: i = 2k + par.
inline double* half(Split s, int par) {
  return par == 0 ? s.e : s.o;
}
inline const double* half(CSplit s, int par) {
  return par == 0 ? s.e : s.o;
}

// x_old row t (columns 0..m+1) into split layout.
inline void split_row(int m, const double* __restrict u, double* __restrict e,
                      double* __restrict o) {
  for (int k = 0; k <= (m + 1) / 2; ++k) {
    e[k] = u[2 * k];
    o[k] = u[2 * k + 1];
  }
}

// A finished row of x_new, xn, from split layout into the grid (columns
// 1..m), and in the same loop its change against the row u of x_old (split
// too), merged into c.
inline void finish_row(int m, CSplit xn, CSplit u, double* __restrict x, Change& c) {
  const double* __restrict e = xn.e;
  const double* __restrict o = xn.o;
  const double* __restrict ue = u.e;
  const double* __restrict uo = u.o;
  x[1] = o[0];
  std::uint64_t top = change_bits(uo[0], o[0]);
  for (int k = 1; k <= (m - 1) / 2; ++k) {
    x[2 * k] = e[k];
    x[2 * k + 1] = o[k];
    const std::uint64_t d_e = change_bits(ue[k], e[k]);
    const std::uint64_t d_o = change_bits(uo[k], o[k]);
    top = d_e > top ? d_e : top;
    top = d_o > top ? d_o : top;
  }
  merge_change(top, c);
}

// A coupling array whose elements all hold the same number, read like a row
// of it: every element is that number. Sweeping with it instead of the array
// gives the same operands, so the same bits, without streaming the array.
struct Uniform {
  double v;
  double operator[](std::ptrdiff_t) const { return v; }
  Uniform operator+(std::ptrdiff_t) const { return *this; }
};

// The couplings of the rows, as the sweep reads them: Row is a pointer into
// a coupling array or a Uniform. east and west are beta1 and beta2 of row
// t+1 (the couplings along row t), north and south beta3 and beta4 of row j,
// zeros for the rows beyond 1..m, where those couplings do not exist.
struct ArrayCouplings {
  using Row = const double* __restrict;
  const RealGrid& beta1;
  const RealGrid& beta2;
  const RealGrid& beta3;
  const RealGrid& beta4;
  const double* zero;
  int m;
  const double* east(int t) const { return row_from_lo(beta1, t + 1); }
  const double* west(int t) const { return row_from_lo(beta2, t + 1); }
  const double* north(int j) const { return j >= 1 && j <= m - 1 ? row_from_lo(beta3, j) : zero; }
  const double* south(int j) const { return j >= 2 && j <= m ? row_from_lo(beta4, j) : zero; }
};
// The address of a coupling row, for fetching it ahead; a Uniform has none.
inline std::uintptr_t address(const double* row) {
  return reinterpret_cast<std::uintptr_t>(row);
}
inline std::uintptr_t address(Uniform) {
  return 0;
}

struct UniformCouplings {
  using Row = Uniform;
  double c1, c2, c3, c4;  // the values of beta1 .. beta4
  int m;
  Row east(int) const { return {c1}; }
  Row west(int) const { return {c2}; }
  Row north(int j) const { return {j >= 1 && j <= m - 1 ? c3 : 0.0}; }
  Row south(int j) const { return {j >= 2 && j <= m ? c4 : 0.0}; }
};

// count pairs of quarter step 1 along a row, the first points i = i0, i0+2,
// ...: c_pq = cE[i-1], c_qp = cW[i-1], H from h[i] and h[i+1], the results to
// op[q] and oq[q] for the q-th pair.
template <class C>
inline void q1_pairs(int count, double rho, int i0, C cE, C cW, const double* __restrict h,
                     double* __restrict op, double* __restrict oq) {
  for (int q = 0; q < count; ++q) {
    const int i = i0 + 2 * q;
    const PairValues v = q1_pair(rho, cE[i - 1], cW[i - 1], h[i], h[i + 1]);
    op[q] = v.p;
    oq[q] = v.q;
  }
}

// Quarter step 1 of row t.
template <class C>
struct Q1Row {
  int m;
  Q1Constants k;
  const double* __restrict u;   // x_old row t
  const double* __restrict us;  // x_old row t-1, or zeros in row 1
  const double* __restrict un;  // x_old row t+1, or zeros in row m
  C cE;                         // beta1(i, t+1) at [i-1], i <= m-1
  C cW;                         // beta2(i, t+1) at [i-2], i >= 2
  C cN;                         // beta3(i, t) at [i-1], or zeros in row m
  C cS;                         // beta4(i, t) at [i-1], or zeros in row 1
  const double* __restrict f;   // rhs(i, t) at [i]

  // x_q1 of the whole row into out (split layout), through H of every point
  // in h (grid layout). Position i is the first point of its pair when
  // i % 2 == pp (partner i+1, in-group coupling east), else the second
  // (partner i-1, coupling west); the ends of the row are the single point or
  // a pair point without its outer coupling.
  void run(int t, double* __restrict h, Split out, Ahead ahead) const {
    const int pp = t % 2 == 1 ? 0 : 1;
    const double ha = k.half_a;
    const double rho = k.rho;
    for (int i = 2; i <= m - 1; ++i) {
      const bool p = (i & 1) == pp;
      // Every operand is loaded for both sides, then selected: no branch.
      const double ce = cE[i - 1];
      const double cw = cW[i - 2];
      const double ue = u[i + 1];
      const double uw = u[i - 1];
      h[i] = q1_half_paired(ha, u[i], p ? ce : cw, p ? ue : uw, p ? cw : ce, p ? uw : ue, cN[i - 1],
                            un[i], cS[i - 1], us[i], f[i]);
    }
    h[1] = pp == 0
               // Single point 1.
               ? q1_half_single(ha, u[1], cE[0], u[2], 0.0, 0.0, cN[0], un[1], cS[0], us[1], f[1])
               // Point 1 first of the pair (1, 2), no west coupling.
               : q1_half_paired(ha, u[1], cE[0], u[2], 0.0, 0.0, cN[0], un[1], cS[0], us[1], f[1]);
    h[m] = pp == 0
               // Point m second of the pair (m-1, m), no east coupling.
               ? q1_half_paired(ha, u[m], cW[m - 2], u[m - 1], 0.0, 0.0, cN[m - 1], un[m],
                                cS[m - 1], us[m], f[m])
               // Single point m.
               : q1_half_single(ha, u[m], 0.0, 0.0, cW[m - 2], u[m - 1], cN[m - 1], un[m],
                                cS[m - 1], us[m], f[m]);
    // Pairs (i, i+1), i = 2k + pp: c_pq = beta1(i, t+1) = cE[i-1],
    // c_qp = beta2(i+1, t+1) = cW[i-1]; both points from one q1_pair.
    double* __restrict op = first(out, pp);
    double* __restrict oq = second(out, pp);
    const int k0 = 1 - pp;
    const int k_end = (m - 1 - pp) / 2;  // last k with 2k + pp + 1 <= m
    run_fetching(k_end - k0 + 1, ahead, [&](int j, int count) {
      const int kk = k0 + j;
      q1_pairs(count, rho, 2 * kk + pp, cE, cW, h, op + kk, oq + kk);
    });
    if (pp == 0) {
      out.o[0] = q1_single(rho, h[1]);
    } else {
      out.o[(m - 1) / 2] = q1_single(rho, h[m]);
    }
  }
};

// n pairs of quarter steps 2 to 4 in a row: pair j has the couplings
// c_pq[2j], c_qp[2j] (every second value of a coupling row), its points' old
// values u_p[j], u_q[j] and previous quarter-step values w_p[j], w_q[j], and
// its results go to out_p[j], out_q[j] (the split rows make the points of
// the pairs contiguous).
template <class C>
inline void qk_pairs(int n, double r, double rho, C c_pq, C c_qp, const double* __restrict u_p,
                     const double* __restrict u_q, const double* __restrict w_p,
                     const double* __restrict w_q, double* __restrict out_p,
                     double* __restrict out_q) {
  for (int j = 0; j < n; ++j) {
    const PairValues v = qk_pair(r, rho, c_pq[2 * j], c_qp[2 * j], u_p[j], u_q[j], w_p[j], w_q[j]);
    out_p[j] = v.p;
    out_q[j] = v.q;
  }
}

// The same, in blocks that fetch the rows of ahead while they work.
template <class C>
void qk_pair_run(int n, double r, double rho, C c_pq, C c_qp, const double* __restrict u_p,
                 const double* __restrict u_q, const double* __restrict w_p,
                 const double* __restrict w_q, double* __restrict out_p, double* __restrict out_q,
                 Ahead ahead) {
  run_fetching(n, ahead, [&](int j, int count) {
    qk_pairs(count, r, rho, c_pq + 2 * j, c_qp + 2 * j, u_p + j, u_q + j, w_p + j, w_q + j,
             out_p + j, out_q + j);
  });
}

// Quarter step 2 of row t, w = x_q1 of the row, u = x_old of the row (both
// split): pairs (i, i+1) with c_pq = beta1(i, t+1) = cE[i-1] and
// c_qp = beta2(i+1, t+1) = cW[i-1], both points from one qk_pair. Rows t odd:
// pairs (1, 2) .. (m-2, m-1), single point m; rows t even: single point 1,
// pairs (2, 3) .. (m-1, m).
template <class C>
void q2_row(int m, double r, double rho, int t, CSplit u, C cE, C cW, CSplit w, Split out,
            Ahead ahead) {
  const int pp = t % 2 == 1 ? 1 : 0;
  // The pairs k = k0 .. k_end (first points i = 2k + pp, 1 - pp <= k, i + 1 <= m),
  // counted from the first: n pairs, the couplings every second value.
  const int k0 = 1 - pp;
  const int n = (m - 1 - pp) / 2 - k0 + 1;
  const int i0 = 2 * k0 + pp;
  // ce[2j] = cE[i-1] and cw[2j] = cW[i-1] for the first point i of pair j.
  qk_pair_run(n, r, rho, cE + (i0 - 1), cW + (i0 - 1), first(u, pp) + k0, second(u, pp) + k0,
              first(w, pp) + k0, second(w, pp) + k0, first(out, pp) + k0, second(out, pp) + k0,
              ahead);
  const int single = pp == 1 ? (m - 1) / 2 : 0;  // column m or 1, both odd
  out.o[single] = qk_single(r, rho, u.o[single], w.o[single]);
}

// Quarter step 3 or 4, the column pairs (a, a+1) at the columns of parity
// par from first_column on: c_pq = beta3(i, a), c_qp = beta4(i, a+1), u and w
// the rows a and a+1 of x_old and of the previous quarter step (split). Both
// points of a pair come from one evaluation of qk_pair.
template <class C>
void column_pairs(int m, double r, double rho, int first_column, C c_pq, C c_qp, CSplit u_p,
                  CSplit u_q, CSplit w_p, CSplit w_q, Split out_p, Split out_q, Ahead ahead) {
  const int par = first_column & 1;
  // Columns i = 2k + par for k = k0 .. (m - par) / 2: n pairs from i0 on.
  const int k0 = first_column >> 1;
  const int n = (m - par) / 2 - k0 + 1;
  const int i0 = 2 * k0 + par;
  // c_pq[i-1] and c_qp[i-1] for the column i of pair j.
  qk_pair_run(n, r, rho, c_pq + (i0 - 1), c_qp + (i0 - 1), half(u_p, par) + k0, half(u_q, par) + k0,
              half(w_p, par) + k0, half(w_q, par) + k0, half(out_p, par) + k0,
              half(out_q, par) + k0, ahead);
}

// Single points of quarter steps 3 and 4 in row 1 or m: the columns of the
// parity of first_column from there on.
void column_singles(int m, double r, double rho, int first_column, CSplit u, CSplit w, Split out) {
  const int par = first_column & 1;
  const double* __restrict uu = half(u, par);
  const double* __restrict ww = half(w, par);
  double* __restrict oo = half(out, par);
  const int k_end = (m - par) / 2;
  for (int k = first_column >> 1; k <= k_end; ++k) oo[k] = qk_single(r, rho, uu[k], ww[k]);
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
  double* h;    // H of quarter step 1 of the current row, grid layout [i]
  Split q1;     // x_q1 of the current row
  Split q2[3];  // x_q2 of rows t with t % 3
  Split q3[3];  // x_q3 of rows t with t % 3
  Split u[3];   // x_old of rows t with t % 3
  Split xn[2];  // x_new of rows t with t % 2, until the row is complete
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
  // Rows of m+2 values, or two halves of (m+3)/2 values for the split rows,
  // rounded up to whole cache lines; one allocation per thread so that no two
  // threads write to one line.
  const std::size_t half = (std::size_t(m_) + 3) / 2 + 1;
  const std::size_t row = (std::max(std::size_t(m_) + 2, 2 * half) + 7) / 8 * 8;
  zero_.assign(row, 0.0);
  const RealGrid* betas[4] = {&beta1_, &beta2_, &beta3_, &beta4_};
  uniform_ = true;
  for (int b = 0; b < 4 && uniform_; ++b) {
    uniform_ = single_value(*betas[b], uniform_values_[b]);
  }
  windows_.resize(std::size_t(threads_));
  for (auto& w : windows_) w.assign(window_rows * row + 8, 0.0);
}

// Each version holds both sweeps, the one that reads the coupling arrays and
// the one for couplings that are each a single number (the streamfunction
// solves: the five-point Laplacian), which streams only x_old, rhs and x_new.
LADYZH_SWEEP_VERSIONS
void FusedSweep::sweep_block(Window& w, const RealGrid& x_old, RealGrid& x_new, int j0, int j1,
                             Change& change) const {
  if (uniform_) {
    sweep_rows(UniformCouplings{uniform_values_[0], uniform_values_[1], uniform_values_[2],
                                uniform_values_[3], m_},
               w, x_old, x_new, j0, j1, change);
  } else {
    sweep_rows(ArrayCouplings{beta1_, beta2_, beta3_, beta4_, zero_.data(), m_}, w, x_old, x_new,
               j0, j1, change);
  }
}

template <class Couplings>
void FusedSweep::sweep_rows(const Couplings& beta, Window& w, const RealGrid& x_old,
                            RealGrid& x_new, int j0, int j1, Change& change) const {
  const int m = m_;
  const double r = r_;
  const Q1Constants k1 = q1_constants(r);
  const double rho = r + 1.0;
  const double* zero = zero_.data();
  const CSplit zero_split{zero, zero};
  const int s2 = std::max(1, j0 - 2);
  const int e2 = std::min(m, j1 + 2);
  const int lo3 = std::max(1, j0 - 1);
  const int hi3 = std::min(m, j1 + 1);

  const auto b3 = [&](int j) { return beta.north(j); };
  const auto b4 = [&](int j) { return beta.south(j); };
  const auto u = [&](int j) { return j >= 1 && j <= m ? row0(x_old, j) : zero; };
  const auto us = [&](int j) { return j >= 1 && j <= m ? CSplit(w.u[j % 3]) : zero_split; };
  const auto in3 = [&](int j) { return j >= lo3 && j <= hi3; };
  const auto in4 = [&](int j) { return j >= j0 && j <= j1; };

  for (int t = s2; t <= j1 + 2; ++t) {
    // The rows that step t+1 streams first, fetched by the pair loops of this
    // step: x_old row t+2, the couplings along row t+1 and across it, rhs of
    // row t+1, and the row of x_new that step t+1 completes.
    Ahead ahead_q1, ahead_q2, ahead_q3, ahead_q4;
    if (t + 1 <= e2) {
      ahead_q1 = {row_address(x_old, t + 2), 0, in4(t - 1) ? row_address(x_new, t - 1) : 0};
      ahead_q2 = {address(beta.east(t + 1)), address(beta.west(t + 1)), 0};
      ahead_q3 = {address(beta.north(t + 1)), address(beta.south(t + 1)), 0};
      ahead_q4 = {row_address(rhs_, t + 1), 0, 0};
    }
    if (t <= e2) {
      // Quarter steps 1 and 2 of row t.
      split_row(m, u(t), w.u[t % 3].e, w.u[t % 3].o);
      const auto cE = beta.east(t);
      const auto cW = beta.west(t);
      using Q1 = Q1Row<typename Couplings::Row>;
      const Q1 q1{m, k1, u(t), u(t - 1), u(t + 1), cE, cW, b3(t), b4(t), row0(rhs_, t)};
      q1.run(t, w.h, w.q1, ahead_q1);
      q2_row(m, r, rho, t, us(t), cE, cW, w.q1, w.q2[t % 3], ahead_q2);
      // Quarter step 3: the column pairs (t-1, t), whose first points are the
      // even columns of odd rows t-1 and the odd columns of even ones; single
      // points in the odd columns of row 1 and the even columns of row m.
      if (t >= 2 && (in3(t - 1) || in3(t))) {
        const int a = t - 1;
        column_pairs(m, r, rho, a % 2 == 1 ? 2 : 1, b3(a), b4(t), us(a), us(t), w.q2[a % 3],
                     w.q2[t % 3], w.q3[a % 3], w.q3[t % 3], ahead_q3);
      }
      if (t == 1 && in3(1)) column_singles(m, r, rho, 1, us(1), w.q2[1 % 3], w.q3[1 % 3]);
      if (t == m && in3(m)) column_singles(m, r, rho, 2, us(m), w.q2[m % 3], w.q3[m % 3]);
    }
    // Quarter step 4: the column pairs (t-2, t-1), first points in the odd
    // columns of odd rows t-2 and the even columns of even ones; single points
    // in the even columns of row 1 and the odd columns of row m.
    const int a = t - 2;
    if (a >= 1 && a + 1 <= m && (in4(a) || in4(a + 1))) {
      column_pairs(m, r, rho, a % 2 == 1 ? 1 : 2, b3(a), b4(a + 1), us(a), us(a + 1), w.q3[a % 3],
                   w.q3[(a + 1) % 3], w.xn[a % 2], w.xn[(a + 1) % 2], ahead_q4);
    }
    const int s4 = t - 1;
    if (s4 == 1 && in4(1)) column_singles(m, r, rho, 2, us(1), w.q3[1 % 3], w.xn[1 % 2]);
    if (s4 == m && in4(m)) column_singles(m, r, rho, 1, us(m), w.q3[m % 3], w.xn[m % 2]);
    // Row t-2 of x_new is complete: into the grid, and its change, taken on
    // the split rows of x_old and x_new (even columns 2..m-1, odd 1..m).
    if (in4(a)) finish_row(m, w.xn[a % 2], us(a), row0(x_new, a), change);
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
    const auto split = [&](int n_row) {
      double* b = base + std::size_t(n_row) * row;
      return Split{b, b + row / 2};
    };
    Window w{base,
             split(1),
             {split(2), split(3), split(4)},
             {split(5), split(6), split(7)},
             {split(8), split(9), split(10)},
             {split(11), split(12)}};
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
