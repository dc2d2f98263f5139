#pragma once

#include "path_namespace.hpp"
#include "path_routines.hpp"

namespace lubench::LUBENCH_PATH_NAMESPACE {

// Runs the tile kernel tiles times on operands that stay in the first-level cache, and returns
// the floating-point operations it did (a multiply and an add per product term). Timed by the
// caller, this is the rate at which this core carries out the product's separate multiplies and
// adds with that kernel: the bound on the trailing pass once memory is out of the way.
double runTileKernelInCache(int tiles, const TileKernel& kernel);

// Runs steps rounds of independent chains acc = acc * x + y, one chain per accumulator, with
// enough chains to hide the operations' latency, and returns the floating-point operations
// done (two per lane and step). fused = false: a multiply and an add, each rounded, as the
// product's kernel does them; fused = true: one fused multiply-add (see fusedMultiplyAdd).
// Timed by the caller, this is the core's peak rate at the path's width for each kind of
// operation.
double runMultiplyAddChains(long steps, bool fused);

}  // namespace lubench::LUBENCH_PATH_NAMESPACE
