#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "document_reader.hpp"

// lubench-report export: a saved run's document in another tool's format.
// - "gbench": Google Benchmark's JSON, which its tools/compare.py reads: one benchmark name per
//   combination ("lu/n:4096/block:32", and "/kernel:NAME" after it when a kernel was asked for),
//   every timed run an "iteration" entry with real_time in nanoseconds (cpu_time equal to it:
//   only the wall clock of the timed region is measured), then the mean, median, stddev and cv
//   aggregates.
// - "bmf": Bencher's metric format, one entry per combination named "lu/n:N/block:B/median"
//   ("lu/n:N/block:B/kernel:NAME/median" when a kernel was asked for) whose
//   "latency" carries the median timed region as value and its distribution-free 95 % interval
//   as lower_value and upper_value (left out below 6 runs, where no interval reaches 95 %).

// Where an export goes, a piece at a time: false once the output has failed.
using ExportWriter = std::function<bool(std::string_view)>;

// Writes the export of document to write as it is made, a combination's runs at a time, so that
// an export is never held whole; format is "gbench" or "bmf". False when write failed (the
// export stopped there).
bool writeExport(const SavedDocument& document, const std::string& format,
                 const ExportWriter& write);

// The export of document as text; format is "gbench" or "bmf".
std::string exportDocument(const SavedDocument& document, const std::string& format);

// The subcommand: argv[0] is "export". Returns the exit status.
int runExport(int argc, char** argv);
