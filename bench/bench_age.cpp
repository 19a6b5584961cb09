// Cost of one AGE inner iteration, per interior point, side by side:
//   Literal  the quarter-step routines Q1step..Q4step over whole work arrays,
//            norm and the copy of x_new into x_old (one thread);
//   Fused    the production sweep of age/sweep.hpp (iterates swapped);
//   FusedUniform  the same with every coupling -1, as in the streamfunction
//            solves (the five-point Laplacian): the sweep then reads the
//            couplings as numbers and streams only x_old, rhs and x_new;
//   Triad    a streaming reference: y = a + s (b + c + d + e + f) over seven
//            grid-sized arrays, the arrays one fused iteration has to move
//            (beta1..beta4, rhs and x_old read, x_new written).
// Each runs for m = 127, 511, 2047 on one thread and on all of OpenMP's
// threads. Counters: ns_per_point (wall time per interior point per
// iteration), and for Fused and Triad bytes_per_point (the bytes of the seven
// arrays per point: 7 x 8; 3 x 8 for FusedUniform) and GB_per_s (those bytes
// over the wall time).
#include <benchmark/benchmark.h>
#include <omp.h>

#include <cstdint>
#include <utility>
#include <vector>

#include "age/age.hpp"
#include "age/age_fixture.hpp"
#include "age/sweep.hpp"
#include "run/grid.hpp"

namespace {

using ladyzh::RealGrid;
using ladyzh::test::Rand;

// A vorticity-like system: couplings -0.9 +- 0.1 (diagonally dominant, so the
// iteration converges and its values stay normal), random rhs and start.
struct System : ladyzh::test::System {
  RealGrid x_old, x_new;
  explicit System(int m_)
      : ladyzh::test::System(m_), x_old(-2, m_ + 2, -2, m_ + 2), x_new(-2, m_ + 2, -2, m_ + 2) {
    Rand rnd{std::uint64_t(m_)};
    random_couplings(rnd, -0.9, 0.1);
    for (int j = 1; j <= m; ++j) {
      for (int i = 1; i <= m; ++i) {
        rhs(i, j) = rnd.next();
        x_old(i, j) = rnd.next();
      }
    }
  }
};

constexpr double kR = 1.0;
constexpr double kBytesPerPoint = 7 * sizeof(double);
constexpr double kUniformBytesPerPoint = 3 * sizeof(double);

// bytes: the bytes per point the iteration moves, 0 for none counted.
void set_counters(benchmark::State& state, int m, double bytes) {
  const double points = double(m) * double(m) * double(state.iterations());
  state.counters["ns_per_point"] =
      benchmark::Counter(points * 1e-9, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  if (bytes > 0) {
    state.counters["bytes_per_point"] = bytes;
    state.counters["GB_per_s"] =
        benchmark::Counter(points * bytes * 1e-9, benchmark::Counter::kIsRate);
  }
}

void BM_Literal(benchmark::State& state) {
  const int m = int(state.range(0));
  System s(m);
  RealGrid x_q1(-2, m + 2, -2, m + 2), x_q2 = x_q1, x_q3 = x_q1;
  for (auto _ : state) {
    double err = 0.0;
    ladyzh::age::literal_iteration(m, kR, s.beta1, s.beta2, s.beta3, s.beta4, s.rhs, s.x_old, x_q1,
                                   x_q2, x_q3, s.x_new, err);
    ladyzh::equal(s.x_old, s.x_new, -2, m + 2, -2, m + 2);
    benchmark::DoNotOptimize(err);
  }
  set_counters(state, m, 0);
}

void run_fused(benchmark::State& state, System& s, double bytes) {
  const int m = s.m;
  const int threads = int(state.range(1));
  ladyzh::age::FusedSweep sweep(m, kR, s.beta1, s.beta2, s.beta3, s.beta4, s.rhs, threads);
  RealGrid* cur = &s.x_old;
  RealGrid* next = &s.x_new;
  for (auto _ : state) {
    const ladyzh::age::Change c = sweep.iterate(*cur, *next);
    benchmark::DoNotOptimize(c);
    std::swap(cur, next);
  }
  set_counters(state, m, bytes);
}

void BM_Fused(benchmark::State& state) {
  System s(int(state.range(0)));
  run_fused(state, s, kBytesPerPoint);
}

void BM_FusedUniform(benchmark::State& state) {
  System s(int(state.range(0)));
  for (RealGrid* b : {&s.beta1, &s.beta2, &s.beta3, &s.beta4}) {
    for (double& c : b->storage()) c = -1.0;
  }
  run_fused(state, s, kUniformBytesPerPoint);
}

void BM_Triad(benchmark::State& state) {
  const int m = int(state.range(0));
  const int threads = int(state.range(1));
  const std::int64_t n = std::int64_t(m) * m;
  std::vector<std::vector<double>> in(6);
  std::vector<double> out(std::size_t(n), 0.0);
  // Every thread first touches the part it streams.
#pragma omp parallel num_threads(threads)
  {
#pragma omp single
    for (auto& a : in) a.resize(std::size_t(n));
#pragma omp for schedule(static)
    for (std::int64_t p = 0; p < n; ++p) {
      for (auto& a : in) a[std::size_t(p)] = 1.0 + 1e-3 * double(p % 7);
      out[std::size_t(p)] = 0.0;
    }
  }
  const double s = 0.5;
  for (auto _ : state) {
    const double* a = in[0].data();
    const double* b = in[1].data();
    const double* c = in[2].data();
    const double* d = in[3].data();
    const double* e = in[4].data();
    const double* f = in[5].data();
    double* y = out.data();
#pragma omp parallel for num_threads(threads) schedule(static)
    for (std::int64_t p = 0; p < n; ++p) y[p] = a[p] + s * ((((b[p] + c[p]) + d[p]) + e[p]) + f[p]);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  set_counters(state, m, kBytesPerPoint);
}

void sizes(benchmark::internal::Benchmark* b, bool threaded) {
  const int all = omp_get_max_threads();
  for (int m : {127, 511, 2047}) {
    b->Args({m, 1});
    if (threaded && all > 1) b->Args({m, all});
  }
  b->ArgNames({"m", "threads"})->UseRealTime()->Unit(benchmark::kMicrosecond);
}

BENCHMARK(BM_Literal)->Apply([](benchmark::internal::Benchmark* b) { sizes(b, false); });
BENCHMARK(BM_Fused)->Apply([](benchmark::internal::Benchmark* b) { sizes(b, true); });
BENCHMARK(BM_FusedUniform)->Apply([](benchmark::internal::Benchmark* b) { sizes(b, true); });
BENCHMARK(BM_Triad)->Apply([](benchmark::internal::Benchmark* b) { sizes(b, true); });

}  // namespace

BENCHMARK_MAIN();
