#include "test_data.hpp"

#include <cstddef>
#include <cstdlib>
#include <ctime>

namespace {

// Number of entries of a rows x cols matrix; zero when either is not positive.
std::size_t entryCount(int rows, int cols) {
  if (rows <= 0 || cols <= 0) return 0;
  return static_cast<std::size_t>(rows) * static_cast<std::size_t>(cols);
}

}  // namespace

void randMatrixGen(double* m, int rows, int cols) {
  randMatrixGenSeeded(m, rows, cols, static_cast<unsigned>(std::time(nullptr)));
}

void randMatrixGenSeeded(double* m, int rows, int cols, unsigned seed) {
  std::srand(seed);
  const std::size_t count = entryCount(rows, cols);
  for (std::size_t i = 0; i < count; ++i) {
    const double r = std::rand();
    m[i] = (2.0 * r) / 2147483647.0 - 1.0;
  }
}

void randMatrixGenB(double* v, int n) {
  for (int i = 0; i < n; ++i) v[i] = i;
}

void randMatrixGenpvt(int* p, int n) {
  for (int i = 0; i < n; ++i) p[i] = i;
}
