#include <algorithm>
#include <cmath>
#include <sstream>

#include "pictures.hpp"
#include "text_format.hpp"

// The A/B session's, the comparison's and the fleet's documents drawn, and the choice of
// picture by the kind of document.

namespace {

// Node names under the axis of a fleet's panel up to this many entries; beyond, only ranks.
constexpr std::size_t kMaxNodeLabels = 40;
// A panel's subtitle is cut to this many bytes (a build's description can be long).
constexpr std::size_t kMaxTitleBytes = 140;

std::string contextValue(const std::map<std::string, std::string>& context, const char* key) {
  const auto found = context.find(key);
  return found == context.end() ? std::string() : found->second;
}


// "[lowest:highest]" through values, with room either side.
std::string rangeThrough(double lowest, double highest) {
  const double room = std::max(0.08 * (highest - lowest), 0.002 * std::fabs(highest) + 1e-9);
  return formatText("[%.6g:%.6g]", lowest - room, highest + room);
}

std::string ratioText(const SavedRatio& ratio) {
  std::string text = formatText("median %.4f", ratio.median);
  if (ratio.low) text += formatText(", 95 %% interval %.4f to %.4f", *ratio.low, *ratio.high);
  if (!ratio.verdict.empty()) text += ": " + ratio.verdict;
  return text;
}

// Rows of ratios (or changes) with their intervals, one below the other, a line at mark.
struct ForestRow {
  std::string label;
  double value = 0;
  double low = 0;
  double high = 0;
};

// The rows on y, their values and intervals on x through mark and the values of alsoShown.
std::string forestCommands(Picture& picture, const std::vector<ForestRow>& rows, double mark,
                           const std::string& xlabel, const std::vector<double>& alsoShown = {}) {
  std::ostringstream data, ticks;
  double lowest = mark, highest = mark;
  std::size_t longest = 0;
  for (const double value : alsoShown) {
    lowest = std::min(lowest, value);
    highest = std::max(highest, value);
  }
  for (std::size_t r = 0; r < rows.size(); ++r) {
    // The first row on top.
    const double y = static_cast<double>(rows.size() - 1 - r);
    data << rows[r].value << ' ' << y << ' ' << rows[r].low << ' ' << rows[r].high << '\n';
    ticks << (r == 0 ? "" : ", ") << gnuplotText(rows[r].label) << ' ' << y;
    longest = std::max(longest, rows[r].label.size());
    lowest = std::min({lowest, rows[r].low, rows[r].value});
    highest = std::max({highest, rows[r].high, rows[r].value});
  }
  std::ostringstream commands;
  commands << "set ytics (" << ticks.str() << ")\nset grid xtics\nunset key\n"
           << formatText("set yrange [-0.7:%.1f]\n", static_cast<double>(rows.size()) - 0.3)
           << "set xrange " << rangeThrough(lowest, highest) << "\n"
           << formatText("set arrow from first %.6g, graph 0 to first %.6g, graph 1 nohead lw 2 "
                         "lc 'black'\n",
                         mark, mark)
           << "set xlabel " << gnuplotText(xlabel) << "\n"
           // Room on the left for the longest label, in characters.
           << formatText("set lmargin %zu\n", std::min<std::size_t>(longest + 3, 70))
           << "plot " << picture.data(data.str())
           << " using 1:2:3:4 with xerrorbars pt 7 ps 1.2 lw 2 lt 1\n";
  return commands.str();
}

void addSessionCombination(Picture& picture, const SavedSessionCombination& combination) {
  const std::string name = combinationName(combination.n, combination.block, "auto");
  std::ostringstream oldFirst, newFirst;
  double lowest = 1, highest = 1;
  for (std::size_t p = 0; p < combination.pairs.size(); ++p) {
    const SavedPair& pair = combination.pairs[p];
    const double ratio = pair.newNanoseconds / pair.oldNanoseconds;
    (pair.oldFirst ? oldFirst : newFirst) << p + 1 << ' ' << ratio << '\n';
    lowest = std::min(lowest, ratio);
    highest = std::max(highest, ratio);
  }
  std::ostringstream commands;
  commands << "set key inside left top opaque box\nset xlabel 'pair, in session order'\n"
           << "set ylabel 'new / old timed region'\n"
           << formatText("set xrange [0:%zu]\n", combination.pairs.size() + 1);
  std::string title = name + ", seed " + std::to_string(combination.seed) + ": each pair's ratio";
  if (combination.ratio) {
    const SavedRatio& ratio = *combination.ratio;
    lowest = std::min({lowest, ratio.median, ratio.low.value_or(ratio.median)});
    highest = std::max({highest, ratio.median, ratio.high.value_or(ratio.median)});
    if (ratio.low) {
      commands << formatText("set object 1 rect from graph 0, first %.6g to graph 1, first %.6g "
                             "fc rgb '#cfe2f3' fs solid 1.0 noborder behind\n",
                             *ratio.low, *ratio.high);
    }
    commands << formatText("set arrow 2 from graph 0, first %.6g to graph 1, first %.6g nohead "
                           "dt 2 lw 2 lc rgb '#1f5fa8'\n",
                           ratio.median, ratio.median);
    title += "; " + ratioText(ratio);
  }
  commands << "set arrow 1 from graph 0, first 1 to graph 1, first 1 nohead lw 2 lc 'black'\n"
           << "set label 1 '1: no change' at graph 0.995, first 1 right offset 0,0.6\n"
           // Room above the points for the key.
           << "set yrange " << rangeThrough(lowest, highest + 0.35 * (highest - lowest))
           << "\nplot ";
  std::string separator;
  if (!oldFirst.str().empty()) {
    commands << picture.data(oldFirst.str())
             << " using 1:2 with points pt 7 ps 0.9 lt 1 title 'old ran first'";
    separator = ", ";
  }
  if (!newFirst.str().empty()) {
    commands << separator << picture.data(newFirst.str())
             << " using 1:2 with points pt 5 ps 0.9 lt 2 title 'new ran first'";
    separator = ", ";
  }
  commands << separator << "NaN with lines dt 2 lw 2 lc rgb '#1f5fa8' title "
           << "'median ratio (band: its 95 % interval)'\n";
  picture.panel(title, commands.str());

  std::vector<ForestRow> rows;
  const auto rowOf = [](const std::string& label, const SavedRatio& ratio) {
    return ForestRow{label + (ratio.verdict.empty() ? "" : ": " + ratio.verdict), ratio.median,
                     ratio.low.value_or(ratio.median), ratio.high.value_or(ratio.median)};
  };
  if (combination.ratio) rows.push_back(rowOf("timed region", *combination.ratio));
  for (const auto& [step, ratio] : combination.steps) rows.push_back(rowOf(step, ratio));
  if (rows.empty()) return;
  picture.panel(name + ": the timed region and each step, new / old",
                forestCommands(picture, rows, 1,
                               "new / old: the median of the pairs' ratios and its 95 % "
                               "interval (none below 6 pairs)"));
}

void addFleetGroup(Picture& picture, const SavedFleetCombination& combination,
                   const SavedFleetGroup& group, double slowerThan) {
  std::ostringstream plain, slow, dissent, ticks;
  double top = group.medianNanoseconds * (1 + slowerThan / 100);
  for (std::size_t e = 0; e < group.entries.size(); ++e) {
    const SavedFleetEntry& entry = group.entries[e];
    const double ms = entry.medianNanoseconds / 1e6;
    (entry.slow ? slow : plain) << e << ' ' << ms << '\n';
    if (!combination.majorityFingerprint.empty() &&
        entry.fingerprint != combination.majorityFingerprint) {
      dissent << e << ' ' << ms << '\n';
    }
    top = std::max(top, entry.medianNanoseconds);
    if (group.entries.size() <= kMaxNodeLabels) {
      const std::string label =
          entry.node + (entry.cpu ? ", CPU " + std::to_string(*entry.cpu) : "");
      ticks << (e == 0 ? "" : ", ") << gnuplotText(label) << ' ' << e;
    }
  }
  const double median = group.medianNanoseconds / 1e6;
  const double threshold = median * (1 + slowerThan / 100);
  top = top / 1e6 * 1.15;
  std::ostringstream commands;
  if (!ticks.str().empty()) {
    commands << "set xtics (" << ticks.str() << ") rotate by -45\n";
  } else {
    commands << "set xlabel 'nodes, fastest first'\n";
  }
  commands << "set key inside right bottom opaque box\n"
           << formatText("set xrange [-0.7:%.1f]\nset yrange [0:%.6g]\n",
                         static_cast<double>(group.entries.size()) - 0.3, top)
           << "set ylabel 'median timed region (ms)'\n"
           << formatText("set object 1 rect from graph 0, first %.6g to graph 1, graph 1 fc rgb "
                         "'#f4cccc' fs solid 1.0 noborder behind\n",
                         threshold)
           << formatText("set arrow 1 from graph 0, first %.6g to graph 1, first %.6g nohead "
                         "lw 2 lc 'black'\n",
                         median, median)
           << "plot ";
  std::string separator;
  const auto add = [&](const std::ostringstream& data, const std::string& style) {
    if (data.str().empty()) return;
    commands << separator << picture.data(data.str()) << " using 1:2 " << style;
    separator = ", ";
  };
  add(plain, "with points pt 7 ps 1.1 lt 1 title 'node'");
  add(slow, "with points pt 7 ps 1.4 lc 'red' title 'SLOW'");
  add(dissent, "with points pt 2 ps 2.6 lw 2 lc 'black' title 'fingerprint dissents'");
  commands << separator << "NaN with lines lw 2 lc 'black' title "
           << gnuplotText(formatText("group median %.3f ms", median)) << ", NaN with boxes fs "
           << "solid 1.0 fc rgb '#f4cccc' title "
           << gnuplotText(formatText("slow band: more than %+.1f %%", slowerThan)) << "\n";
  picture.panel(combinationName(combination.n, combination.block, combination.kernelOption) +
                    ", seed " + std::to_string(combination.seed) +
                    (group.copies ? ", copies run together" : ", single copies"),
                commands.str(), shortenedText(group.build, kMaxTitleBytes));
}

}  // namespace

void addSessionPicture(Picture& picture, const SavedSession& session, const std::string& path) {
  const auto& context = session.context;
  std::string heading = "lubench-report ab: new / old";
  const std::string where = contextValue(context, "cpu_model");
  if (!where.empty()) heading += " - " + where;
  const std::string host = contextValue(context, "host_name");
  if (!host.empty()) heading += " on " + host;
  const std::string date = contextValue(context, "date");
  if (!date.empty()) heading += ", " + date;
  const auto side = [&](const char* name, const char* key, const std::string& build) {
    return std::string(name) + " " + contextValue(context, key) +
           (build.empty() ? "" : " (build " + build + ")");
  };
  const std::string sides = side("old", "old_executable", session.oldBuild) + ", " +
                            side("new", "new_executable", session.newBuild);
  std::string how = "seed " + contextValue(context, "seed") + ", " +
                    contextValue(context, "order") + " order";
  const std::string pinned = contextValue(context, "pinned_cpu");
  if (!pinned.empty()) how += ", pinned to CPU " + pinned;
  if (session.interrupted) how += "; the session was cut short";
  picture.startDocument(heading, {sides, how}, path);
  for (const SavedSessionCombination& combination : session.combinations) {
    addSessionCombination(picture, combination);
  }
}

void addComparisonPicture(Picture& picture, const SavedComparisons& comparisons,
                          const std::string& path) {
  std::string heading = "lubench-report compare: change of the median timed region";
  if (!comparisons.date.empty()) heading += ", " + comparisons.date;
  std::vector<std::string> details;
  const auto side = [](const char* name, const std::string& path,
                       const std::map<std::string, std::string>& context) {
    std::string line = std::string(name) + " " + path;
    const std::string model = contextValue(context, "cpu_model");
    const std::string version = contextValue(context, "lubench_version");
    if (!model.empty()) line += ", " + model;
    if (!version.empty()) {
      line += ", build " + version + " " + contextValue(context, "git_commit").substr(0, 12);
    }
    const std::string date = contextValue(context, "date");
    if (!date.empty()) line += ", " + date;
    return line;
  };
  for (const SavedComparison& c : comparisons.comparisons) {
    details.push_back(side("old", c.oldPath, c.oldContext));
    details.push_back(side("new", c.newPath, c.newContext));
  }
  picture.startDocument(heading, details, path);
  for (std::size_t i = 0; i < comparisons.comparisons.size(); ++i) {
    const SavedComparison& c = comparisons.comparisons[i];
    std::vector<ForestRow> rows;
    for (const SavedChangeRow& row : c.rows) {
      const double change = 100 * row.change;
      std::string seed;
      if (row.oldSeed && row.newSeed) {
        seed = ", seed " + std::to_string(*row.oldSeed) +
               (*row.newSeed == *row.oldSeed ? "" : " and " + std::to_string(*row.newSeed));
      }
      rows.push_back(ForestRow{combinationName(row.n, row.block, row.kernelOption) + seed + ": " +
                                   row.verdict + (row.withinNoise ? " (within the noise)" : ""),
                               change, row.ratioLow ? 100 * (*row.ratioLow - 1) : change,
                               row.ratioHigh ? 100 * (*row.ratioHigh - 1) : change});
    }
    if (rows.empty()) continue;
    // Changes no larger than the noise floor are called the same: the floor is shaded.
    std::string band;
    std::vector<double> floor;
    if (c.noiseFloorPercent && *c.noiseFloorPercent > 0) {
      floor = {-*c.noiseFloorPercent, *c.noiseFloorPercent};
      band = formatText("set object 1 rect from first %.6g, graph 0 to first %.6g, graph 1 fc "
                        "rgb '#e8e8e8' fs solid 1.0 noborder behind\n",
                        -*c.noiseFloorPercent, *c.noiseFloorPercent);
    }
    picture.panel(comparisons.comparisons.size() > 1
                      ? "comparison " + std::to_string(i + 1) + ": " + c.newPath
                      : std::string("new against old, each combination"),
                  band + forestCommands(picture, rows, 0,
                                        "change of the median (%); bars: the 95 % interval of new "
                                        "/ old (runs as independent samples); grey: the noise "
                                        "floor",
                                        floor));
  }
}

void addFleetPicture(Picture& picture, const SavedFleet& fleet, const std::string& path) {
  std::string heading = "lubench-report fleet: " + std::to_string(fleet.documents) + " document" +
                        (fleet.documents == 1 ? "" : "s");
  if (!fleet.date.empty()) heading += ", " + fleet.date;
  picture.startDocument(
      heading, {formatText("each node against its group's median; slow: more than %+.1f %%",
                           fleet.slowerThanPercent)},
      path);
  for (const SavedFleetCombination& combination : fleet.combinations) {
    for (const SavedFleetGroup& group : combination.groups) {
      addFleetGroup(picture, combination, group, fleet.slowerThanPercent);
    }
  }
}

bool addDocumentPicture(Picture& picture, const DocumentReading& reading,
                        const std::string& path) {
  if (reading.document) {
    addRunPicture(picture, *reading.document);
  } else if (reading.session) {
    addSessionPicture(picture, *reading.session, path);
  } else if (reading.comparisons) {
    addComparisonPicture(picture, *reading.comparisons, path);
  } else if (reading.fleet) {
    addFleetPicture(picture, *reading.fleet, path);
  } else {
    return false;
  }
  return true;
}
