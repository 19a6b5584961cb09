// Cost of formatted fields and records: the reports of a 2047 x 2047 grid write
// about 4.2 million records of four e20.10 fields to `data` alone.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "report/record.hpp"

namespace {

// A spread of values as the reports hold them: solution values of varying
// sign over many magnitudes, exact zeros, and a few exact binary fractions
// (ties of the rounding rule).
std::vector<double> sample_values() {
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> mant(-1.0, 1.0);
  std::uniform_int_distribution<int> exp10(-12, 6);
  std::vector<double> v(4096);
  for (std::size_t k = 0; k < v.size(); ++k) {
    if (k % 64 == 0) {
      v[k] = 0.0;
    } else if (k % 16 == 0) {
      v[k] = std::ldexp(static_cast<double>(k | 1), -static_cast<int>(k % 23));
    } else {
      v[k] = mant(rng) * std::pow(10.0, exp10(rng));
    }
  }
  return v;
}

template <class Render>
void run_fields(benchmark::State& state, Render render) {
  const std::vector<double> values = sample_values();
  std::string out;
  out.reserve(1 << 16);
  std::size_t k = 0;
  for (auto _ : state) {
    if (out.size() > 60000) out.clear();
    render(out, values[k]);
    k = (k + 1) & (values.size() - 1);
  }
  benchmark::DoNotOptimize(out.data());
  state.SetItemsProcessed(state.iterations());
}

void BM_E20_10(benchmark::State& s) {
  run_fields(s, [](std::string& o, double v) { ladyzh::render_E(o, 20, 10, v); });
}
void BM_E12_6(benchmark::State& s) {
  run_fields(s, [](std::string& o, double v) { ladyzh::render_E(o, 12, 6, v); });
}
void BM_E7_2(benchmark::State& s) {
  run_fields(s, [](std::string& o, double v) { ladyzh::render_E(o, 7, 2, std::fabs(v)); });
}
void BM_F9_4(benchmark::State& s) {
  run_fields(s, [](std::string& o, double v) { ladyzh::render_F(o, 9, 4, v * 1e3); });
}
void BM_I5(benchmark::State& s) {
  run_fields(s, [](std::string& o, double v) {
    ladyzh::render_I(o, 5, static_cast<std::int64_t>(v * 1e5) % 100000);
  });
}

// One record of the `data` listing, through a format parsed once.
void BM_DataRecord(benchmark::State& state) {
  const std::vector<double> values = sample_values();
  const ladyzh::Format f = ladyzh::Format::parse("(e20.10,4x,e20.10,4x,e20.10,4x,e20.10)");
  std::string out;
  out.reserve(1 << 16);
  std::size_t k = 0;
  for (auto _ : state) {
    if (out.size() > 60000) out.clear();
    const ladyzh::Item items[] = {values[k], values[k + 1], values[k + 2], values[k + 3]};
    ladyzh::append_record(out, f, items);
    out += '\n';
    k = (k + 4) & (values.size() - 1);
  }
  benchmark::DoNotOptimize(out.data());
  state.SetItemsProcessed(state.iterations());
}

BENCHMARK(BM_E20_10);
BENCHMARK(BM_E12_6);
BENCHMARK(BM_E7_2);
BENCHMARK(BM_F9_4);
BENCHMARK(BM_I5);
BENCHMARK(BM_DataRecord);

}  // namespace

BENCHMARK_MAIN();
