#include "bench_support.hpp"

#include <algorithm>
#include <cstddef>
#include <stdexcept>

#include "project.hpp"

namespace {

double* allocateMatrix(int n, const char* what) {
  const std::size_t entries = static_cast<std::size_t>(n) * static_cast<std::size_t>(n);
  auto* p = static_cast<double*>(allocateZeroed(entries, sizeof(double), what));
  if (p == nullptr) throw std::bad_alloc();
  return p;
}

}  // namespace

LuProblem::LuProblem(int n, unsigned seed)
    : n_(n),
      original_(static_cast<std::size_t>(n) * static_cast<std::size_t>(n)),
      a_(allocateMatrix(n, "matrix A")),
      s_(allocateMatrix(n, "scratch product matrix")),
      perm_(static_cast<std::size_t>(n)),
      rhs_(static_cast<std::size_t>(n)) {
  randMatrixGenSeeded(original_.data(), n, n, seed);
  randMatrixGenB(rhs_.data(), n);
  reset();
}

void LuProblem::reset() {
  std::copy(original_.begin(), original_.end(), a_.get());
  randMatrixGenpvt(perm_.data(), n_);
}

double luSolveFlops(int n) {
  const double order = n;
  return 2.0 / 3.0 * order * order * order + 1.5 * order * order;
}

double productFlops(int n, int start, int first) {
  const double side = n - start;
  return 2.0 * side * side * (start - first);
}
