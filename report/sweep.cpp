#include <string>

#include "clock.hpp"
#include "interruption.hpp"
#include "lapack_peer.hpp"
#include "measurement.hpp"
#include "runner.hpp"
#include "statistics.hpp"
#include "workspace.hpp"

// The sweep: each combination run, summarised and written as soon as it finishes, with the text
// that would close the document after a signal kept up to date.

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

}  // namespace

int runSweep(const SweepOptions& options, Reporter& reporter, StandardOutput& document,
             ProgressDisplay& progress, std::FILE* notes) {
  const std::vector<RunOptions> combinations = options.combinations();
  const int total = static_cast<int>(combinations.size());
  if (!sweepFitsInMemory(combinations)) return kStatusSystem;

  SweepContext context{options, total, std::nullopt, {}};
  if (options.measurePeak) context.peak = measurePeak(0.4);
  if (options.base.compareLapack) context.lapackLibrary = lapackDescription();
  // The header is written with the first finished combination: a failure before it leaves the
  // document empty.
  const std::string head = formatted([&](const TextSink& sink) { reporter.context(context, sink); });

  const TextSink toDocument = [&](std::string_view piece) { document.write(piece); };
  SweepEnd end{SweepEnd::Kind::kComplete, 0, 0, total, true};
  // What a signal arriving now would leave: the document closed as it stands.
  auto updateClosing = [&] {
    std::string closing[kHandledSignalCount];
    for (int i = 0; i < kHandledSignalCount; ++i) {
      const SweepEnd interrupted{SweepEnd::Kind::kInterrupted, handledSignal(i), end.finished,
                                 total, false};
      closing[i] = (end.finished == 0 ? head : "") +
                   formatted([&](const TextSink& sink) { reporter.end(interrupted, sink); });
    }
    setDocumentClosing(closing);
  };
  {
    const SignalsHeld held;
    updateClosing();
  }

  bool referenceNoted = false;
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
    const Summary summary = summarize(*record, context.peak);
    const SignalsHeld held;
    progress.clear();
    if (end.finished == 0) document.write(head);
    reporter.combination(*record, summary, toDocument);
    ++end.finished;
    end.passed = end.passed && summary.passed;
    updateClosing();
    // A document that can no longer be written ends the sweep: nobody would see the rest.
    if (!document.flush()) {
      end.kind = SweepEnd::Kind::kFailed;
      break;
    }
  }

  const SignalsHeld held;
  progress.clear();
  // A failure before any combination finished leaves nothing but its message.
  if (end.kind == SweepEnd::Kind::kComplete || end.finished > 0) {
    if (end.kind != SweepEnd::Kind::kComplete) end.passed = false;
    reporter.end(end, toDocument);
  }
  // No signal may add a second ending to a finished document.
  std::string nothing[kHandledSignalCount];
  setDocumentClosing(nothing);
  if (!document.finish()) return kStatusSystem;
  if (end.kind == SweepEnd::Kind::kFailed) return kStatusSystem;
  return end.passed ? 0 : kStatusFailedCheck;
}
