#pragma once

#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "saved_document.hpp"

// The one reader of saved lubench-report JSON documents, for every command that reads them: a
// run's document ("document_kind": "run", or no kind, as before the key existed), an A/B
// session's ("ab_session"), a comparison's ("comparison"), a fleet's report ("fleet") and a
// reference bands' document ("expectations", which --expect reads). Each caller says which kinds
// it takes; the others are named and refused.
// Whatever a file holds, it returns either typed records or the list of what is wrong: it never
// aborts, never blocks on a FIFO or a device, and never reads more than kMaxDocumentBytes. It
// holds no run as JSON: each is read as the parser completes it, so that the memory a document
// takes is its text and its records. Memory that runs out all the same is thrown as
// std::bad_alloc, for the caller to say per file or per command.

// Reads the document at path: a regular file only, up to kMaxDocumentBytes, of one of kinds.
DocumentReading readDocumentOf(const std::string& path, std::initializer_list<DocumentKind> kinds);
// The checks alone, on a document's text; path names it in the messages.
DocumentReading parseDocumentOf(std::string_view text, const std::string& path,
                                std::initializer_list<DocumentKind> kinds);

// A run's document, the others refused.
DocumentReading readDocument(const std::string& path);
DocumentReading parseDocument(std::string_view text, const std::string& path);

// The text of the regular file at path, up to kMaxDocumentBytes; nothing after one line in
// problems saying why (a FIFO, a device, a directory, too large, unreadable). Never blocks.
std::optional<std::string> readDocumentText(const std::string& path,
                                            std::vector<std::string>& problems);
