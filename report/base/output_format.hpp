#pragma once

#include <optional>
#include <string>
#include <vector>

// The names every command gives its output formats, and the format a document written under a
// name takes. The same thing has the same name in every command: "text" (the table a person
// reads), "md" (Markdown), "csv" and "json". "table" is the main command's older spelling of
// "text" and stays accepted.

// The canonical name of a --format value, or nothing when it is none of the names (or its
// command does not write it): allowed lists the canonical names the command writes.
std::optional<std::string> canonicalFormat(const std::string& given,
                                           const std::vector<std::string>& allowed);

// The format of a document written to path: "md" for a name ending ".md", "csv" for ".csv"
// (either case), "json" for every other name, a device or FIFO included.
std::string formatOfOutName(const std::string& path);

// "text, md or json" for {"text", "md", "json"}: the list as a help text or a refusal says it.
std::string formatNames(const std::vector<std::string>& allowed);
