#include "sweep.hpp"

#include <sched.h>
#include <unistd.h>

#include <climits>
#include <string>

#include "clock.hpp"
#include "cpu_affinity.hpp"
#include "expectations.hpp"
#include "interruption.hpp"
#include "lapack_peer.hpp"
#include "launcher.hpp"
#include "measurement.hpp"
#include "document_reader.hpp"
#include "pictures.hpp"
#include "program.hpp"
#include "quietness.hpp"
#include "reporter.hpp"
#include "runner.hpp"
#include "saved_document.hpp"
#include "statistics.hpp"
#include "text_format.hpp"
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
  const std::string length = seconds < 1 ? "under a second" : formatText("about %.0f s", seconds);
  std::fprintf(notes,
               "%s: comparing with the plain scalar rendering; it runs at about %.1f GFLOP/s, so "
               "this takes %s in all\n",
               kProgram, kReferenceFlopsPerSecond / 1e9, length.c_str());
}

void noteWarnings(const std::vector<std::string>& warnings, const std::string& where,
                  std::FILE* notes) {
  for (const std::string& warning : warnings) {
    std::fprintf(notes, "%s: warning%s: %s\n", kProgram, where.c_str(), warning.c_str());
  }
}

// The picture of the sweep's own document, as plot would draw it; nothing after saying why.
std::optional<std::string> drawSweep(const std::string& document, const OutputTarget& plot,
                                     std::FILE* notes) {
  const std::string name = printable(plot.given);
  const DocumentReading reading = parseDocument(document, plot.given);
  if (!reading.document) {
    for (const std::string& problem : reading.problems) {
      std::fprintf(notes, "%s: --plot: %s\n", kProgram, problem.c_str());
    }
    return std::nullopt;
  }
  Picture picture;
  addRunPicture(picture, *reading.document);
  return renderPicture(*plotFormatOf(plot.given), picture, name, notes);
}

}  // namespace

int runSweep(const SweepOptions& options, const std::vector<ReportDocument*>& documents,
             ProgressDisplay& progress, std::FILE* notes, bool warningsToNotes,
             const CopyResultHook& copyHook,
             const std::optional<SavedExpectations>& expectations) {
  const std::vector<RunOptions> combinations = options.combinations();
  const int total = static_cast<int>(combinations.size());
  const int copies = static_cast<int>(options.copyPlaces.size());
  if (!sweepFitsInMemory(combinations, "", std::max(copies, 1))) return kStatusSystem;

  SweepContext context{options,          total,       std::nullopt,         {}, isoDate(), 0,
                       executablePath(), pinnedCpu(), readMachineContext(), {}, {}};
  context.launcher = readLauncher();
  context.expectations = expectations;
  context.warnings = warningsBeforeRuns(context.machine);
  if (warningsToNotes) noteWarnings(context.warnings, "", notes);
  // Each document's head is written with its first finished combination: a failure before it
  // leaves the documents empty; a signal before it leaves the head closed as interrupted.
  std::vector<std::string> heads(documents.size());
  auto makeHeads = [&] {
    for (std::size_t d = 0; d < documents.size(); ++d) {
      heads[d] =
          formatted([&](const TextSink& sink) { documents[d]->reporter().context(context, sink); });
    }
  };
  SweepEnd end{SweepEnd::Kind::kComplete, 0, 0, total, true};
  // The text that closes document d as it stands, after a signal or a failed write.
  auto closingOf = [&](std::size_t d, SweepEnd::Kind kind, int signal, int whole) {
    const SweepEnd closed{kind, signal, whole, total, false};
    return (whole == 0 ? heads[d] : "") +
           formatted([&](const TextSink& sink) { documents[d]->reporter().end(closed, sink); });
  };
  // What a signal arriving now would leave, and what the handler says of it.
  auto updateClosing = [&] {
    std::string kept;
    for (std::size_t d = 0; d < documents.size(); ++d) {
      std::string closing[kHandledSignalCount];
      for (int i = 0; i < kHandledSignalCount; ++i) {
        closing[i] = closingOf(d, SweepEnd::Kind::kInterrupted, handledSignal(i),
                               documents[d]->wholeCombinations());
      }
      setDocumentClosing(static_cast<int>(d), closing);
      setDocument(static_cast<int>(d), documents[d]->forSignals(), documents[d]->wholeLength());
      if (!documents[d]->failed()) kept += (kept.empty() ? "" : " and ") + documents[d]->where();
    }
    const std::string where =
        kept.empty() ? "no document could be written" : "kept " + kept + ", marked as interrupted";
    setInterruptionNotice(end.finished == 0
                              ? " before any combination finished; the context alone is " + where
                              : " after " + std::to_string(end.finished) + " of " +
                                    std::to_string(total) + " combinations; what had finished is " +
                                    where);
  };
  // Document d is whole with this many combinations: the closing after a failed write follows.
  auto markWhole = [&](std::size_t d, int combinations) {
    documents[d]->markWhole(combinations, closingOf(d, SweepEnd::Kind::kFailed, 0, combinations));
  };
  // Before any combination: the heads as the context stands now, each document empty and whole.
  auto restartDocuments = [&] {
    const SignalsHeld held;
    makeHeads();
    for (std::size_t d = 0; d < documents.size(); ++d) markWhole(d, 0);
    updateClosing();
  };
  // A signal from here on, the peak measurement included, leaves a valid document.
  restartDocuments();
  if (options.measurePeak) {
    // At the width the runs use: the path asked for, or the automatic one.
    RunOptions pathOnly = options.base;
    pathOnly.kernel = "auto";
    context.peak = measurePeak(0.4, kernelChoiceOf(pathOnly));
    restartDocuments();
  }
  if (options.base.compareLapack) context.lapackLibrary = lapackDescription();
  timespec start{};
  if (!readMonotonicClock(start, kProgram)) return kStatusSystem;
  context.startNanoseconds = elapsedNanoseconds(timespec{}, start);
  restartDocuments();

  bool referenceNoted = false;
  bool copiesDied = false, copiesDissent = false, outsideBand = false;
  // With --plot, the sweep's own JSON document, from which the picture is drawn as plot draws
  // a saved one.
  const std::unique_ptr<Reporter> plotReporter = options.plot ? makeJsonReporter() : nullptr;
  std::string plotDocument;
  const TextSink toPlotDocument = [&](std::string_view piece) { plotDocument.append(piece); };
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
    std::optional<CombinationRecord> record = runCombination(combination, hooks);
    if (!record) {
      end.kind = SweepEnd::Kind::kFailed;
      break;
    }
    // Then every copy at once, the same combination from the same seed.
    if (copies > 0) {
      progress.clear();
      record->copies = runCopies(combination, options.copyPlaces, copyHook);
    }
    Summary summary = summarize(*record, context.peak);
    summary.warnings = warningsAfterRuns(*record, summary.timed);
    const std::string ranPath = ranOn(*record).path;
    const std::string cpuModel = context.machine.cpuModel.value_or("");
    if (expectations) {
      summary.expectation = checkBand(*expectations, cpuModel, ranPath, combination.n,
                                      combination.block, summary.gflops.median);
    }
    if (plotReporter) {
      if (end.finished == 0) plotReporter->context(context, toPlotDocument);
      plotReporter->combination(*record, summary, toPlotDocument);
    }
    const SignalsHeld held;
    progress.clear();
    if (warningsToNotes) {
      noteWarnings(summary.warnings,
                   " (n " + std::to_string(combination.n) + ", block " +
                       std::to_string(combination.block) +
                       (combination.kernel == "auto" ? "" : ", kernel " + combination.kernel) + ")",
                   notes);
    }
    if (summary.expectation && summary.expectation->verdict != BandVerdict::kWithin) {
      outsideBand = outsideBand || summary.expectation->outside();
      std::fprintf(notes, "%s: %s: %s\n", kProgram,
                   summary.expectation->outside() ? "OUTSIDE BAND" : "no reference",
                   bandMessage(*summary.expectation,
                               combinationName(combination.n, combination.block,
                                               combination.kernel),
                               cpuModel, ranPath)
                       .c_str());
    }
    bool anyWritable = false;
    for (std::size_t d = 0; d < documents.size(); ++d) {
      ReportDocument& document = *documents[d];
      // A document that failed takes nothing more: its last whole state is what it keeps.
      if (document.failed()) continue;
      if (document.wholeCombinations() == 0) document.write(heads[d]);
      document.reporter().combination(*record, summary,
                                      [&](std::string_view piece) { document.write(piece); });
      if (document.flush()) {
        markWhole(d, document.wholeCombinations() + 1);
        anyWritable = true;
      }
    }
    ++end.finished;
    end.passed = end.passed && summary.passed;
    if (summary.copies) {
      copiesDied = copiesDied || !summary.copies->deaths.empty();
      copiesDissent = copiesDissent || !summary.copies->dissents.empty();
      if (warningsToNotes) {
        const std::string where = " (n " + std::to_string(combination.n) + ", block " +
                                  std::to_string(combination.block) + ")";
        noteWarnings(summary.copies->warnings, where, notes);
      }
      for (const std::string& death : summary.copies->deaths) {
        std::fprintf(notes, "%s: a copy died: %s\n", kProgram, death.c_str());
      }
      for (const std::string& dissent : summary.copies->dissents) {
        std::fprintf(notes, "%s: COPIES DISAGREE: %s\n", kProgram, dissent.c_str());
      }
    }
    updateClosing();
    // When no document can be written any more, nobody would see the rest.
    if (!anyWritable) {
      end.kind = SweepEnd::Kind::kFailed;
      break;
    }
  }
  progress.clear();

  // The plot is drawn while the documents are still open, so that a signal meanwhile marks them
  // interrupted; nothing is held while gnuplot runs.
  std::optional<std::string> picture;
  bool plotFailed = false;
  if (plotReporter && end.kind == SweepEnd::Kind::kComplete) {
    plotReporter->end(end, toPlotDocument);
    picture = drawSweep(plotDocument, *options.plot, notes);
    plotFailed = !picture;
  }

  bool finished = true;
  // A failure before any combination finished leaves nothing but its message.
  const bool anything = end.kind == SweepEnd::Kind::kComplete || end.finished > 0;
  if (end.kind != SweepEnd::Kind::kComplete) end.passed = false;
  std::vector<ReportDocument*> waiting;  // devices and FIFOs, written outside the hold
  std::vector<std::string> kept;         // the copy of each waiting document, if any
  // What a signal while waiting[w] is written says: it, and every one after it, unwritten.
  auto noticeWhileWaiting = [&](std::size_t w) {
    std::string notice = waiting[w]->waitingNotice(anything, kept[w], true);
    for (std::size_t later = w + 1; later < waiting.size(); ++later) {
      notice += waiting[later]->waitingNotice(anything, kept[later], false);
    }
    setInterruptionNotice(notice);
  };
  {
    const SignalsHeld held;
    for (std::size_t d = 0; d < documents.size(); ++d) {
      ReportDocument& document = *documents[d];
      if (anything && !document.failed()) {
        SweepEnd ending = end;
        ending.finished = document.wholeCombinations();
        if (document.wholeCombinations() == 0) document.write(heads[d]);
        document.reporter().end(ending, [&](std::string_view piece) { document.write(piece); });
      }
      // No signal may add a second ending to a finished document.
      clearDocument(static_cast<int>(d));
      if (document.mayWait()) {
        waiting.push_back(&document);
        kept.push_back(document.keepCopyWhileWaiting(anything));
      } else {
        finished = document.finish(anything) && finished;
      }
    }
    if (!waiting.empty()) noticeWhileWaiting(0);
  }
  for (std::size_t w = 0; w < waiting.size(); ++w) {
    if (w > 0) {
      const SignalsHeld held;
      noticeWhileWaiting(w);
    }
    const bool written = waiting[w]->finish(anything);
    if (!written && !kept[w].empty()) {
      std::fprintf(notes, "%s: the document is kept in %s\n", kProgram,
                   printable(kept[w]).c_str());
    } else if (!kept[w].empty()) {
      unlink(kept[w].c_str());
    }
    finished = written && finished;
  }
  if (picture) {
    const SignalsHeld held;
    setInterruptionNotice(" while writing the plot " + printable(options.plot->given) +
                          "; the report is complete, the plot is not written");
  }
  // Written outside the hold: a FIFO may wait for its reader.
  if (picture) {
    std::string error;
    std::unique_ptr<PendingOutput> output = PendingOutput::create(*options.plot, error);
    if (!output || !output->append(*picture) || !output->commit(error)) {
      if (error.empty()) error = "cannot write " + printable(options.plot->given);
      std::fprintf(notes, "%s: %s\n", kProgram, error.c_str());
      plotFailed = true;
    }
  }
  if (!finished || end.kind == SweepEnd::Kind::kFailed || plotFailed || copiesDied) {
    return kStatusSystem;
  }
  if (copiesDissent) return kStatusFingerprintsDisagree;
  if (!end.passed) return kStatusFailedCheck;
  // The last of the statuses (program.hpp): the runs were sound, the machine slower or faster
  // than its reference.
  return outsideBand ? kStatusOutsideBand : 0;
}
