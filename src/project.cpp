#include "project.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "linalg.hpp"
#include "lu_steps.hpp"

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

void blockedLu(double* a, int* perm, double* s, int n, int b) {
  if (n <= 0) return;
  if (b <= 0) {
    std::fprintf(stderr, "blockedLu: block size %d is not positive; the matrix is left as it is\n",
                 b);
    return;
  }
  // Block bounds are formed in 64 bits so that ib + b cannot overflow for any b.
  for (long long ib = 0; ib < n; ib += b) {
    const int first = static_cast<int>(ib);
    const int end = static_cast<int>(std::min<long long>(ib + b, n));
    // Pivots of all the block's columns, before any elimination.
    choosePanelPivots(a, perm, n, first, end);
    // L and U of the diagonal block.
    eliminateDiagonalBlock(a, n, first, end);
    // Multipliers of the rows below the diagonal block.
    computeMultipliers(a, n, first, end);
    // Rows of U to the right of the diagonal block.
    solveBlockRowOfU(a, n, first, end);
    // s = L21 * U12 over the trailing region, through the tiled kernel.
    zeroTrailingRegion(s, n, end);
    cache1(a, a, s, n, end, b, first);
    // Trailing submatrix minus the product.
    subtractTrailingProduct(a, s, n, end);
  }
}

void* allocateZeroed(std::size_t count, std::size_t size, const char* what) {
  void* p = std::calloc(count, size);
  if (p == nullptr) {
    std::fprintf(stderr, "lubench: cannot allocate the %s (%zu bytes)\n", what, count * size);
  }
  return p;
}

bool finishStandardOutput() {
  errno = 0;
  const bool flushed = std::fflush(stdout) == 0;
  const int flushError = errno;
  if (flushed && !std::ferror(stdout)) return true;
  std::fprintf(stderr, "lubench: cannot write the result to standard output: %s\n",
               flushError != 0 ? std::strerror(flushError) : "write error");
  return false;
}
