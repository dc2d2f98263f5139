// One vector path's routines for the rest of the program: compiled once per path, with the
// path's target flags and LUBENCH_PATH_NAMESPACE naming its namespace.
#include "block_loop.hpp"
#include "kernel_rate.hpp"
#include "kernels/kernel_list.hpp"
#include "lu_steps.hpp"
#include "path_routines.hpp"
#include "simd.hpp"
#include "solves.hpp"
#include "trailing_product.hpp"

namespace lubench::LUBENCH_PATH_NAMESPACE {

namespace {

void runTrailingRegion(const double* left, const double* right, double* out, double* update,
                       int n, const TrailingRegion& region, const TileKernel& kernel) {
  runTrailingPass(left, right, out, update, n, region, kernel);
}

void fusedMultiplyAddInEveryLane(double x, double y, double z, double* lanes) {
  const DoubleVector<kDoubleLanes> result = fusedMultiplyAdd<kDoubleLanes>(
      broadcast<kDoubleLanes>(x), broadcast<kDoubleLanes>(y), broadcast<kDoubleLanes>(z));
  for (int lane = 0; lane < kDoubleLanes; ++lane) lanes[lane] = result[lane];
}

using Kernels = KernelList<kDoubleLanes>;

}  // namespace

extern const PathRoutines kRoutines;
const PathRoutines kRoutines{
    kDoubleLanes,
    kFusedMultiplyAddInstruction,
    Kernels::kEntries,
    static_cast<int>(sizeof Kernels::kEntries / sizeof Kernels::kEntries[0]),
    Kernels::kBlocksPerSweep,
    &runBlockedLu,
    &solveTriangles,
    &runTrailingRegion,
    &choosePanelPivots,
    &searchPanelPivotsWithCopy,
    &runTileKernelInCache,
    &runMultiplyAddChains,
    &fusedMultiplyAddInEveryLane,
};

}  // namespace lubench::LUBENCH_PATH_NAMESPACE
