#include <cstdio>

#include "compiler_probes.hpp"

// Run at configure time: exit status 0 when the compiler handled every probe correctly.
int main() {
  if (initializerListCopiesAreExact()) return 0;
  std::puts("initializer-list copy: {1, 1, 1, 0} did not survive a copy");
  return 1;
}
