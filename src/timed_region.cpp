#include "timed_region.hpp"

#include <array>
#include <cstdio>
#include <vector>

#include "blocking.hpp"
#include "clock.hpp"
#include "step_timer.hpp"

namespace {

void sayUnresolvable(const char* program) {
  std::fprintf(stderr,
               "%s: this build is fixed to the tile kernel %s, which no vector path this CPU runs "
               "holds (it runs %s)\n",
               program, fixedKernelName(), runnablePathsAndKernels().c_str());
}

// The blocks a sweep takes on path: its own schedule for kPathSchedule, else as asked.
int sweepDepthOn(const VectorPath& path, int blocksPerSweep) {
  return blocksPerSweep == kPathSchedule ? path.routines.blocksPerSweep : blocksPerSweep;
}

}  // namespace

// Never inlined: its work vectors must not share a frame with the block loop's buffers, which
// the stack check (kBlockLoopStackBytes) counts one at a time.
[[gnu::noinline]] void solveOnPath(const VectorPath& path, const int* perm, const double* a,
                                   const double* rhs, int n) {
  if (n <= 0) return;
  // Work vectors y and x: on the stack up to the benchmark's order, on the heap above it, so a
  // large n cannot overflow the stack.
  std::array<double, 2 * kSolveStackOrder> onStack;
  std::vector<double> onHeap;
  double* y = onStack.data();
  if (n > kSolveStackOrder) {
    onHeap.resize(2 * static_cast<std::size_t>(n));
    y = onHeap.data();
  }
  double* x = y + n;
  path.routines.solve(perm, a, rhs, n, y, x);
  // x[0] depends on every other entry of x and y, so reading it through a volatile keeps the
  // whole solve from being discarded as dead code.
  volatile double keep = x[0];
  (void)keep;
}

KernelChoice resolvedChoiceOrWidest(const KernelChoice& choice) {
  const KernelChoice resolved = resolveChoice(choice);
  if (resolved.kernel != nullptr) return resolved;
  return resolveChoice(KernelChoice{&widestRunnablePath(), nullptr});
}

KernelPlan planFor(const KernelChoice& choice, const KernelChoice& resolved, KernelTrialLog* log) {
  const bool forced = choice.kernel != nullptr || fixedKernelName() != nullptr;
  const std::span<const TileKernel> kernels = kernelsOf(*resolved.path);
  if (forced || kernels.size() < 2) return KernelPlan{resolved.kernel, 1, nullptr, log};
  const int count = static_cast<int>(kernels.size()) < KernelTrialLog::kMaxCandidates
                        ? static_cast<int>(kernels.size())
                        : KernelTrialLog::kMaxCandidates;
  return KernelPlan{kernels.data(), count, nullptr, log};
}

int blockedLuWith(const KernelChoice& choice, double* a, int* perm, double* s, int n, int b,
                  StepObserver* observer, int blocksPerSweep) {
  const KernelChoice run = resolvedChoiceOrWidest(choice);
  return run.path->routines.blockedLu(a, perm, s, n, b, planFor(choice, run, nullptr), observer,
                                      sweepDepthOn(*run.path, blocksPerSweep));
}

void blockedLu(double* a, int* perm, double* s, int n, int b) {
  blockedLuWith(KernelChoice{}, a, perm, s, n, b);
}

bool automaticChoiceRuns(const char* program) {
  if (resolveChoice(KernelChoice{}).kernel != nullptr) return true;
  sayUnresolvable(program);
  return false;
}

std::optional<TimedRegionResult> runTimedRegion(const TimedProblem& problem,
                                                const TimedRegionOptions& options,
                                                const char* program) {
  TimedRegionResult result;
  if (!readMonotonicClock(result.start, program)) return std::nullopt;
  // The path and kernel, chosen once per process from what this CPU supports.
  result.ran = resolveChoice(options.choice);
  if (result.ran.kernel == nullptr) {
    sayUnresolvable(program);
    return std::nullopt;
  }
  StepTimer timer(result.start);
  StepObserver* observer = options.timeSteps ? &timer : nullptr;
  const KernelPlan plan = planFor(options.choice, result.ran, &result.trials);
  result.kernelTried = plan.count > 1;
  result.singularColumns =
      result.ran.path->routines.blockedLu(problem.a, problem.perm, problem.s, problem.n, problem.b,
                                          plan, observer,
                                          sweepDepthOn(*result.ran.path, options.blocksPerSweep));
  solveOnPath(*result.ran.path, problem.perm, problem.a, problem.rhs, problem.n);
  if (!readMonotonicClock(result.end, program)) return std::nullopt;
  if (result.trials.count > 0) {
    result.ran.kernel = &plan.candidates[result.trials.trials[result.trials.count - 1].chosen];
  }
  if (options.timeSteps) {
    result.stepNanoseconds = timer.nanoseconds();
    result.solveNanoseconds = elapsedNanoseconds(timer.lastMark(), result.end);
  }
  return result;
}
