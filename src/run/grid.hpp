// Grid arrays: two-dimensional arrays with an inclusive index range per index,
// first index fastest. Element (i, j) of an array with ranges lo1..hi1, lo2..hi2
// lives at storage position (i - lo1) + (j - lo2) * (hi1 - lo1 + 1).
//
// Every element is zero on creation, so entries that no routine writes read as 0.
// Building with LADYZH_BOUNDS_CHECK checks every index against its range.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "run/error.hpp"

namespace ladyzh {

[[noreturn]] void grid_index_fault(int i, int j, int lo1, int hi1, int lo2, int hi2);

template <class T>
class Grid {
 public:
  Grid() = default;

  // Creates the array lo1..hi1 x lo2..hi2 with every element zero. An empty
  // range (upper bound below lower bound) gives an extent of 0. Sizes are formed
  // in 64 bits; an array that cannot be created ends the run with a RunError.
  Grid(int lo1, int hi1, int lo2, int hi2) : lo1_(lo1), hi1_(hi1), lo2_(lo2), hi2_(hi2) {
    const std::int64_t n1 = hi1 >= lo1 ? std::int64_t{hi1} - lo1 + 1 : 0;
    const std::int64_t n2 = hi2 >= lo2 ? std::int64_t{hi2} - lo2 + 1 : 0;
    n1_ = n1;
    n2_ = n2;
    constexpr std::int64_t max_elements =
        static_cast<std::int64_t>(PTRDIFF_MAX / static_cast<std::ptrdiff_t>(sizeof(T)));
    if (n1 != 0 && n2 > max_elements / n1) {
      throw RunError(alloc_message(n1, n2));
    }
    size_ = n1 * n2;
    if (size_ > 0) {
      try {
        data_.reset(new T[static_cast<std::size_t>(size_)]());
      } catch (const std::bad_alloc&) {
        throw RunError(alloc_message(n1, n2));
      }
    }
  }

  Grid(Grid&&) noexcept = default;
  Grid& operator=(Grid&&) noexcept = default;
  Grid(const Grid& other) : Grid(other.lo1_, other.hi1_, other.lo2_, other.hi2_) {
    for (std::int64_t p = 0; p < size_; ++p) data_[p] = other.data_[p];
  }
  Grid& operator=(const Grid& other) {
    if (this != &other) *this = Grid(other);
    return *this;
  }

  T& operator()(int i, int j) { return data_[offset(i, j)]; }
  const T& operator()(int i, int j) const { return data_[offset(i, j)]; }

  int lo1() const { return lo1_; }
  int hi1() const { return hi1_; }
  int lo2() const { return lo2_; }
  int hi2() const { return hi2_; }
  std::int64_t extent1() const { return n1_; }
  std::int64_t extent2() const { return n2_; }
  std::int64_t size() const { return size_; }

  // Raw storage, first index fastest.
  T* data() { return data_.get(); }
  const T* data() const { return data_.get(); }
  std::span<T> storage() { return {data_.get(), static_cast<std::size_t>(size_)}; }
  std::span<const T> storage() const { return {data_.get(), static_cast<std::size_t>(size_)}; }

  // Storage position of (i, j); checked against the ranges in bounds-checked builds.
  std::ptrdiff_t offset(int i, int j) const {
#ifdef LADYZH_BOUNDS_CHECK
    if (i < lo1_ || i > hi1_ || j < lo2_ || j > hi2_) {
      grid_index_fault(i, j, lo1_, hi1_, lo2_, hi2_);
    }
#endif
    return static_cast<std::ptrdiff_t>(i - lo1_) + static_cast<std::ptrdiff_t>(j - lo2_) * n1_;
  }

 private:
  static std::string alloc_message(std::int64_t n1, std::int64_t n2) {
    return "cannot allocate a grid array of " + std::to_string(n1) + " x " + std::to_string(n2) +
           " elements of " + std::to_string(sizeof(T)) + " bytes";
  }

  int lo1_ = 0, hi1_ = -1, lo2_ = 0, hi2_ = -1;
  std::int64_t n1_ = 0, n2_ = 0, size_ = 0;
  std::unique_ptr<T[]> data_;
};

using RealGrid = Grid<double>;
using IntGrid = Grid<std::int32_t>;

// a(i, j) = 0 for i in lo1..hi1, j in lo2..hi2 (outer loop over i).
void zeros2m(RealGrid& a, int lo1, int hi1, int lo2, int hi2);

// Clears the first ext1 * ext2 elements of a's storage, taking a as an array
// 1..ext1 x 1..ext2 whatever its own lower bounds.
void rmzeros(RealGrid& a, int ext1, int ext2);

// a(i, j) = b(i, j) for i in lo1..hi1, j in lo2..hi2; b is unchanged.
void equal(RealGrid& a, const RealGrid& b, int lo1, int hi1, int lo2, int hi2);

}  // namespace ladyzh
