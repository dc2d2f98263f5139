#pragma once

// The vector layer of one vector path. Everything above it is written against
// DoubleVector<Lanes>, a compiler vector extension of Lanes doubles, and is instantiated with
// kDoubleLanes, the widest vector the path's translation units are compiled for (the target
// flags the build gives each path; the portable path asks for one lane and no intrinsics).
// Arithmetic on these vectors is lane by lane, each lane one rounded IEEE operation, so a
// routine vectorised across independent outputs gives the same bytes at every width, including
// the one-lane path.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>

#include "path_namespace.hpp"

// The instruction set this translation unit may use: 512, 256 (AVX), 128 (SSE2) or 0 (none).
#if defined(LUBENCH_PORTABLE_PATH)
#define LUBENCH_VECTOR_BITS 0
#elif defined(__AVX512F__)
#define LUBENCH_VECTOR_BITS 512
#elif defined(__AVX__)
#define LUBENCH_VECTOR_BITS 256
#elif defined(__SSE2__)
#define LUBENCH_VECTOR_BITS 128
#else
#define LUBENCH_VECTOR_BITS 0
#endif
#if LUBENCH_VECTOR_BITS > 0
#include <immintrin.h>
#endif

namespace lubench::LUBENCH_PATH_NAMESPACE {

inline constexpr int kDoubleLanes = LUBENCH_VECTOR_BITS == 0 ? 1 : LUBENCH_VECTOR_BITS / 64;

template <int Lanes>
using DoubleVector [[gnu::vector_size(Lanes * sizeof(double))]] = double;

// Unaligned load and store of Lanes consecutive doubles.
template <int Lanes>
inline DoubleVector<Lanes> loadVector(const double* p) {
  DoubleVector<Lanes> v;
  __builtin_memcpy(&v, p, sizeof v);
  return v;
}

template <int Lanes>
inline void storeVector(double* p, DoubleVector<Lanes> v) {
  __builtin_memcpy(p, &v, sizeof v);
}

// Stores v at p, which must be aligned to the vector's size, around the cache where the target
// has a streaming store of this width (the data is not read back soon); elsewhere an ordinary
// store. Call finishStreamingStores() before anything else reads the data.
template <int Lanes>
inline void streamVector(double* p, DoubleVector<Lanes> v) {
#if LUBENCH_VECTOR_BITS >= 512
  if constexpr (Lanes == 8) {
    _mm512_stream_pd(p, v);
    return;
  }
#endif
#if LUBENCH_VECTOR_BITS >= 256
  if constexpr (Lanes == 4) {
    _mm256_stream_pd(p, v);
    return;
  }
#endif
#if LUBENCH_VECTOR_BITS >= 128
  if constexpr (Lanes == 2) {
    _mm_stream_pd(p, v);
    return;
  }
#endif
  storeVector<Lanes>(p, v);
}

// All lanes equal to x, copied bit for bit (no arithmetic: -0.0 stays -0.0).
template <int Lanes>
inline DoubleVector<Lanes> broadcast(double x) {
  return [x]<std::size_t... Lane>(std::index_sequence<Lane...>) {
    return DoubleVector<Lanes>{(static_cast<void>(Lane), x)...};
  }
  (std::make_index_sequence<Lanes>{});
}

// Writes +0.0 to p[0 .. count). Where the target has streaming stores, whole 64-byte lines go
// around the cache (the zeros are read back much later), the rest through ordinary stores.
// Call finishStreamingStores() before anything else reads the zeros.
inline void zeroStreaming(double* p, std::size_t count) {
#if LUBENCH_VECTOR_BITS >= 128
  std::size_t i = 0;
  while (i < count && reinterpret_cast<std::uintptr_t>(p + i) % 64 != 0) p[i++] = 0.0;
  for (; i + 8 <= count; i += 8) {
#if LUBENCH_VECTOR_BITS >= 512
    _mm512_stream_pd(p + i, _mm512_setzero_pd());
#elif LUBENCH_VECTOR_BITS >= 256
    _mm256_stream_pd(p + i, _mm256_setzero_pd());
    _mm256_stream_pd(p + i + 4, _mm256_setzero_pd());
#else
    for (int j = 0; j < 8; j += 2) _mm_stream_pd(p + i + j, _mm_setzero_pd());
#endif
  }
  for (; i < count; ++i) p[i] = 0.0;
#else
  for (std::size_t i = 0; i < count; ++i) p[i] = 0.0;
#endif
}

// x * y + z rounded once, lane by lane: the target's fused multiply-add instruction of this
// width where it has one (kFusedMultiplyAddInstruction), std::fma lane by lane otherwise. For
// measuring the machine only; the factorisation never fuses a multiply with an add.
#if LUBENCH_VECTOR_BITS > 0 && (defined(__FMA__) || defined(__AVX512F__))
#define LUBENCH_FUSED_INSTRUCTION 1
inline constexpr bool kFusedMultiplyAddInstruction = true;
#else
inline constexpr bool kFusedMultiplyAddInstruction = false;
#endif

template <int Lanes>
inline DoubleVector<Lanes> fusedMultiplyAdd(DoubleVector<Lanes> x, DoubleVector<Lanes> y,
                                            DoubleVector<Lanes> z) {
#if defined(LUBENCH_FUSED_INSTRUCTION) && LUBENCH_VECTOR_BITS >= 512
  if constexpr (Lanes == 8) return _mm512_fmadd_pd(x, y, z);
#endif
#if defined(LUBENCH_FUSED_INSTRUCTION)
  if constexpr (Lanes == 4) return _mm256_fmadd_pd(x, y, z);
  if constexpr (Lanes == 2) return _mm_fmadd_pd(x, y, z);
#endif
  DoubleVector<Lanes> result;
  for (int lane = 0; lane < Lanes; ++lane) result[lane] = __builtin_fma(x[lane], y[lane], z[lane]);
  return result;
}

inline void finishStreamingStores() {
#if LUBENCH_VECTOR_BITS >= 128
  _mm_sfence();
#endif
}

// The smaller and the larger of two ints: the path's own, so that no standard-library template
// is compiled under this path's flags with a name every path shares.
inline int smallerOf(int x, int y) { return y < x ? y : x; }
inline int largerOf(int x, int y) { return x < y ? y : x; }

}  // namespace lubench::LUBENCH_PATH_NAMESPACE
