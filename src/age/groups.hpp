// The group kernels of the AGE quarter steps: the formulas that solve one
// group of a quarter step, a single point or a pair of neighbours, with the
// order of their floating-point operations fixed here once. Every sweep over
// the grid (the quarter-step routines and any fused inner iteration) evaluates
// its groups through these functions only, so that all of them give the same
// bits.
//
// rho = r + 1 is the diagonal of Gk + rI. A pair p, q has the block
// [[rho, c_pq], [c_qp, rho]], c_pq the coupling of row p to q and c_qp that of
// row q to p, and det = rho*rho - c_qp*c_pq. Each point of a pair is solved on
// its own (the *_own kernels), so that a sweep can form every point of a line
// in the same way, whichever side of its pair it lies on.
//
// Quarter step 1 works with the half right-hand side
//   H(p) = (a/2) u(p) - (c_in/2) u(partner) - sum of c u(neighbour) + rhs(p),
// a = rho - 8, the sum over the couplings of row p to points of other groups.
// A coupling that does not exist (its neighbour lies outside 1..m) is passed
// as the coefficient 0.0 with the neighbour value 0.0: subtracting the product
// +0.0 leaves every value as it was (signed zeros, infinities and NaN
// included), so the term is the same as no term.
#pragma once

namespace ladyzh::age {

// The two values of a solved pair: p first, q second.
struct PairValues {
  double p;
  double q;
};

// Constants of quarter step 1 for the whole sweep.
struct Q1Constants {
  double rho;     // r + 1
  double half_a;  // (rho - 8) / 2, half the diagonal of rI + G1 - 2A
};

inline Q1Constants q1_constants(double r) {
  const double rho = r + 1.0;
  return {rho, (rho - 8.0) / 2.0};
}

// H(p) of a single point: its four couplings (east, west, north, south) all
// reach other groups.
inline double q1_half_single(double half_a, double u_p, double c_e, double u_e, double c_w,
                             double u_w, double c_n, double u_n, double c_s, double u_s,
                             double rhs_p) {
  double h = half_a * u_p;
  h = h - c_e * u_e;
  h = h - c_w * u_w;
  h = h - c_n * u_n;
  h = h - c_s * u_s;
  return h + rhs_p;
}

// H(p) of a point of a pair: c_in, u_in the in-group coupling and the
// partner's value; c_line, u_line the other coupling along the pair's line;
// then the two couplings across it.
inline double q1_half_paired(double half_a, double u_p, double c_in, double u_in, double c_line,
                             double u_line, double c_n, double u_n, double c_s, double u_s,
                             double rhs_p) {
  double h = half_a * u_p;
  h = h - (c_in / 2.0) * u_in;
  h = h - c_line * u_line;
  h = h - c_n * u_n;
  h = h - c_s * u_s;
  return h + rhs_p;
}

// Quarter step 1, single point: 2 H(p) / rho.
inline double q1_single(double rho, double h_p) {
  return (2.0 * h_p) / rho;
}

// Quarter step 1, one point of a pair from its own and its partner's half
// right-hand sides: Cramer's rule for the block with right-hand side
// (2 H(p), 2 H(q)). c_own is the in-group coupling of the point's own row,
// c_other that of the partner's row; det = rho*rho - c_other*c_own is the same
// product for both points (multiplication commutes).
inline double q1_pair_own(double rho, double c_own, double c_other, double h_own, double h_other) {
  const double det = rho * rho - c_other * c_own;
  return (2.0 * (rho * h_own - c_own * h_other)) / det;
}

// Quarter step 1, pair: both points.
inline PairValues q1_pair(double rho, double c_pq, double c_qp, double h_p, double h_q) {
  return {q1_pair_own(rho, c_pq, c_qp, h_p, h_q), q1_pair_own(rho, c_qp, c_pq, h_q, h_p)};
}

// Quarter steps 2 to 4, single point: (r w_in(p) + u(p)) / rho.
inline double qk_single(double r, double rho, double u_p, double w_p) {
  return (r * w_p + u_p) / rho;
}

// Quarter steps 2 to 4, one point of a pair: the right-hand sides of the
// point and of its partner, s = u(own) + c_own u(other) + r w_in(own) and the
// same seen from the partner, then Cramer's rule for the block.
inline double qk_pair_own(double r, double rho, double c_own, double c_other, double u_own,
                          double u_other, double w_own, double w_other) {
  const double s_own = (u_own + c_own * u_other) + r * w_own;
  const double s_other = (u_other + c_other * u_own) + r * w_other;
  const double det = rho * rho - c_other * c_own;
  return (rho * s_own - c_own * s_other) / det;
}

// Quarter steps 2 to 4, pair: s_p = u(p) + c_pq u(q) + r w_in(p),
// s_q = u(q) + c_qp u(p) + r w_in(q), both points by Cramer's rule.
inline PairValues qk_pair(double r, double rho, double c_pq, double c_qp, double u_p, double u_q,
                          double w_p, double w_q) {
  return {qk_pair_own(r, rho, c_pq, c_qp, u_p, u_q, w_p, w_q),
          qk_pair_own(r, rho, c_qp, c_pq, u_q, u_p, w_q, w_p)};
}

}  // namespace ladyzh::age
