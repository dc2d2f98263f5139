#pragma once

#include "plot.hpp"
#include "saved_document.hpp"

// What each kind of document is drawn as, added to picture as one part (its title lines) and
// its panels. The figures are computed from the records by the statistics the reports use, so
// a picture shows what the report says.

// A run or sweep: each run's GFLOP/s and the median with its interval, y from 0, x at the
// orders measured (or the blocks, for one order), one curve per block size and kernel asked
// for, the measured peak and LAPACK where the document has them; then, per combination run
// with --copies, each CPU's median beside the single copy's.
void addRunPicture(Picture& picture, const SavedDocument& document);

// An A/B session: per combination, each pair's ratio new / old in session order with the
// median's interval and 1 marked, then the steps' ratios as a forest with their intervals.
void addSessionPicture(Picture& picture, const SavedSession& session, const std::string& path);

// A comparison: the change of every matched combination's median with its interval, a forest.
void addComparisonPicture(Picture& picture, const SavedComparisons& comparisons,
                          const std::string& path);

// A fleet: per combination and group, each node's time against the group's median, the slow
// band shaded, slow nodes and dissenting fingerprints marked.
void addFleetPicture(Picture& picture, const SavedFleet& fleet, const std::string& path);

// The picture of whatever reading holds (its kind's records); false when it holds none.
bool addDocumentPicture(Picture& picture, const DocumentReading& reading, const std::string& path);
