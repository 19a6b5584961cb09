// The four quarter steps of one AGE inner iteration. Each is one pass over the
// interior that solves its block-diagonal system group by group with the
// kernels of groups.hpp; the loops below visit the groups of each pattern
// (they need m odd; with m even some points stay unwritten, keeping what the
// output array held).
//
// Couplings of row (i, j): east beta1(i, j+1) for i <= m-1, west beta2(i, j+1)
// for i >= 2, north beta3(i, j) for j <= m-1, south beta4(i, j) for j >= 2.
#include "age/age.hpp"
#include "age/groups.hpp"

namespace ladyzh {
namespace {

// The four couplings of row (i, j) of A with the neighbour values of u; a
// coupling that does not exist is {0, 0} (see groups.hpp).
struct RowCouplings {
  double c_e = 0.0, u_e = 0.0;
  double c_w = 0.0, u_w = 0.0;
  double c_n = 0.0, u_n = 0.0;
  double c_s = 0.0, u_s = 0.0;
};

inline RowCouplings row_couplings(int m, const RealGrid& beta1, const RealGrid& beta2,
                                  const RealGrid& beta3, const RealGrid& beta4, const RealGrid& u,
                                  int i, int j) {
  RowCouplings k;
  if (i <= m - 1) {
    k.c_e = beta1(i, j + 1);
    k.u_e = u(i + 1, j);
  }
  if (i >= 2) {
    k.c_w = beta2(i, j + 1);
    k.u_w = u(i - 1, j);
  }
  if (j <= m - 1) {
    k.c_n = beta3(i, j);
    k.u_n = u(i, j + 1);
  }
  if (j >= 2) {
    k.c_s = beta4(i, j);
    k.u_s = u(i, j - 1);
  }
  return k;
}

// Quarter step 1 on the groups of G1 (pairs along the first index).
struct Q1Sweep {
  int m;
  age::Q1Constants c;
  const RealGrid& beta1;
  const RealGrid& beta2;
  const RealGrid& beta3;
  const RealGrid& beta4;
  const RealGrid& rhs;
  const RealGrid& u;
  RealGrid& out;

  void single(int i, int j) const {
    const RowCouplings k = row_couplings(m, beta1, beta2, beta3, beta4, u, i, j);
    const double h = age::q1_half_single(c.half_a, u(i, j), k.c_e, k.u_e, k.c_w, k.u_w, k.c_n,
                                         k.u_n, k.c_s, k.u_s, rhs(i, j));
    out(i, j) = age::q1_single(c.rho, h);
  }

  // The pair p = (i, j), q = (i+1, j): in-group couplings east of p, west of q.
  void pair(int i, int j) const {
    const RowCouplings kp = row_couplings(m, beta1, beta2, beta3, beta4, u, i, j);
    const RowCouplings kq = row_couplings(m, beta1, beta2, beta3, beta4, u, i + 1, j);
    const double h_p = age::q1_half_paired(c.half_a, u(i, j), kp.c_e, kp.u_e, kp.c_w, kp.u_w,
                                           kp.c_n, kp.u_n, kp.c_s, kp.u_s, rhs(i, j));
    const double h_q = age::q1_half_paired(c.half_a, u(i + 1, j), kq.c_w, kq.u_w, kq.c_e, kq.u_e,
                                           kq.c_n, kq.u_n, kq.c_s, kq.u_s, rhs(i + 1, j));
    const age::PairValues x = age::q1_pair(c.rho, kp.c_e, kq.c_w, h_p, h_q);
    out(i, j) = x.p;
    out(i + 1, j) = x.q;
  }
};

}  // namespace

void Q1step(std::int32_t m, double r, const RealGrid& beta1, const RealGrid& beta2,
            const RealGrid& beta3, const RealGrid& beta4, const RealGrid& rhs,
            const RealGrid& x_old, RealGrid& x_q1) {
  const Q1Sweep s{m, age::q1_constants(r), beta1, beta2, beta3, beta4, rhs, x_old, x_q1};
  // Row 1: the single point (1, 1), then pairs (2, 3), (4, 5), ...
  s.single(1, 1);
  for (int i = 2; i <= m - 1; i += 2) s.pair(i, 1);
  // Even rows: pairs (1, 2), (3, 4), ..., then the single point (m, j).
  for (int j = 2; j <= m - 1; j += 2) {
    for (int i = 1; i <= m - 2; i += 2) s.pair(i, j);
  }
  for (int j = 2; j <= m - 1; j += 2) s.single(m, j);
  // Odd rows from 3: the single point (1, j), then pairs (2, 3), (4, 5), ...
  for (int j = 3; j <= m; j += 2) s.single(1, j);
  for (int j = 3; j <= m; j += 2) {
    for (int i = 2; i <= m - 1; i += 2) s.pair(i, j);
  }
}

void Q2step(std::int32_t m, double r, const RealGrid& beta1, const RealGrid& beta2,
            const RealGrid& x_old, const RealGrid& w_in, RealGrid& w_out) {
  const double rho = r + 1.0;
  const auto single = [&](int i, int j) {
    w_out(i, j) = age::qk_single(r, rho, x_old(i, j), w_in(i, j));
  };
  // Pair (i, j), (i+1, j): c_pq = beta1(i, j+1), c_qp = beta2(i+1, j+1).
  const auto pair = [&](int i, int j) {
    const age::PairValues x =
        age::qk_pair(r, rho, beta1(i, j + 1), beta2(i + 1, j + 1), x_old(i, j), x_old(i + 1, j),
                     w_in(i, j), w_in(i + 1, j));
    w_out(i, j) = x.p;
    w_out(i + 1, j) = x.q;
  };
  // Odd rows: pairs (1, 2), (3, 4), ..., single point m.
  for (int j = 1; j <= m; j += 2) {
    for (int i = 1; i <= m - 2; i += 2) pair(i, j);
  }
  for (int j = 1; j <= m; j += 2) single(m, j);
  // Even rows: single point 1, pairs (2, 3), (4, 5), ...
  for (int j = 2; j <= m - 1; j += 2) single(1, j);
  for (int j = 2; j <= m - 1; j += 2) {
    for (int i = 2; i <= m - 1; i += 2) pair(i, j);
  }
}

namespace {

// Quarter steps 3 and 4 pair along the second index: p = (i, j), q = (i, j+1)
// with c_pq = beta3(i, j) and c_qp = beta4(i, j+1).
struct ColumnSweep {
  double r;
  double rho;
  const RealGrid& beta3;
  const RealGrid& beta4;
  const RealGrid& u;
  const RealGrid& w_in;
  RealGrid& w_out;

  void single(int i, int j) const { w_out(i, j) = age::qk_single(r, rho, u(i, j), w_in(i, j)); }

  void pair(int i, int j) const {
    const age::PairValues x = age::qk_pair(r, rho, beta3(i, j), beta4(i, j + 1), u(i, j),
                                           u(i, j + 1), w_in(i, j), w_in(i, j + 1));
    w_out(i, j) = x.p;
    w_out(i, j + 1) = x.q;
  }
};

}  // namespace

void Q3step(std::int32_t m, double r, const RealGrid& beta3, const RealGrid& beta4,
            const RealGrid& x_old, const RealGrid& w_in, RealGrid& w_out) {
  const ColumnSweep s{r, r + 1.0, beta3, beta4, x_old, w_in, w_out};
  // Odd columns: single point 1, pairs (2, 3), (4, 5), ...
  for (int i = 1; i <= m; i += 2) s.single(i, 1);
  for (int j = 2; j <= m - 1; j += 2) {
    for (int i = 1; i <= m; i += 2) s.pair(i, j);
  }
  // Even columns: pairs (1, 2), (3, 4), ..., single point m.
  for (int j = 1; j <= m - 2; j += 2) {
    for (int i = 2; i <= m - 1; i += 2) s.pair(i, j);
  }
  for (int i = 2; i <= m - 1; i += 2) s.single(i, m);
}

void Q4step(std::int32_t m, double r, const RealGrid& beta3, const RealGrid& beta4,
            const RealGrid& x_old, const RealGrid& w_in, RealGrid& w_out) {
  const ColumnSweep s{r, r + 1.0, beta3, beta4, x_old, w_in, w_out};
  // Odd columns: pairs (1, 2), (3, 4), ..., single point m.
  for (int i = 1; i <= m; i += 2) s.single(i, m);
  for (int j = 1; j <= m - 2; j += 2) {
    for (int i = 1; i <= m; i += 2) s.pair(i, j);
  }
  // Even columns: single point 1, pairs (2, 3), (4, 5), ...
  for (int j = 2; j <= m - 1; j += 2) {
    for (int i = 2; i <= m - 1; i += 2) s.pair(i, j);
  }
  for (int i = 2; i <= m - 1; i += 2) s.single(i, 1);
}

}  // namespace ladyzh
