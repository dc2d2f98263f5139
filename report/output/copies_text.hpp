#pragma once

#include <string>
#include <vector>

#include "statistics.hpp"

// The copies run together as the table and the summary rows show them.

// The copies' block below a combination: their figures (over the finished copies; "—" or a
// phrase when none finished), one line per copy with how a dead one ended, what went wrong.
std::string copiesText(const CopiesSummary& c, const Summary& single);

// The result line's verdict: PASSED or FAILED, and why when copies disagreed or died (the
// status says so too: 3 for a dissent, 1 for a death).
std::string resultText(bool passed, const std::vector<const CopiesSummary*>& copies);

// One cell of a summary row: "2 of 2 finished", then each dead or dissenting copy after "; "
// (no commas, so that the cell stays one CSV field).
std::string copiesCell(const CopiesSummary& c);
