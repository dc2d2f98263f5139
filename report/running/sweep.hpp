#pragma once

#include <cstdio>
#include <optional>
#include <vector>

#include "copies.hpp"
#include "document.hpp"
#include "progress.hpp"
#include "saved_expectations.hpp"
#include "sweep_options.hpp"

// The whole sweep: the memory check of every combination before anything runs, the peak (when
// asked for), then each combination in turn, written to every document through its reporter as
// soon as it finishes and flushed, so that a later failure or a signal at any moment leaves
// every finished combination in a valid document. A document that can no longer be written
// keeps its last whole state while the others go on; the sweep ends early only when none is
// left. With options.plot, draws the sweep at the end. Notes on slow work go to notes; warnings
// on the machine's quietness too when warningsToNotes. Returns the exit status: 0 when every
// combination passed, 2 when a check failed, 1 when memory, the clock, a document or the plot
// failed. With options.copyPlaces, each combination is run again by one copy per place at once
// (copies.hpp; copyHook is handed to them); a copy that died makes the status 1, one whose
// fingerprint differs 3. With expectations (--expect), each combination's median rate is set
// against the band of this machine's CPU model, the path its runs ran on, n and block, shown in
// every document and said on notes when it is outside its band or has none; one outside makes
// the status 4 when nothing above applies.
int runSweep(const SweepOptions& options, const std::vector<ReportDocument*>& documents,
             ProgressDisplay& progress, std::FILE* notes, bool warningsToNotes,
             const CopyResultHook& copyHook = {},
             const std::optional<SavedExpectations>& expectations = std::nullopt);
