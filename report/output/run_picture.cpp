#include <algorithm>
#include <cmath>
#include <map>
#include <set>
#include <sstream>
#include <tuple>

#include "measurement.hpp"
#include "pictures.hpp"
#include "statistics.hpp"
#include "text_format.hpp"

// A run's document drawn: the sweep's rates and the copies beside the single copy.

namespace {

// More tick labels than this on an axis are thinned to every k-th, so that they stay legible.
constexpr std::size_t kMaxTickLabels = 16;
constexpr std::size_t kMaxCopyLabels = 64;

std::string contextValue(const std::map<std::string, std::string>& context, const char* key) {
  const auto found = context.find(key);
  return found == context.end() ? std::string() : found->second;
}

// "a, b and c".
std::string listText(const std::set<std::string>& items) {
  std::string text;
  std::size_t i = 0;
  for (const std::string& item : items) {
    text += (i == 0 ? "" : i + 1 == items.size() ? " and " : ", ") + item;
    ++i;
  }
  return text;
}

// "set xtics (96, 128, 256)": ticks at the values measured, every k-th of many.
std::string ticksAt(const char* axis, const std::set<int>& values) {
  const std::size_t every = (values.size() + kMaxTickLabels - 1) / kMaxTickLabels;
  std::string ticks = formatText("set %s (", axis);
  std::size_t i = 0;
  bool first = true;
  for (const int value : values) {
    if (i++ % std::max<std::size_t>(every, 1) != 0) continue;
    ticks += (first ? "" : ", ") + std::to_string(value);
    first = false;
  }
  return ticks + ")\n";
}

// The range of an axis through the values measured, on a base-2 scale when they span a factor
// of 4 or more; a little room either side.
std::string axisFor(const char* axis, const std::set<int>& values) {
  const double smallest = *values.begin(), largest = *values.rbegin();
  std::string commands = ticksAt(formatText("%stics", axis).c_str(), values);
  if (largest >= 4 * smallest) {
    commands += formatText("set logscale %s 2\nset %srange [%g:%g]\n", axis, axis,
                           smallest / 1.15, largest * 1.15);
  } else {
    const double room = std::max(0.06 * (largest - smallest), 0.5 * std::max(smallest, 1.0));
    commands += formatText("set %srange [%g:%g]\n", axis, smallest - room, largest + room);
  }
  return commands;
}

// A combination's rates: each run's, the median's and its interval's, in GFLOP/s.
struct Rates {
  double median = 0, low = 0, high = 0;
  std::vector<double> runs;
  std::vector<double> outliers;  // the runs the report flags as outliers, among runs
};

Rates ratesOf(const SavedCombination& combination) {
  const double flops = hplFlops(combination.n);
  const Distribution times = describe(combination.timedNanoseconds);
  Rates rates;
  rates.median = flops / times.spread.median;
  // The shortest time of the interval is the highest rate.
  rates.low = times.medianInterval ? flops / times.medianInterval->high : rates.median;
  rates.high = times.medianInterval ? flops / times.medianInterval->low : rates.median;
  for (const double t : combination.timedNanoseconds) rates.runs.push_back(flops / t);
  for (const int index : times.outliers) rates.outliers.push_back(rates.runs[index]);
  return rates;
}

// The title's lines: what ran, where and when; the build; the seeds.
void startRunDocument(Picture& picture, const SavedDocument& document) {
  const auto& context = document.context;
  std::string where = contextValue(context, "cpu_model");
  const std::string host = contextValue(context, "host_name");
  if (!host.empty()) where += (where.empty() ? "" : " on ") + host;
  const std::string pinned = contextValue(context, "pinned_cpu");
  if (!pinned.empty()) where += ", pinned to CPU " + pinned;
  const std::string heading = "lubench: blocked LU factorisation and solves, one thread";
  const std::string date = contextValue(context, "date");
  if (!date.empty()) where += (where.empty() ? "" : ", ") + date;
  std::string build = "build " + contextValue(context, "lubench_version");
  const std::string commit = contextValue(context, "git_commit");
  if (!commit.empty()) build += " " + commit.substr(0, 12);
  if (contextValue(context, "git_dirty") == "true") build += " (changed)";
  build += ", " + contextValue(context, "compiler") + " " +
           contextValue(context, "compiler_version");
  std::set<std::string> ran, seeds;
  for (const SavedCombination& c : document.combinations) {
    if (!c.vectorPath.empty()) ran.insert(c.vectorPath + (c.kernel.empty() ? "" : " " + c.kernel));
    seeds.insert(std::to_string(c.seed));
  }
  std::string seedLine = std::string(seeds.size() == 1 ? "seed " : "seeds ") + listText(seeds);
  if (!ran.empty()) seedLine += "; ran on " + listText(ran);
  picture.startDocument(heading, {where, build, seedLine}, document.path);
}

// The sweep's panel: one curve per block size and kernel asked for (per kernel asked for, with
// the block on x, when every combination has one order).
void addRatesPanel(Picture& picture, const SavedDocument& document) {
  std::set<int> orders, blocks;
  for (const SavedCombination& c : document.combinations) {
    orders.insert(c.n);
    blocks.insert(c.block);
  }
  const bool blockOnX = orders.size() == 1 && blocks.size() > 1;
  std::map<std::tuple<int, std::string>, std::vector<const SavedCombination*>> curves;
  std::set<double> peaks;
  bool everyPeak = true;
  for (const SavedCombination& c : document.combinations) {
    curves[{blockOnX ? 0 : c.block, c.kernelOption}].push_back(&c);
    if (c.peakGflops) {
      peaks.insert(*c.peakGflops);
    } else {
      everyPeak = false;
    }
  }
  std::ostringstream plot;
  double top = 0;
  int line = 1;
  bool outliersKeyed = false;
  std::string separator;
  for (auto& [key, members] : curves) {
    std::sort(members.begin(), members.end(), [&](const auto* a, const auto* b) {
      return blockOnX ? a->block < b->block : a->n < b->n;
    });
    std::ostringstream medians, runs, outliers, lapack;
    for (const SavedCombination* c : members) {
      const Rates rates = ratesOf(*c);
      const int x = blockOnX ? c->block : c->n;
      medians << x << ' ' << rates.median << ' ' << rates.low << ' ' << rates.high << '\n';
      for (const double rate : rates.runs) {
        runs << x << ' ' << rate << '\n';
        top = std::max(top, rate);
      }
      for (const double rate : rates.outliers) outliers << x << ' ' << rate << '\n';
      top = std::max(top, rates.high);
      if (c->lapackGflops) {
        lapack << x << ' ' << *c->lapackGflops << '\n';
        top = std::max(top, *c->lapackGflops);
      }
    }
    std::string name = blockOnX ? "" : "block " + std::to_string(std::get<0>(key));
    if (std::get<1>(key) != "auto") name += (name.empty() ? "" : ", ") + std::get<1>(key);
    plot << separator << picture.data(runs.str()) << " using 1:2 with points pt 7 ps 0.45 lt "
         << line << " notitle, " << picture.data(medians.str())
         << " using 1:2:3:4 with yerrorlines lt " << line << " lw 2 pt 5 ps 0.8 title "
         << gnuplotText((name.empty() ? "" : name + ": ") +
                        "median, bars its 95 % interval; dots: each run");
    // Runs the report warns of as outliers are ringed, so that a noisy point is not read as a
    // real dip; the key says so once.
    if (!outliers.str().empty()) {
      plot << ", " << picture.data(outliers.str()) << " using 1:2 with points pt 6 ps 1.6 lt "
           << line << " "
           << (outliersKeyed ? "notitle" : "title 'ringed: a run flagged as an outlier'");
      outliersKeyed = true;
    }
    if (!lapack.str().empty()) {
      plot << ", " << picture.data(lapack.str()) << " using 1:2 with linespoints dt 2 lt " << line
           << " title " << gnuplotText("LAPACK" + (blockOnX ? "" : ", " + name));
    }
    separator = ", ";
    ++line;
  }
  std::ostringstream commands;
  // The rates rise with n: the key goes where the curves are not.
  commands << "set key inside right bottom opaque box\n"
           << "set xlabel " << gnuplotText(blockOnX ? "block" : "n") << "\n"
           << axisFor("x", blockOnX ? blocks : orders)
           << "set ylabel 'GFLOP/s'\n";
  // One peak for every combination: its line, and the share of it on the right.
  if (everyPeak && peaks.size() == 1) {
    const double peak = *peaks.begin();
    top = std::max(top, peak);
    commands << formatText(
        "set arrow from graph 0, first %.6g to graph 1, first %.6g nohead dt 3 lw 1.5 lc "
        "'#555555'\nset label %s at graph 0.99, first %.6g right offset 0,-0.8 tc '#555555'\n"
        "set y2tics 0,10\nset format y2 '%%.0f'\nset link y2 via 100*y/%.6g inverse y*%.6g/100\n"
        "set y2label 'share of the peak (%%)'\n",
        peak, peak, gnuplotText(formatText("measured peak, separate multiply-add: %.1f GFLOP/s",
                                           peak))
                        .c_str(),
        peak, peak, peak);
  }
  commands << formatText("set yrange [0:%.6g]\n", top > 0 ? top * 1.1 : 1) << "plot "
           << plot.str();
  picture.panel(std::string(blockOnX ? "rate against block, n " + std::to_string(*orders.begin())
                                     : "rate against n"),
                commands.str());
}

// Each CPU's median beside the single copy's, for a combination run with --copies.
void addCopiesPanel(Picture& picture, const SavedCombination& combination) {
  const double single = spreadOf(combination.timedNanoseconds).median / 1e6;
  std::ostringstream finished, died, ticks;
  double top = single;
  std::size_t index = 0;
  const std::size_t every =
      (combination.copies.size() + kMaxCopyLabels - 1) / kMaxCopyLabels;
  for (const SavedCopy& copy : combination.copies) {
    if (copy.finished && copy.medianNanoseconds > 0) {
      finished << index << ' ' << copy.medianNanoseconds / 1e6 << '\n';
      top = std::max(top, copy.medianNanoseconds / 1e6);
    } else {
      died << index << " 0\n";
    }
    if (index % std::max<std::size_t>(every, 1) == 0) {
      ticks << (index == 0 ? "" : ", ") << gnuplotText("CPU " + std::to_string(copy.cpu)) << ' '
            << index;
    }
    ++index;
  }
  std::ostringstream commands;
  commands << "set xtics (" << ticks.str() << ") rotate by -45\n"
           << formatText("set xrange [-0.7:%.1f]\nset yrange [0:%.6g]\n",
                         static_cast<double>(index) - 0.3, top * 1.15)
           << "set ylabel 'median timed region (ms)'\nset style fill solid 0.55 border -1\n"
           << "set boxwidth 0.6\n"
           << formatText("set arrow from graph 0, first %.6g to graph 1, first %.6g nohead lw 2 "
                         "dt 2 lc 'black'\n",
                         single, single)
           << "plot ";
  std::string separator;
  if (!finished.str().empty()) {
    commands << picture.data(finished.str())
             << " using 1:2 with boxes lt 3 title 'each copy, run together'";
    separator = ", ";
  }
  if (!died.str().empty()) {
    commands << separator << picture.data(died.str())
             << " using 1:2 with points pt 2 ps 2.5 lw 2 lc 'red' title 'died'";
    separator = ", ";
  }
  commands << separator << "NaN with lines dt 2 lw 2 lc 'black' title "
           << gnuplotText(formatText("the single copy alone: %.3f ms", single));
  picture.panel(combinationName(combination) + ": --copies, each CPU beside the single copy",
                commands.str());
}

}  // namespace

void addRunPicture(Picture& picture, const SavedDocument& document) {
  startRunDocument(picture, document);
  if (document.combinations.empty()) return;
  addRatesPanel(picture, document);
  for (const SavedCombination& combination : document.combinations) {
    if (!combination.copies.empty()) addCopiesPanel(picture, combination);
  }
}
