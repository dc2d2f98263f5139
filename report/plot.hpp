#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

// A sweep drawn through gnuplot: GFLOP/s and efficiency against n, one curve per block size,
// LAPACK beside them when it was compared.

struct PlotRow {
  int n = 0;
  int block = 0;
  double gflops = 0;
  std::optional<double> efficiency;
  std::optional<double> lapackGflops;
};

// True when gnuplot is on the PATH.
bool gnuplotAvailable();

// True when path ends in .svg or .png (the formats drawn).
bool plotFormatKnown(const std::string& path);

// Draws rows into path (SVG or PNG by its extension). False, after saying why on notes, when
// gnuplot fails.
bool drawPlot(const std::string& path, const std::vector<PlotRow>& rows, std::FILE* notes);
