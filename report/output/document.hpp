#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "output.hpp"
#include "output_target.hpp"
#include "reporter.hpp"

// Where a reporter's text goes: a stream (standard output, or its descriptor moved aside), or an
// output file (--out: output_target.hpp). The sweep marks the text whole after each combination;
// a file document whose writing fails later is cut back to that state and closed there, so it
// still holds, validly, every combination that was written whole.
class ReportDocument {
 public:
  // A document on stream (not closed by the document); name says where it goes, in messages.
  ReportDocument(std::FILE* stream, std::unique_ptr<Reporter> reporter, std::string name);
  // A document written to output.
  ReportDocument(std::unique_ptr<PendingOutput> output, std::unique_ptr<Reporter> reporter);
  ReportDocument(const ReportDocument&) = delete;
  ReportDocument& operator=(const ReportDocument&) = delete;

  Reporter& reporter() { return *reporter_; }
  // "on standard output" or "in NAME" (the file's name, printable), for messages.
  std::string where() const { return output_ ? "in " + name_ : "on " + name_; }
  // The output's name as given, made printable.
  const std::string& name() const { return name_; }
  void write(std::string_view text);
  // Flushes; false when anything written so far was lost.
  bool flush();
  bool failed() const { return failed_; }
  // Whole combinations written so far.
  int wholeCombinations() const { return wholeCombinations_; }
  // The text so far is whole and holds this many combinations; failureClosing would close it as
  // it stands should a later write fail. Marked first before anything is written.
  void markWhole(int combinations, std::string failureClosing);
  // What the signal handler needs to close the document as it stands.
  OutputForSignals forSignals() const;
  // Bytes of the last whole state for a file, -1 for a stream (never cut).
  long long wholeLength() const;
  // Finishing may wait: a device or FIFO is opened and written only then.
  bool mayWait() const { return output_ && output_->target().kind == OutputTarget::Kind::kStream; }
  // Flushes, and for a file puts it in place (keep) or discards it; a file whose writing failed
  // is first cut back to its last whole state and closed there. False, after saying why on
  // standard error, when anything written was lost.
  bool finish(bool keep);
  // A FIFO without a reader may wait for ever: a finished document (anything) is first kept in a
  // file of its own, whose name this returns (empty when there is none: not a FIFO waiting for
  // its reader, or no copy could be made).
  std::string keepCopyWhileWaiting(bool anything) const;
  // What a signal while the document is finished would say of it, kept being
  // keepCopyWhileWaiting's name: the notice's text when it is the first document waited for
  // (first), else the clause that follows the first's for one still waiting after it.
  std::string waitingNotice(bool anything, const std::string& kept, bool first) const;

 private:
  std::unique_ptr<Reporter> reporter_;
  std::string name_;
  std::FILE* stream_ = nullptr;  // a stream document
  std::unique_ptr<StandardOutput> streamOut_;
  std::unique_ptr<PendingOutput> output_;  // a file document
  std::size_t wholeLength_ = 0;
  std::string failureClosing_;
  int wholeCombinations_ = 0;
  // Earlier whole states to fall back on when the last one's closing no longer fits (a file
  // size limit reached just past it): the one before it, and the first (the head alone).
  struct WholeState {
    std::size_t length = 0;
    std::string closing;
    int combinations = 0;
    bool marked = false;
  };
  WholeState previousWhole_;
  WholeState firstWhole_;
  bool markedOnce_ = false;
  bool failed_ = false;
};
