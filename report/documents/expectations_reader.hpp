#pragma once

#include <optional>

#include "document_checks.hpp"
#include "saved_expectations.hpp"

// The reader of a reference bands' document, given the parsed root object (already found to be
// of its kind). Says every problem on check and returns the entries, or nothing when the
// document is not usable. Internal to report/documents.

namespace document_reading {

std::optional<SavedExpectations> readExpectations(const json& root, const std::string& path,
                                                  Checker& check);

}  // namespace document_reading
