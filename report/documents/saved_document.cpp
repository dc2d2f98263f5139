#include "saved_document.hpp"

#include "text_format.hpp"

std::string combinationName(int n, int block, const std::string& kernelOption) {
  std::string name = "n " + std::to_string(n) + ", block " + std::to_string(block);
  if (kernelOption != "auto") name += ", kernel " + printable(kernelOption);
  return name;
}

std::string combinationName(const SavedCombination& combination) {
  return combinationName(combination.n, combination.block, combination.kernelOption);
}
