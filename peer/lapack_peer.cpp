#include "lapack_peer.hpp"

#include <lapacke.h>

#include <type_traits>

// OpenBLAS describes its build and the kernel it runs; other LAPACK libraries have neither
// function, so both are weak and checked before use.
extern "C" [[gnu::weak]] char* openblas_get_config();
extern "C" [[gnu::weak]] char* openblas_get_corename();

static_assert(std::is_same_v<lapack_int, int>, "LAPACKE's integers must be ints");

bool lapackAvailable() {
  return true;
}

std::string lapackDescription() {
  if (openblas_get_config == nullptr || openblas_get_corename == nullptr) {
    return "LAPACKE (not OpenBLAS: kernel unknown)";
  }
  return std::string(openblas_get_config()) + " (kernel " + openblas_get_corename() + ")";
}

int lapackFactoriseAndSolve(double* a, int* pivots, double* x, int n) {
  const int info = LAPACKE_dgetrf(LAPACK_COL_MAJOR, n, n, a, n, pivots);
  if (info != 0) return info;
  return LAPACKE_dgetrs(LAPACK_COL_MAJOR, 'N', n, 1, a, n, pivots, x, n);
}
