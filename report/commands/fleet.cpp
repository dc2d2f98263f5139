#include "fleet.hpp"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <stdexcept>
#include <nlohmann/json.hpp>

#include "compare.hpp"
#include "document_reader.hpp"
#include "expectations.hpp"
#include "measurement.hpp"
#include "program.hpp"
#include "statistics.hpp"
#include "text_format.hpp"

namespace {

using json = nlohmann::ordered_json;

// The context keys that make machines and builds alike: the build is told by the vector paths
// and kernels it holds (and a kernel fixed at build time), not by the path a run chose.
const char* const kBuildKeys[] = {"cpu_model",    "lubench_version",  "git_commit",
                                  "compiler",     "compiler_version", "compile_flags",
                                  "vector_paths", "fixed_kernel"};

std::string contextValue(const SavedDocument& document, const char* key) {
  // As one line of names, which an older document's one vector_path stands in for.
  if (std::strcmp(key, "vector_paths") == 0) {
    return document.heldPaths.empty() ? "?" : document.heldPaths;
  }
  const auto found = document.context.find(key);
  return found == document.context.end() ? "?" : found->second;
}

std::string buildOf(const SavedDocument& document) {
  std::string build;
  for (const char* key : kBuildKeys) {
    std::string value = contextValue(document, key);
    if (std::strcmp(key, "git_commit") == 0) value = value.substr(0, 12);
    // Builds that choose their kernel (most) say nothing of it.
    if (std::strcmp(key, "fixed_kernel") == 0) {
      if (value == "?") continue;
      value = "fixed to " + value;
    }
    build += (build.empty() ? "" : "; ") + value;
  }
  return build;
}

std::string nodeOf(const SavedDocument& document) {
  std::string node = contextValue(document, "host_name");
  const auto rank = document.context.find("rank");
  if (rank != document.context.end()) node += " rank " + rank->second;
  return node;
}

struct Key {
  int n, block;
  unsigned seed;
  std::string kernelOption;
  auto operator<=>(const Key&) const = default;
};

// "FILE: a copy died: HOST rank R, CPU C (core K), n N block B: killed by SIGKILL".
std::string deadCopyWarning(const std::string& file, const std::string& node,
                            const SavedCombination& c, const SavedCopy& copy) {
  FleetEntry entry;
  entry.node = node;
  entry.cpu = copy.cpu;
  entry.core = copy.core;
  return printable(file) + ": a copy died: " + printable(entryName(entry)) + ", n " +
         std::to_string(c.n) + " block " + std::to_string(c.block) + ": " +
         (copy.died.empty() ? std::string("did not finish") : printable(copy.died));
}

// Ranks a group and marks its slow entries.
void rank(FleetGroup& group, double slowerThan) {
  std::sort(group.entries.begin(), group.entries.end(), [](const auto& a, const auto& b) {
    return a.medianNanoseconds < b.medianNanoseconds;
  });
  std::vector<double> times;
  for (const FleetEntry& e : group.entries) times.push_back(e.medianNanoseconds);
  const Distribution d = describe(times);
  group.median = d.spread.median;
  group.min = d.spread.min;
  group.max = d.spread.max;
  // The score only where it means something: with a MAD of 0 (half the group equal) any entry
  // off the median scores high however little it is off, and a small group says too little.
  const bool scored = static_cast<int>(times.size()) >= kMinimumOutlierRuns && d.mad > 0;
  std::vector<bool> outlier(times.size(), false);
  for (int index : d.outliers) outlier[static_cast<std::size_t>(index)] = true;
  for (std::size_t i = 0; i < group.entries.size(); ++i) {
    FleetEntry& e = group.entries[i];
    e.overMedian = group.median > 0 ? e.medianNanoseconds / group.median - 1 : 0;
    e.slow = exceedsPercent(e.overMedian, slowerThan) && (!scored || outlier[i]);
  }
}

}  // namespace

std::vector<std::string> fleetFiles(const std::vector<std::string>& paths,
                                std::vector<std::string>& skipped) {
  std::vector<std::string> files;
  for (const std::string& path : paths) {
    struct stat status {};
    if (stat(path.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) {
      files.push_back(path);
      continue;
    }
    DIR* dir = opendir(path.c_str());
    if (dir == nullptr) {
      skipped.push_back("cannot read the directory " + printable(path) + ": " +
                        std::strerror(errno));
      continue;
    }
    std::vector<std::string> names;
    while (const dirent* entry = readdir(dir)) {
      const std::string name = entry->d_name;
      if (name.size() > 5 && name.compare(name.size() - 5, 5, ".json") == 0) names.push_back(name);
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) files.push_back(path + "/" + name);
  }
  return files;
}

std::string entryName(const FleetEntry& e) {
  std::string name = e.node;
  if (e.cpu) {
    name += ", CPU " + std::to_string(*e.cpu);
    if (e.core) name += " (core " + std::to_string(*e.core) + ")";
  }
  return name;
}

FleetReport readFleet(const std::vector<std::string>& paths, const FleetOptions& options) {
  FleetReport report;
  std::map<Key, std::map<std::pair<std::string, bool>, FleetGroup>> byCombination;
  // The same file (named twice, or through a link) and the same host and rank are read once:
  // counted twice they would outvote the rest.
  std::map<std::pair<dev_t, ino_t>, std::string> filesRead;
  std::map<std::string, std::string> nodesRead;
  for (const std::string& file : fleetFiles(paths, report.skipped)) {
    struct stat status {};
    if (stat(file.c_str(), &status) == 0) {
      const auto [seen, first] = filesRead.emplace(std::pair{status.st_dev, status.st_ino}, file);
      if (!first) {
        report.warnings.push_back(seen->second == file
                                      ? printable(file) + " is named twice: read once"
                                      : printable(file) + " is the same file as " +
                                            printable(seen->second) + ": read once");
        continue;
      }
    }
    // A file that memory does not suffice for is skipped like one that is not a document, and
    // the fleet goes on with what it has read.
    DocumentReading reading;
    try {
      reading = readDocument(file);
    } catch (const std::bad_alloc&) {
      report.skipped.push_back(printable(file) + ": out of memory while reading it");
      ++report.outOfMemory;
      continue;
    } catch (const std::length_error&) {
      report.skipped.push_back(printable(file) + ": out of memory while reading it");
      ++report.outOfMemory;
      continue;
    }
    if (!reading.document) {
      report.skipped.push_back(reading.problems.empty() ? printable(file) + ": not a document"
                                                        : reading.problems.front());
      continue;
    }
    const SavedDocument& document = *reading.document;
    const std::string node = nodeOf(document);
    // A document that does not name its host cannot be told from another's.
    if (document.context.contains("host_name")) {
      const auto [seen, first] = nodesRead.emplace(node, file);
      if (!first) {
        report.warnings.push_back(printable(file) + " is from " + printable(node) + " as " +
                                  printable(seen->second) + " is: only the first is read");
        continue;
      }
    }
    ++report.documents;
    for (std::string& warning : reading.warnings) report.warnings.push_back(std::move(warning));
    const std::string build = buildOf(document);
    const auto model = document.context.find("cpu_model");
    const std::string cpuModel = model == document.context.end() ? "" : model->second;
    // Each entry against its own band: a fleet of one node is checked as well as one of many.
    const auto expect = [&](FleetEntry& entry, int n, int block) {
      entry.cpuModel = cpuModel;
      if (!options.expectations) return;
      const double gflops =
          entry.medianNanoseconds > 0 ? hplFlops(n) / entry.medianNanoseconds : 0;
      entry.expectation =
          checkBand(*options.expectations, cpuModel, entry.vectorPath, n, block, gflops);
    };
    for (const SavedCombination& c : document.combinations) {
      auto& groups = byCombination[Key{c.n, c.block, c.seed, c.kernelOption}];
      FleetEntry single;
      single.node = node;
      single.medianNanoseconds = spreadOf(c.timedNanoseconds).median;
      single.fingerprint = c.fingerprint;
      single.file = file;
      single.vectorPath = c.vectorPath;
      single.kernel = c.kernel;
      expect(single, c.n, c.block);
      FleetGroup& singles = groups[{build, false}];
      singles.build = build;
      singles.entries.push_back(std::move(single));
      for (const SavedCopy& copy : c.copies) {
        // A dead copy has no figure to rank; it is named, not dropped unseen.
        if (!copy.finished) {
          report.warnings.push_back(deadCopyWarning(file, node, c, copy));
          continue;
        }
        FleetGroup& copies = groups[{build, true}];
        copies.build = build;
        copies.copies = true;
        // Copies run what the single copy ran: the same program and options.
        FleetEntry entry{node, copy.cpu, copy.core, copy.medianNanoseconds, copy.fingerprint, file};
        entry.vectorPath = c.vectorPath;
        entry.kernel = c.kernel;
        expect(entry, c.n, c.block);
        copies.entries.push_back(std::move(entry));
      }
    }
  }
  for (auto& [key, groups] : byCombination) {
    FleetCombination combination{key.n, key.block, key.seed, key.kernelOption, {}, {}, false, {}};
    // The fingerprint most entries gave, over every build: the bytes are the same on all.
    std::map<std::string, int> votes;
    int total = 0;
    for (auto& [groupKey, group] : groups) {
      rank(group, options.slowerThan);
      for (const FleetEntry& e : group.entries) {
        ++votes[e.fingerprint];
        ++total;
      }
    }
    const auto majority = std::max_element(votes.begin(), votes.end(), [](const auto& a, const auto& b) {
      return a.second < b.second;
    });
    const int most = majority->second;
    combination.fingerprintTie =
        std::count_if(votes.begin(), votes.end(), [&](const auto& v) { return v.second == most; }) >
        1;
    if (combination.fingerprintTie) {
      // Every side named, none taken for the healthy one.
      std::string sides;
      for (const auto& [fingerprint, count] : votes) {
        std::string names;
        for (const auto& [groupKey, group] : groups) {
          for (const FleetEntry& e : group.entries) {
            if (e.fingerprint != fingerprint) continue;
            names += (names.empty() ? "" : ", ") + printable(entryName(e)) + " (" +
                     printable(e.file) + ")";
          }
        }
        sides += (sides.empty() ? "" : "; ") + std::to_string(count) + " of " +
                 std::to_string(total) + " gave " + fingerprint + ": " + names;
      }
      combination.dissents.push_back("a tie, no majority: " + sides);
    } else {
      combination.majorityFingerprint = majority->first;
    }
    for (auto& [groupKey, group] : groups) {
      for (const FleetEntry& e : group.entries) {
        if (combination.fingerprintTie || e.fingerprint == majority->first) continue;
        combination.dissents.push_back(printable(entryName(e)) + ": " + e.fingerprint +
                                       " where " + std::to_string(majority->second) + " of " +
                                       std::to_string(total) + " gave " + majority->first + " (" +
                                       printable(e.file) + ")");
      }
      combination.groups.push_back(std::move(group));
    }
    report.combinations.push_back(std::move(combination));
  }
  return report;
}
