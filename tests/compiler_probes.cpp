#include "compiler_probes.hpp"

#include <vector>

namespace {

// Not inlined, so the compiler must materialise the initializer list as it would for any callee.
[[gnu::noinline]] std::vector<double> copyOf(const std::vector<double>& in) {
  return in;
}

}  // namespace

bool initializerListCopiesAreExact() {
  const std::vector<double> four = {1, 1, 1, 0};
  const std::vector<double> eight = {2, 2, 2, 2, 2, 2, 2, 0};
  const std::vector<double> mixed = {1, 2, 3, 0};
  // Compared entry by entry with scalars: a second literal list could be miscompiled alike.
  const std::vector<double> a = copyOf(four), b = copyOf(eight), c = copyOf(mixed);
  return a[0] == 1.0 && a[2] == 1.0 && a[3] == 0.0 && b[6] == 2.0 && b[7] == 0.0 && c[2] == 3.0 &&
         c[3] == 0.0;
}
