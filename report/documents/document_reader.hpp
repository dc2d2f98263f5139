#pragma once

#include <string>
#include <string_view>

#include "saved_document.hpp"

// The one reader of saved lubench-report JSON documents, for every command that reads them. It
// reads a run's document ("document_kind": "run", or no kind, as before the key existed); the
// other kinds (a comparison, an A/B session) are named and refused.
// Whatever a file holds, it returns either typed records or the list of what is wrong: it never
// aborts, never blocks on a FIFO or a device, and never reads more than kMaxDocumentBytes. It
// holds no run as JSON: each is read as the parser completes it, so that the memory a document
// takes is its text and its records. Memory that runs out all the same is thrown as
// std::bad_alloc, for the caller to say per file or per command.

// Reads the document at path: a regular file only, up to kMaxDocumentBytes.
DocumentReading readDocument(const std::string& path);
// The checks alone, on a document's text; path names it in the messages.
DocumentReading parseDocument(std::string_view text, const std::string& path);
