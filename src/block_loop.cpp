#include "block_loop.hpp"

void blockedLu(double* a, int* perm, double* s, int n, int b) {
  NoStepObserver noObserver;
  runBlockedLu(a, perm, s, n, b, noObserver);
}
