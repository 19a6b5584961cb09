// Placeholder entry until the parameter reader lands.
#include "run/driver.hpp"

namespace ladyzh {
int mainx() { return 0; }
}  // namespace ladyzh
