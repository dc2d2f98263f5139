#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

// A sweep drawn through gnuplot: GFLOP/s and efficiency against n, one curve per block size
// (and per tile kernel asked for),
// LAPACK beside them when it was compared. gnuplot is started without a shell and draws to a
// pipe; the report writes the picture where it was asked to (output_target.hpp), so no file
// name ever reaches gnuplot.

struct PlotRow {
  int n = 0;
  int block = 0;
  double gflops = 0;
  std::optional<double> efficiency;
  std::optional<double> lapackGflops;
  std::string kernel = "auto";  // the --kernel asked: a curve of its own when not auto
};

enum class PlotFormat { kSvg, kPng };

// True when gnuplot is on the PATH.
bool gnuplotAvailable();

// The format a name asks for by its extension, .svg or .png in any case; nothing for others.
std::optional<PlotFormat> plotFormatOf(const std::string& path);

// The picture of rows, as gnuplot draws it. Nothing, after saying why on notes (name names
// the plot there), when gnuplot cannot be started or fails.
std::optional<std::string> renderPlot(PlotFormat format, const std::vector<PlotRow>& rows,
                                      const std::string& name, std::FILE* notes);
