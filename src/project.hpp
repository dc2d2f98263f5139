#pragma once

#include <cstddef>
#include <ctime>
#include <string_view>

// Test data and the benchmark's block loop.

// Fills m[0 .. rows*cols) with pseudo-random doubles in [-1, 1]: seeds the C library's generator
// with the calendar time (srand(time(nullptr))), then m[i] = (2*r)/2147483647.0 - 1.0 in double,
// r being the next rand() value, for i in increasing order.
void randMatrixGen(double* m, int rows, int cols);

// randMatrixGen with a given seed instead of the calendar time: the same seed gives the same
// matrix on every build.
void randMatrixGenSeeded(double* m, int rows, int cols, unsigned seed);

// v[i] = i for i in [0, n): the benchmark's right-hand side.
void randMatrixGenB(double* v, int n);

// p[i] = i for i in [0, n): the identity permutation.
void randMatrixGenpvt(int* p, int n);

// Blocked LU factorisation with row interchanges of the row-major n x n matrix a, in place, in
// column blocks of b. Each block [ib, end), end = min(ib + b, n), runs:
//   1. pivots of all its columns, chosen before any is eliminated (choosePanelPivots);
//   2. elimination within the diagonal block;
//   3. the multipliers of the rows below it;
//   4. the block row of U;
//   5. s's trailing region [end, n)^2 set to zero, then cache1(a, a, s, n, end, b, ib);
//   6. the trailing update a -= s over [end, n)^2
// (steps 5 and 6 run as one pass over the tiles, and two consecutive blocks share one such sweep
// with look-ahead, see runBlockedLu; a, perm and s end exactly as the steps in this order leave
// them, for any contents of s on entry).
// perm (n entries, normally the identity on entry) records the interchanges: perm[r] is the
// input row now at position r. On return a holds L (unit diagonal not stored) and U of the row-
// permuted input. A column whose pivot magnitude is zero is reported on standard output with
// "LUfactoration failed: coefficient matrix is singular"; the elimination still divides by the
// diagonal entry as it stands, so IEEE infinities and NaNs flow on. s is an n x n scratch matrix.
// Does nothing for n <= 0; for b <= 0 reports the bad block size on standard error and leaves
// everything untouched.
void blockedLu(double* a, int* perm, double* s, int n, int b);

// count * size zero bytes, 64-byte aligned, every page already written (so that no page fault is
// left for a timed region); release with std::free. Returns nullptr when the memory cannot be
// had or count * size does not fit a size_t.
void* allocateAlignedZeroed(std::size_t count, std::size_t size);

// allocateAlignedZeroed, and on failure prints "lubench: cannot allocate the <what> (<bytes>
// bytes)" on standard error before returning nullptr.
void* allocateZeroed(std::size_t count, std::size_t size, const char* what);

// Standard output with its failures kept: the first write that fails is remembered with its
// reason (errno at that moment), so a loss is reported with its cause, not at a later flush.
class StandardOutput {
 public:
  // program names the reporting program in the failure message.
  explicit StandardOutput(const char* program) : program_(program) {}
  // Writes text through the C stream stdout; does nothing once a write has failed.
  void write(std::string_view text);
  // Flushes stdout. If anything written to it was lost (a closed descriptor, a full device),
  // prints "<program>: cannot write the result to standard output: <reason>" on standard error
  // and returns false.
  bool finish();

 private:
  void fail(int error);
  const char* program_;
  bool failed_ = false;
  int error_ = 0;
};

// True when the process's stack may grow to `bytes`; otherwise prints "<program>: the stack
// limit is <limit> KiB, below the <bytes> KiB the factorisation needs (raise it with ulimit -s)"
// on standard error and returns false. A limit that cannot be read counts as unlimited.
bool stackLimitAllows(std::size_t bytes, const char* program);

// Tells LeakSanitizer, in a sanitizer build, that the buffer at p is kept until the process
// exits on purpose; elsewhere does nothing. Leak checking stays on for everything else.
void keepUntilExit(const void* p);

// Nanoseconds from one monotonic clock reading to a later one.
inline long long elapsedNanoseconds(const timespec& from, const timespec& to) {
  return static_cast<long long>(to.tv_sec - from.tv_sec) * 1000000000LL +
         static_cast<long long>(to.tv_nsec - from.tv_nsec);
}
