// The report files: the step report (one section per outer pass), the final
// report `result` and the grid listing `data`.
#pragma once

#include <cstdint>

#include "report/record_file.hpp"
#include "run/grid.hpp"
#include "run/params.hpp"

namespace ladyzh {

// Appends the section of pass k to the open step report (the run header first
// when k is 1). A k above imax writes nothing: the section of pass imax is the
// complete table.
void printstep(const RunParams& p, const RealGrid& omega, const RealGrid& psi,
               const RunStats& stats, std::int32_t k, RecordFile& step);

// Creates and writes `result` (closed on return) and `data` (left open in
// `data`, for the caller to close at the end of the run).
void printout(const RunParams& p, const RealGrid& omega, const RealGrid& psi,
              const RunStats& stats, std::int32_t kconv, std::int32_t iconv, RecordFile& data);

}  // namespace ladyzh
