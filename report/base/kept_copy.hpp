#pragma once

#include <string>

// A copy of text in a new file of the temporary directory ($TMPDIR, else /tmp), named after
// stem, for a finished result whose output may never be written. Its path; empty when no copy
// could be made.
std::string keepCopy(const std::string& text, const std::string& stem);
