#include <sched.h>
#include <unistd.h>

#include <climits>
#include <string>

#include "clock.hpp"
#include "interruption.hpp"
#include "lapack_peer.hpp"
#include "measurement.hpp"
#include "plot.hpp"
#include "quietness.hpp"
#include "runner.hpp"
#include "statistics.hpp"
#include "workspace.hpp"

// The sweep: each combination run, summarised and written to every document as soon as it
// finishes, with the text that would close each document after a signal kept up to date.

namespace {

// The scalar rendering runs at about this rate; the estimate of the reference check's length is
// made from it.
constexpr double kReferenceFlopsPerSecond = 0.5e9;

// Said once, as the first comparison starts: the estimate covers the comparisons left.
void noteReferenceCheck(const std::vector<RunOptions>& combinations, int first, std::FILE* notes) {
  double seconds = 0;
  for (std::size_t i = first; i < combinations.size(); ++i) {
    seconds += hplFlops(combinations[i].n) / kReferenceFlopsPerSecond;
  }
  std::fprintf(notes,
               "%s: comparing with the plain scalar rendering; it runs at about 0.5 GFLOP/s, so "
               "this takes about %.0f s in all\n",
               kProgram, seconds);
}

void noteWarnings(const std::vector<std::string>& warnings, const std::string& where,
                  std::FILE* notes) {
  for (const std::string& warning : warnings) {
    std::fprintf(notes, "%s: warning%s: %s\n", kProgram, where.c_str(), warning.c_str());
  }
}

// The local time now in ISO 8601 with the offset from UTC: 2026-12-09T08:17:10+00:00.
std::string isoDate() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[40];
  const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S%z", &local);
  if (length < 5) return "";
  // strftime's +hhmm, with the colon ISO 8601's extended format wants.
  std::string date(text, length - 2);
  date.push_back(':');
  date.append(text + length - 2, 2);
  return date;
}

std::string executablePath() {
  char path[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  return length > 0 ? std::string(path, static_cast<std::size_t>(length)) : std::string();
}

// The CPU the process is pinned to, when its affinity allows exactly one.
std::optional<int> pinnedCpu() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) != 0 || CPU_COUNT(&set) != 1) return std::nullopt;
  for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
    if (CPU_ISSET(cpu, &set)) return cpu;
  }
  return std::nullopt;
}

}  // namespace

int runSweep(const SweepOptions& options, const std::vector<ReportDocument*>& documents,
             ProgressDisplay& progress, std::FILE* notes, bool warningsToNotes) {
  const std::vector<RunOptions> combinations = options.combinations();
  const int total = static_cast<int>(combinations.size());
  if (!sweepFitsInMemory(combinations)) return kStatusSystem;

  SweepContext context{options, total, std::nullopt, {}, isoDate(), 0, executablePath(),
                       pinnedCpu(), readMachineContext(), {}};
  context.warnings = warningsBeforeRuns(context.machine);
  if (warningsToNotes) noteWarnings(context.warnings, "", notes);
  if (options.measurePeak) context.peak = measurePeak(0.4);
  if (options.base.compareLapack) context.lapackLibrary = lapackDescription();
  timespec start{};
  if (!readMonotonicClock(start, kProgram)) return kStatusSystem;
  context.startNanoseconds = elapsedNanoseconds(timespec{}, start);
  // Each header is written with the first finished combination: a failure before it leaves the
  // documents empty.
  std::vector<std::string> heads;
  for (ReportDocument* document : documents) {
    heads.push_back(formatted(
        [&](const TextSink& sink) { document->reporter().context(context, sink); }));
  }

  SweepEnd end{SweepEnd::Kind::kComplete, 0, 0, total, true};
  // What a signal arriving now would leave: each document closed as it stands.
  auto updateClosing = [&] {
    for (std::size_t d = 0; d < documents.size(); ++d) {
      std::string closing[kHandledSignalCount];
      for (int i = 0; i < kHandledSignalCount; ++i) {
        const SweepEnd interrupted{SweepEnd::Kind::kInterrupted, handledSignal(i), end.finished,
                                   total, false};
        closing[i] = (end.finished == 0 ? heads[d] : "") +
                     formatted([&](const TextSink& sink) {
                       documents[d]->reporter().end(interrupted, sink);
                     });
      }
      setDocumentClosing(static_cast<int>(d), closing);
    }
  };
  {
    const SignalsHeld held;
    for (std::size_t d = 0; d < documents.size(); ++d) {
      setDocument(static_cast<int>(d), documents[d]->descriptor(), documents[d]->temporaryPath(),
                  documents[d]->path());
    }
    updateClosing();
  }

  bool referenceNoted = false;
  std::vector<PlotRow> plotRows;
  for (int index = 0; index < total; ++index) {
    const RunOptions& combination = combinations[index];
    timespec now{};
    if (!readMonotonicClock(now, kProgram)) {
      end.kind = SweepEnd::Kind::kFailed;
      break;
    }
    progress.startCombination(combination, index, total, now);
    CombinationHooks hooks;
    hooks.runFinished = [&](bool timed) {
      timespec after{};
      if (clock_gettime(CLOCK_MONOTONIC, &after) == 0) progress.runFinished(timed, after);
    };
    hooks.referenceCheckStarts = [&] {
      progress.clear();
      if (!referenceNoted) noteReferenceCheck(combinations, index, notes);
      referenceNoted = true;
    };
    const std::optional<CombinationRecord> record = runCombination(combination, hooks);
    if (!record) {
      end.kind = SweepEnd::Kind::kFailed;
      break;
    }
    Summary summary = summarize(*record, context.peak);
    summary.warnings = warningsAfterRuns(*record, summary.timed);
    plotRows.push_back(PlotRow{combination.n, combination.block, summary.gflops.median,
                               summary.efficiency,
                               summary.lapack ? std::optional<double>(summary.lapack->gflops.median)
                                              : std::nullopt});
    const SignalsHeld held;
    progress.clear();
    if (warningsToNotes) {
      noteWarnings(summary.warnings,
                   " (n " + std::to_string(combination.n) + ", block " +
                       std::to_string(combination.block) + ")",
                   notes);
    }
    bool written = true;
    for (std::size_t d = 0; d < documents.size(); ++d) {
      if (end.finished == 0) documents[d]->write(heads[d]);
      documents[d]->reporter().combination(*record, summary, [&](std::string_view piece) {
        documents[d]->write(piece);
      });
      written = documents[d]->flush() && written;
    }
    ++end.finished;
    end.passed = end.passed && summary.passed;
    updateClosing();
    // A document that can no longer be written ends the sweep: nobody would see the rest.
    if (!written) {
      end.kind = SweepEnd::Kind::kFailed;
      break;
    }
  }

  const SignalsHeld held;
  progress.clear();
  // A failure before any combination finished leaves nothing but its message.
  const bool anything = end.kind == SweepEnd::Kind::kComplete || end.finished > 0;
  if (end.kind != SweepEnd::Kind::kComplete) end.passed = false;
  bool finished = true;
  for (std::size_t d = 0; d < documents.size(); ++d) {
    if (anything) {
      documents[d]->reporter().end(end, [&](std::string_view piece) { documents[d]->write(piece); });
    }
    // No signal may add a second ending to a finished document.
    std::string nothing[kHandledSignalCount];
    setDocumentClosing(static_cast<int>(d), nothing);
    setDocument(static_cast<int>(d), -1, "", "");
    finished = documents[d]->finish(anything) && finished;
  }
  if (!finished || end.kind == SweepEnd::Kind::kFailed) return kStatusSystem;
  if (!options.plotPath.empty() && !drawPlot(options.plotPath, plotRows, notes)) {
    return kStatusSystem;
  }
  return end.passed ? 0 : kStatusFailedCheck;
}
