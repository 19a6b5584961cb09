#include "run/grid.hpp"

#include <cstdio>
#include <cstdlib>

namespace ladyzh {

void grid_index_fault(int i, int j, int lo1, int hi1, int lo2, int hi2) {
  std::fprintf(stderr, "ladyzh: grid index (%d, %d) outside the array's ranges %d..%d, %d..%d\n",
               i, j, lo1, hi1, lo2, hi2);
  std::abort();
}

void zeros2m(RealGrid& a, int lo1, int hi1, int lo2, int hi2) {
  for (int i = lo1; i <= hi1; ++i) {
    for (int j = lo2; j <= hi2; ++j) a(i, j) = 0.0;
  }
}

void rmzeros(RealGrid& a, int ext1, int ext2) {
  if (ext1 < 1 || ext2 < 1) return;
  const std::int64_t n = std::int64_t{ext1} * ext2;
  if (n > a.size()) grid_index_fault(ext1, ext2, 1, int(a.extent1()), 1, int(a.extent2()));
  double* p = a.data();
  for (std::int64_t q = 0; q < n; ++q) p[q] = 0.0;
}

void equal(RealGrid& a, const RealGrid& b, int lo1, int hi1, int lo2, int hi2) {
  for (int i = lo1; i <= hi1; ++i) {
    for (int j = lo2; j <= hi2; ++j) a(i, j) = b(i, j);
  }
}

}  // namespace ladyzh
