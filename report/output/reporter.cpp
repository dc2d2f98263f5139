#include "reporter.hpp"

std::unique_ptr<Reporter> makeReporter(const std::string& format, bool summaryOnly) {
  if (format == "text") return makeTableReporter(summaryOnly);
  if (format == "md" || format == "csv") return makeRowReporter(format == "md");
  return makeJsonReporter();
}

std::string formatted(const std::function<void(const TextSink&)>& writing) {
  std::string text;
  writing([&](std::string_view piece) { text += piece; });
  return text;
}

// CPU model, logical CPUs, pinning and date, as short as the header line allows.
std::string machineSummary(const SweepContext& context) {
  const MachineContext& m = context.machine;
  std::string line = m.cpuModel.value_or("unknown CPU");
  if (m.cpuFamily && m.cpuModelNumber) {
    line += " (family " + std::to_string(*m.cpuFamily) + ", model " +
            std::to_string(*m.cpuModelNumber) + ")";
  }
  if (m.logicalCpus > 0) line += ", " + std::to_string(m.logicalCpus) + " logical CPUs";
  if (context.pinnedCpu) line += ", pinned to CPU " + std::to_string(*context.pinnedCpu);
  return line + ", " + context.date;
}

// Version, commit, build type.
std::string buildSummary() {
  const BuildInfo& b = buildInfo();
  std::string line = "lubench " + b.version;
  if (b.commit) {
    line += " at " + b.commit->substr(0, 12);
    if (b.dirty.value_or(false)) line += " (uncommitted changes)";
  }
  return line + ", " + b.buildType;
}

PathAndKernel ranOn(const CombinationRecord& record) {
  if (record.runs.empty() || record.runs.front().vectorPath.empty()) {
    return pathAndKernelOf(record.options);
  }
  const RunRecord& first = record.runs.front();
  return PathAndKernel{first.vectorPath, doublesOfPath(first.vectorPath), first.kernel};
}

std::string kernelLabel(const CombinationRecord& record) {
  return ranOn(record).kernel + (record.options.kernel == "auto" ? " (auto)" : "");
}
