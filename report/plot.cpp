#include "plot.hpp"

#include <unistd.h>

#include <cstdlib>
#include <map>
#include <sstream>

#include "options.hpp"

namespace {

bool endsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// A string as a gnuplot string literal.
std::string quoted(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

}  // namespace

bool gnuplotAvailable() {
  const char* path = std::getenv("PATH");
  std::istringstream directories(path != nullptr ? path : "");
  std::string directory;
  while (std::getline(directories, directory, ':')) {
    if (!directory.empty() && access((directory + "/gnuplot").c_str(), X_OK) == 0) return true;
  }
  return false;
}

bool plotFormatKnown(const std::string& path) {
  return endsWith(path, ".svg") || endsWith(path, ".png");
}

bool drawPlot(const std::string& path, const std::vector<PlotRow>& rows, std::FILE* notes) {
  // One data block per block size, and LAPACK's, each in increasing n as the sweep ran them.
  std::map<int, std::string> curves;
  std::string lapack;
  bool anyEfficiency = false;
  for (const PlotRow& row : rows) {
    std::ostringstream line;
    line << row.n << ' ' << row.gflops << ' ';
    if (row.efficiency) {
      line << 100 * *row.efficiency;
      anyEfficiency = true;
    } else {
      line << "NaN";
    }
    curves[row.block] += line.str() + "\n";
    if (row.lapackGflops && row.block == rows.front().block) {
      lapack += std::to_string(row.n) + " " + std::to_string(*row.lapackGflops) + "\n";
    }
  }
  std::ostringstream script;
  script << (endsWith(path, ".png") ? "set terminal pngcairo size 900,900\n"
                                    : "set terminal svg size 900,900 dynamic\n");
  script << "set output " << quoted(path) << "\n";
  for (const auto& [block, data] : curves) script << "$b" << block << " << EOD\n" << data << "EOD\n";
  if (!lapack.empty()) script << "$lapack << EOD\n" << lapack << "EOD\n";
  script << "set multiplot layout " << (anyEfficiency ? 2 : 1) << ",1\n"
         << "set grid\nset key left top\nset xlabel \"n\"\nset ylabel \"GFLOP/s\"\n"
         << "set title \"lubench: blocked LU factorisation and solves, one thread\"\nplot ";
  const char* separator = "";
  for (const auto& [block, data] : curves) {
    script << separator << "$b" << block << " using 1:2 with linespoints title \"block " << block
           << "\"";
    separator = ", ";
  }
  if (!lapack.empty()) script << ", $lapack using 1:2 with linespoints dt 2 title \"LAPACK\"";
  script << "\n";
  if (anyEfficiency) {
    script << "set ylabel \"share of the measured peak (%)\"\nset title \"efficiency\"\nplot ";
    separator = "";
    for (const auto& [block, data] : curves) {
      script << separator << "$b" << block << " using 1:3 with linespoints title \"block "
             << block << "\"";
      separator = ", ";
    }
    script << "\n";
  }
  script << "unset multiplot\n";
  std::FILE* gnuplot = popen("gnuplot", "w");
  if (gnuplot == nullptr) {
    std::fprintf(notes, "%s: cannot start gnuplot for %s\n", kProgram, path.c_str());
    return false;
  }
  const std::string text = script.str();
  std::fwrite(text.data(), 1, text.size(), gnuplot);
  if (pclose(gnuplot) != 0) {
    std::fprintf(notes, "%s: gnuplot could not draw %s\n", kProgram, path.c_str());
    return false;
  }
  return true;
}
