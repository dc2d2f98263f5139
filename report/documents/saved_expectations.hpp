#pragma once

#include <string>
#include <vector>

// The records of a reference bands' document ("document_kind": "expectations"), as the reader
// (document_reader.hpp) returns them: what a machine of a CPU model is expected to reach on a
// vector path at an order and block, and the band a measured rate may fall in.

struct ExpectationEntry {
  std::string cpuModel;    // the run context's "cpu_model", matched exactly
  std::string vectorPath;  // the path the combination's runs ran on
  int n = 0;
  int block = 0;
  double gflops = 0;  // expected GFLOP/s; lower <= gflops <= upper, each finite and above 0
  double lower = 0;
  double upper = 0;
};

struct SavedExpectations {
  std::string path;  // as given
  // In document order; no two of the same CPU model, vector path, n and block.
  std::vector<ExpectationEntry> entries;
};
