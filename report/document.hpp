#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "output.hpp"
#include "reporter.hpp"

// Where a reporter's text goes: a stream (standard output, or its descriptor moved aside), or a
// file written under a temporary name beside it and renamed into place only when closed, so that
// a failure never leaves a half document under the file's name.
class ReportDocument {
 public:
  // A document on stream (not closed by the document).
  ReportDocument(std::FILE* stream, std::unique_ptr<Reporter> reporter);
  // A document for path; null, after saying why on standard error, when the temporary file cannot
  // be created.
  static std::unique_ptr<ReportDocument> forFile(const std::string& path,
                                                 std::unique_ptr<Reporter> reporter);
  ~ReportDocument();
  ReportDocument(const ReportDocument&) = delete;
  ReportDocument& operator=(const ReportDocument&) = delete;

  Reporter& reporter() { return *reporter_; }
  void write(std::string_view text) { out_.write(text); }
  bool flush() { return out_.flush(); }
  int descriptor() const;
  const std::string& temporaryPath() const { return temporaryPath_; }
  const std::string& path() const { return path_; }
  // Flushes, and for a file closes it and renames it into place (keep) or removes it. False,
  // after saying why on standard error, when anything written was lost.
  bool finish(bool keep);

 private:
  ReportDocument(std::FILE* stream, std::unique_ptr<Reporter> reporter, std::string temporaryPath,
                 std::string path);
  std::FILE* stream_;
  std::unique_ptr<Reporter> reporter_;
  StandardOutput out_;
  std::string temporaryPath_;  // empty for a stream
  std::string path_;
  std::string failureTarget_;
};
