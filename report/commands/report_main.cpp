#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <new>
#include <stdexcept>
#include <vector>

#include "report_main.hpp"

#include "ab.hpp"
#include "blocking.hpp"
#include "command_line.hpp"
#include "compare.hpp"
#include "cpu_affinity.hpp"
#include "document.hpp"
#include "export.hpp"
#include "fleet.hpp"
#include "plot_command.hpp"
#include "interruption.hpp"
#include "json_context.hpp"
#include "machine_context.hpp"
#include "memory.hpp"
#include "output.hpp"
#include "output_format.hpp"
#include "output_target.hpp"
#include "progress.hpp"
#include "reporter.hpp"
#include "sweep.hpp"

// lubench-report's whole program: runs lubench's timed work and reports its time, the time of each step, the
// scaled residual and a fingerprint of the factorisation, as a table, Markdown or CSV rows, or
// JSON, on standard output and in each --out file.
// Exit status: 0 when every run passed, 2 for a failed residual or reference check, 64 for a
// usage error, 1 when memory, the clock or standard output fails, 128 + the signal number after
// SIGINT, SIGTERM or SIGHUP. "lubench-report compare" compares saved JSON documents
// (compare.hpp); "lubench-report ab" measures two builds alternately (ab.hpp); "lubench-report
// export" writes a document in another tool's format (export.hpp); "lubench-report fleet" sets
// many nodes' documents side by side (fleet.hpp).

namespace {

// A closed standard descriptor would be reused by the next file opened (the document's
// descriptor among them) and output meant for one stream would land in another; each closed one
// is occupied instead. Standard input and error take /dev/null; standard output takes a pipe
// whose reading end is closed, so that everything written there fails as it would have, and the
// result is never reported as written. False when that fails.
bool occupyClosedStandardDescriptors() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (fcntl(fd, F_GETFD) != -1) continue;
    if (fd == STDOUT_FILENO) {
      int ends[2];
      if (pipe(ends) != 0) return false;
      // The writing end onto standard output (dup2 closes a reading end that landed there).
      if (ends[1] != STDOUT_FILENO) {
        if (dup2(ends[1], STDOUT_FILENO) < 0) return false;
        close(ends[1]);
      }
      if (ends[0] != STDOUT_FILENO) close(ends[0]);
      continue;
    }
    const int opened = open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
    if (opened != fd) return false;
  }
  return true;
}

// The stream the JSON document goes to: standard output's descriptor, moved aside, while
// standard output itself goes to standard error, so that the singular-pivot messages the
// factorisation prints can never mix with the document.
std::FILE* divertedDocumentStream() {
  std::fflush(stdout);
  const int document = dup(STDOUT_FILENO);
  if (document < 0 || dup2(STDERR_FILENO, STDOUT_FILENO) < 0) return nullptr;
  return fdopen(document, "w");
}

// Pins the process to cpu; false, after saying why, when the CPU is not one it may use.
bool pinTo(int cpu) {
  if (pinToCpu(cpu)) return true;
  std::fprintf(stderr, "%s: --affinity %d: cannot run on that CPU: %s\n", kProgram, cpu,
               std::strerror(errno));
  return false;
}

// The CPUs of --copies, or a usage error said.
bool chooseCopies(SweepOptions& options) {
  const std::vector<CpuPlace> places = readCpuPlaces(allowedCpus());
  const bool counted = options.copies != "all" && options.copies != "cores";
  const long long wanted = counted ? *parseWholeNumber(options.copies, 1, CPU_SETSIZE) : 0;
  options.copyPlaces = chooseCopyCpus(places, options.copies, static_cast<int>(wanted));
  if (counted && static_cast<std::size_t>(wanted) > places.size()) {
    std::fprintf(stderr, "%s: --copies %lld: this process may use only %zu CPU%s\n", kProgram,
                 wanted, places.size(), places.size() == 1 ? "" : "s");
    return false;
  }
  return !options.copyPlaces.empty();
}

int run(int argc, char** argv, const CopyResultHook& copyHook) {
  if (argc > 1 && std::strcmp(argv[1], "compare") == 0) return runCompare(argc - 1, argv + 1);
  if (argc > 1 && std::strcmp(argv[1], "ab") == 0) return runAb(argc - 1, argv + 1);
  if (argc > 1 && std::strcmp(argv[1], "export") == 0) return runExport(argc - 1, argv + 1);
  if (argc > 1 && std::strcmp(argv[1], "fleet") == 0) return runFleet(argc - 1, argv + 1);
  if (argc > 1 && std::strcmp(argv[1], "plot") == 0) return runPlot(argc - 1, argv + 1);
  CommandLine commandLine = parseCommandLine(argc, argv, isReservedContextKey);
  if (!commandLine.options) return commandLine.exitStatus;
  SweepOptions& options = *commandLine.options;
  if (!options.copies.empty() && !chooseCopies(options)) return kStatusUsage;
  // The single copy runs on the first CPU of the copies.
  if (!options.copyPlaces.empty()) options.affinity = options.copyPlaces.front().cpu;
  // Before anything is allocated, so that the memory is the pinned CPU's node's.
  if (options.affinity && !pinTo(*options.affinity)) return kStatusUsage;

  // The outputs are opened before standard output is moved aside, so that a name such as
  // /dev/stdout still means the standard output the report was given.
  std::vector<std::unique_ptr<PendingOutput>> outOutputs;
  std::string error;
  for (const OutputTarget& target : options.outs) {
    outOutputs.push_back(PendingOutput::create(target, error));
    if (!outOutputs.back()) {
      std::fprintf(stderr, "%s: %s\n", kProgram, error.c_str());
      return kStatusSystem;
    }
  }
  // A plot file that could not be written is found out now, not after the sweep.
  if (options.plot && options.plot->kind == OutputTarget::Kind::kFile &&
      !PendingOutput::create(*options.plot, error)) {
    std::fprintf(stderr, "%s: --plot: %s\n", kProgram, error.c_str());
    return kStatusSystem;
  }

  const bool json = options.format == "json";
  std::FILE* documentStream = stdout;
  if (json) {
    documentStream = divertedDocumentStream();
    if (documentStream == nullptr) {
      std::perror("lubench-report: cannot divert standard output while the runs print");
      return kStatusSystem;
    }
  }
  if (!installInterruptionHandlers()) {
    std::perror("lubench-report: cannot install the signal handlers");
    return kStatusSystem;
  }
  ReportDocument standardOutput(documentStream, makeReporter(options.format, options.summaryOnly),
                                "standard output");
  std::vector<ReportDocument*> documents = {&standardOutput};
  // Each --out in the format its name says, written beside standard output's.
  std::vector<std::unique_ptr<ReportDocument>> files;
  for (std::unique_ptr<PendingOutput>& output : outOutputs) {
    const std::string format = formatOfOutName(output->target().given);
    files.push_back(std::make_unique<ReportDocument>(std::move(output), makeReporter(format, true)));
    documents.push_back(files.back().get());
  }
  ProgressDisplay progress(stderr, !json && isatty(STDERR_FILENO) == 1,
                           ProgressDisplay::termCanErase(std::getenv("TERM")));
  return runSweep(options, documents, progress, stderr, !json, copyHook,
                  commandLine.expectations);
}

}  // namespace

int reportMain(int argc, char** argv, const CopyResultHook& copyHook) {
  // A closed pipe or the file size limit makes a write fail with its reason instead of ending the
  // process: the failure then takes the path every output failure takes, and what finished is
  // kept.
  signal(SIGPIPE, SIG_IGN);
  signal(SIGXFSZ, SIG_IGN);
  // Read before any handler is installed: what was ignored at the start stays ignored.
  signalsIgnoredAtStart();
  // An ignored SIGCHLD, inherited from whatever started the report, would make the kernel reap
  // every child and copy at once, and each would read as having ended with status 0.
  signal(SIGCHLD, SIG_DFL);
  if (!occupyClosedStandardDescriptors()) return kStatusSystem;
  // A stack too small for the factorisation's buffers would end the runs with a signal.
  if (!stackLimitAllows(kBlockLoopStackBytes, kProgram)) return kStatusSystem;
  try {
    return run(argc, argv, copyHook);
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "%s: out of memory\n", kProgram);
    return kStatusSystem;
  } catch (const std::length_error&) {
    std::fprintf(stderr, "%s: out of memory: a size beyond any container's\n", kProgram);
    return kStatusSystem;
  } catch (const std::exception& error) {
    // Nothing else is expected here; whatever it is ends the program with a line, not an abort.
    std::fprintf(stderr, "%s: %s\n", kProgram, error.what());
    return kStatusSystem;
  } catch (...) {
    std::fprintf(stderr, "%s: an unexpected failure\n", kProgram);
    return kStatusSystem;
  }
}
