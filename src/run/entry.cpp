// The ladyzh executable: a thin entry on the solver library.
#include "run/driver.hpp"

int main() { return ladyzh::mainx(); }
