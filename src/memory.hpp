#pragma once

#include <cstddef>
#include <cstdlib>
#include <memory>

// Buffers for the benchmark's matrices, and the limits the process runs under.

// count * size zero bytes, 64-byte aligned, every page already written (so that no page fault is
// left for a timed region); release with std::free. Returns nullptr when the memory cannot be
// had or count * size does not fit a size_t.
void* allocateAlignedZeroed(std::size_t count, std::size_t size);

// allocateAlignedZeroed, and on failure prints "<program>: cannot allocate the <what> (<bytes>
// bytes)" on standard error before returning nullptr.
void* allocateZeroed(std::size_t count, std::size_t size, const char* what,
                     const char* program = "lubench");

// An owned buffer from allocateAlignedZeroed, released with std::free.
struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};
template <class T>
using AlignedBuffer = std::unique_ptr<T[], FreeDeleter>;

// count zeroed entries of T (allocateZeroed); null after the failure has been reported.
template <class T>
AlignedBuffer<T> allocateBuffer(std::size_t count, const char* what, const char* program) {
  return AlignedBuffer<T>(static_cast<T*>(allocateZeroed(count, sizeof(T), what, program)));
}

// True when the process's stack may grow to `bytes`; otherwise prints "<program>: the stack
// limit is <limit> KiB, below the <bytes> KiB the factorisation needs (raise it with ulimit -s)"
// on standard error and returns false. A limit that cannot be read counts as unlimited.
bool stackLimitAllows(std::size_t bytes, const char* program);

// Tells LeakSanitizer, in a sanitizer build, that the buffer at p is kept until the process
// exits on purpose; elsewhere does nothing. Leak checking stays on for everything else.
void keepUntilExit(const void* p);
