// Fixtures of the AGE solver tests: a five-point system on the m x m interior
// with its coupling arrays, deterministic fill values, and the same system as
// a dense matrix with a direct solver, assembled here from the coupling table
// of the five-point operator independently of the solver's own look-ups.
#pragma once

#include <cmath>
#include <cstdint>
#include <utility>
#include <vector>

#include "run/grid.hpp"

namespace ladyzh::test {

// A reproducible stream of doubles in [0, 1).
class Rand {
 public:
  explicit Rand(std::uint64_t seed) : s_(seed * 0x9E3779B97F4A7C15ULL + 1) {}
  double next() {
    s_ = s_ * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<double>(s_ >> 11) * 0x1p-53;
  }
  // base + spread * (a value in [-1, 1)).
  double around(double base, double spread) { return base + spread * (2.0 * next() - 1.0); }

 private:
  std::uint64_t s_;
};

inline RealGrid make_iterate(int m) {
  return RealGrid(-2, m + 2, -2, m + 2);
}

inline void fill_all(RealGrid& g, double v) {
  for (double& x : g.storage()) x = v;
}

// Interior 1..m x 1..m of an array, other entries untouched.
inline void fill_interior(RealGrid& g, int m, Rand& rnd, double base, double spread) {
  for (int j = 1; j <= m; ++j) {
    for (int i = 1; i <= m; ++i) g(i, j) = rnd.around(base, spread);
  }
}

struct System {
  int m;
  RealGrid beta1, beta2, beta3, beta4, rhs;

  explicit System(int m_)
      : m(m_),
        beta1(1, m_ - 1, 2, m_ + 1),
        beta2(2, m_, 2, m_ + 1),
        beta3(1, m_, 1, m_ - 1),
        beta4(1, m_, 2, m_),
        rhs(0, m_ + 1, 0, m_ + 1) {}

  // Every coupling set to c (c = -1: the plain five-point Laplacian).
  void set_couplings(double c) {
    for (RealGrid* b : {&beta1, &beta2, &beta3, &beta4}) fill_all(*b, c);
  }
  // Every coupling base + spread * (a distinct value in [-1, 1)): with base -1
  // and a small spread an unsymmetric operator like the vorticity equation's.
  void random_couplings(Rand& rnd, double base, double spread) {
    for (RealGrid* b : {&beta1, &beta2, &beta3, &beta4}) {
      for (double& x : b->storage()) x = rnd.around(base, spread);
    }
  }
};

// --- the dense system ------------------------------------------------------

using Matrix = std::vector<std::vector<double>>;
using Vector = std::vector<double>;

inline int node(int m, int i, int j) {
  return (i - 1) + (j - 1) * m;
}

inline Matrix zero_matrix(int n) {
  return Matrix(n, Vector(n, 0.0));
}

// A of the five-point system: 4 on the diagonal; row (i, j) couples to
// (i+1, j) with beta1(i, j+1), to (i-1, j) with beta2(i, j+1), to (i, j+1)
// with beta3(i, j) and to (i, j-1) with beta4(i, j), where those exist.
inline Matrix assemble_A(const System& s) {
  const int m = s.m;
  Matrix a = zero_matrix(m * m);
  for (int j = 1; j <= m; ++j) {
    for (int i = 1; i <= m; ++i) {
      const int p = node(m, i, j);
      a[p][p] = 4.0;
      if (i < m) a[p][node(m, i + 1, j)] = s.beta1(i, j + 1);
      if (i > 1) a[p][node(m, i - 1, j)] = s.beta2(i, j + 1);
      if (j < m) a[p][node(m, i, j + 1)] = s.beta3(i, j);
      if (j > 1) a[p][node(m, i, j - 1)] = s.beta4(i, j);
    }
  }
  return a;
}

inline Vector interior(const RealGrid& g, int m) {
  Vector v(m * m);
  for (int j = 1; j <= m; ++j) {
    for (int i = 1; i <= m; ++i) v[node(m, i, j)] = g(i, j);
  }
  return v;
}

inline Vector multiply(const Matrix& a, const Vector& x) {
  Vector y(a.size(), 0.0);
  for (std::size_t p = 0; p < a.size(); ++p) {
    for (std::size_t q = 0; q < x.size(); ++q) y[p] += a[p][q] * x[q];
  }
  return y;
}

// Gaussian elimination with partial pivoting.
inline Vector solve_dense(Matrix a, Vector b) {
  const std::size_t n = b.size();
  for (std::size_t c = 0; c < n; ++c) {
    std::size_t piv = c;
    for (std::size_t p = c + 1; p < n; ++p) {
      if (std::fabs(a[p][c]) > std::fabs(a[piv][c])) piv = p;
    }
    std::swap(a[c], a[piv]);
    std::swap(b[c], b[piv]);
    for (std::size_t p = c + 1; p < n; ++p) {
      const double f = a[p][c] / a[c][c];
      for (std::size_t q = c; q < n; ++q) a[p][q] -= f * a[c][q];
      b[p] -= f * b[c];
    }
  }
  Vector x(n);
  for (std::size_t c = n; c-- > 0;) {
    double t = b[c];
    for (std::size_t q = c + 1; q < n; ++q) t -= a[c][q] * x[q];
    x[c] = t / a[c][c];
  }
  return x;
}

inline double max_abs(const Vector& v) {
  double d = 0.0;
  for (double x : v) d = std::fmax(d, std::fabs(x));
  return d;
}

}  // namespace ladyzh::test
