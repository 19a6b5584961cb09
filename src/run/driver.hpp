// Run control: the process entry and the outer iteration driver.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "run/params.hpp"

namespace ladyzh {

// Reads the eleven run parameters from the named parameter file. Throws
// RunError naming the file, the line, the parameter and what was found.
RunParams read_params(const std::string& path);

// Reads the eleven run parameters from the text of a parameter file, name
// standing for the file in the messages; read_params parses what it read with
// it. Throws RunError as read_params does.
RunParams parse_params(std::string_view text, const std::string& name);

// Checks the parameters the solver cannot work with (m odd and at least 3,
// imax at least 1); throws RunError naming the parameter and the rule.
void check_params(const RunParams& p);

// The process entry: reads para.dat, echoes the parameters, runs the solve.
// Returns the exit status; a RunError becomes one line on stderr and status 1.
int mainx();

// The outer iteration: one complete solve, from the arrays to the reports.
void main(double Re, double eps1, double Q, std::int32_t m, double r, std::int32_t imax,
          std::int32_t imax_in, double L, double tol_outer, std::int32_t iproblem,
          double tol_inner);

// CPU time of the calling thread (user plus system) in single-precision
// seconds since the first call, which returns 0.
float CPSEC();

}  // namespace ladyzh
