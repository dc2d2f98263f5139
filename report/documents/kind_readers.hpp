#pragma once

#include <optional>

#include "document_checks.hpp"
#include "saved_reports.hpp"

// The readers of the documents that are not a run's, each given the parsed root object (already
// found to be of its kind). Each says every problem on check and returns its records, or nothing
// when the document is not usable. Internal to report/documents.

namespace document_reading {

std::optional<SavedSession> readSession(const json& root, Checker& check);
std::optional<SavedComparisons> readComparisons(const json& root, Checker& check);
std::optional<SavedFleet> readFleetReport(const json& root, Checker& check);

}  // namespace document_reading
