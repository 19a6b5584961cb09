// The one way a run ends early: an input or output failure, a parameter the
// solver cannot work with, or an array that cannot be created. The entry turns
// it into one line on stderr and a non-zero exit status.
#pragma once

#include <stdexcept>
#include <string>

namespace ladyzh {

class RunError : public std::runtime_error {
 public:
  explicit RunError(const std::string& what) : std::runtime_error(what) {}
};

}  // namespace ladyzh
