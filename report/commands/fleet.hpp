#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "expectations.hpp"

// lubench-report fleet: the documents of many nodes (one per node or rank, each perhaps with its
// copies) read one at a time and set side by side: per combination (n, block and the kernel
// asked for) and seed, every node and
// copy ranked by time within its group of like machines and builds, the slow ones marked, and
// every node and CPU whose fingerprint dissents from the majority named.

inline constexpr double kDefaultSlowerThan = 10;  // per cent above the group's median

// One figure of one node: its single copy's median, or one of its copies' medians.
struct FleetEntry {
  std::string node;                // host name, then " rank R" under a launcher
  std::optional<int> cpu;          // a copy's CPU; none for the single copy
  std::optional<int> core;
  double medianNanoseconds = 0;
  std::string fingerprint;
  std::string file;                // the document it came from
  std::string vectorPath{};        // the path and kernel its runs chose; empty where not said
  std::string kernel{};
  // More than --slower-than above the group's median and, in a group of kMinimumOutlierRuns or
  // more whose median absolute deviation is above 0, an outlier by the modified Z-score too.
  bool slow = false;
  double overMedian = 0;           // its time over the group's median, less 1
  std::string cpuModel{};          // its document's context's cpu_model; empty where not said
  // With --expect: its rate (from medianNanoseconds) against the band of its CPU model, path, n
  // and block.
  std::optional<BandCheck> expectation{};
};

// Entries of like machines and builds: the same CPU model, version, commit, compiler, flags,
// vector paths and kernels held, and fixed kernel. Single copies and copies run together are
// ranked apart (contention slows the latter).
struct FleetGroup {
  // "AMD EPYC; 0.19.0; 1a2b3c4d5e6f; GCC; 12.2.0; -O3 ...; avx512: k1, k2; avx2: k3", and
  // "; fixed to k1" in a build fixed to a kernel
  std::string build;
  bool copies = false;
  std::vector<FleetEntry> entries;  // fastest first
  double median = 0;
  double min = 0;
  double max = 0;
};

struct FleetCombination {
  int n = 0;
  int block = 0;
  unsigned seed = 0;
  std::string kernelOption = "auto";  // the --kernel asked
  std::vector<FleetGroup> groups;
  std::string majorityFingerprint;  // empty on a tie
  // Two or more fingerprints given by equally many entries, none by more: no side is the
  // healthy one, and dissents then holds one line naming every side.
  bool fingerprintTie = false;
  std::vector<std::string> dissents;  // "node7 rank 3, CPU 5 (core 5): 0123... where 46 of 48 gave ..."
};

struct FleetReport {
  std::vector<std::string> skipped;  // files that are not documents, with the reason
  std::vector<std::string> warnings;
  int documents = 0;
  int outOfMemory = 0;  // files skipped because memory ran out while reading them
  std::string date;     // when the report was made, ISO 8601; empty where not said
  std::vector<FleetCombination> combinations;
};

struct FleetOptions {
  double slowerThan = kDefaultSlowerThan;
  std::optional<double> failBelow;
  // --expect: every entry checked against its own band, whatever its group does.
  std::optional<SavedExpectations> expectations;
};

// The files paths name: each file as it is, each directory's *.json files in name order;
// a directory that cannot be read is said in skipped.
std::vector<std::string> fleetFiles(const std::vector<std::string>& paths,
                                    std::vector<std::string>& skipped);

// "node7 rank 3", and ", CPU 5 (core 5)" for a copy.
std::string entryName(const FleetEntry& entry);

// Reads paths (files, and the *.json files of each directory, not recursive), one document at
// a time: memory grows with the nodes and copies, not with their runs.
FleetReport readFleet(const std::vector<std::string>& paths, const FleetOptions& options);

// "text", "md" or "json".
std::string formatFleet(const FleetReport& report, const std::string& format,
                        const FleetOptions& options);

// 64 when no document was read, 3 when a fingerprint dissents, 4 with failBelow when an entry
// is slower than its group's median by more, or with expectations when an entry is outside its
// band, else 0.
int fleetStatus(const FleetReport& report, const FleetOptions& options);

// The subcommand: argv[0] is "fleet". Returns the exit status.
int runFleet(int argc, char** argv);
