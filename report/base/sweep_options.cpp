#include "sweep_options.hpp"

std::vector<RunOptions> SweepOptions::combinations() const {
  std::vector<RunOptions> all;
  for (int n : orders) {
    for (int block : blocks) {
      for (const std::string& kernel : kernels) {
        RunOptions combination = base;
        combination.n = n;
        combination.block = block;
        combination.kernel = kernel;
        combination.warmUp = warmUpAsked || base.repeat > 1 || listed();
        all.push_back(combination);
      }
    }
  }
  return all;
}
