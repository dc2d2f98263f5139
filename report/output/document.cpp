#include "document.hpp"

#include <cstring>

#include "interruption.hpp"
#include "kept_copy.hpp"
#include "program.hpp"
#include "text_format.hpp"

ReportDocument::ReportDocument(std::FILE* stream, std::unique_ptr<Reporter> reporter,
                               std::string name)
    : reporter_(std::move(reporter)),
      name_(std::move(name)),
      stream_(stream),
      streamOut_(std::make_unique<StandardOutput>(kProgram, stream)) {}

ReportDocument::ReportDocument(std::unique_ptr<PendingOutput> output,
                               std::unique_ptr<Reporter> reporter)
    : reporter_(std::move(reporter)),
      name_(printable(output->target().given)),
      output_(std::move(output)) {}

void ReportDocument::write(std::string_view text) {
  if (failed_) return;
  if (output_) {
    failed_ = !output_->append(text);
  } else {
    streamOut_->write(text);
  }
}

bool ReportDocument::flush() {
  if (!output_ && !streamOut_->flush()) failed_ = true;
  return !failed_;
}

void ReportDocument::markWhole(int combinations, std::string failureClosing) {
  if (output_) {
    const WholeState last{wholeLength_, failureClosing_, wholeCombinations_, markedOnce_};
    if (last.marked && last.combinations != combinations) previousWhole_ = last;
    if (!firstWhole_.marked) firstWhole_ = {output_->length(), failureClosing, combinations, true};
  }
  markedOnce_ = true;
  wholeCombinations_ = combinations;
  failureClosing_ = std::move(failureClosing);
  if (output_) wholeLength_ = output_->length();
}

OutputForSignals ReportDocument::forSignals() const {
  if (output_) return output_->forSignals();
  OutputForSignals view;
  view.descriptor = fileno(stream_);
  return view;
}

long long ReportDocument::wholeLength() const {
  if (!output_ || output_->target().kind == OutputTarget::Kind::kStream) return -1;
  return static_cast<long long>(wholeLength_);
}

bool ReportDocument::finish(bool keep) {
  if (!output_) return streamOut_->finish();
  if (!keep) {
    output_.reset();
    return true;
  }
  std::string error;
  if (failed_) {
    const int reason = output_->error();
    // Cut back to the last whole state and closed there: the combinations written whole stay.
    // Where its closing no longer fits, the state before it, or the head alone, is kept.
    bool closed = output_->truncate(wholeLength_) && output_->append(failureClosing_);
    for (const WholeState* earlier : {&previousWhole_, &firstWhole_}) {
      if (closed || !earlier->marked) continue;
      closed = output_->truncate(earlier->length) && output_->append(earlier->closing);
      if (closed) wholeCombinations_ = earlier->combinations;
    }
    if (closed && output_->commit(error)) {
      std::fprintf(stderr,
                   "%s: cannot write all of %s: %s; it holds the %d combination%s "
                   "written whole before that, marked \"interrupted\": true\n",
                   kProgram, name_.c_str(), std::strerror(reason), wholeCombinations_,
                   wholeCombinations_ == 1 ? "" : "s");
      output_.reset();
      return false;
    }
    if (error.empty()) error = "cannot write " + name_ + ": " + std::strerror(reason);
  } else if (output_->commit(error)) {
    output_.reset();
    return true;
  }
  std::fprintf(stderr, "%s: %s\n", kProgram, error.c_str());
  output_.reset();
  return false;
}

std::string ReportDocument::keepCopyWhileWaiting(bool anything) const {
  const OutputForSignals view = forSignals();
  if (!anything || view.descriptor >= 0 || view.buffered == nullptr) return {};
  return keepCopy(*view.buffered, "lubench-report");
}

std::string ReportDocument::waitingNotice(bool anything, const std::string& kept,
                                          bool first) const {
  const OutputForSignals view = forSignals();
  if (!anything || view.descriptor >= 0 || view.buffered == nullptr) {
    return first ? " while writing the report " + where() +
                       ", which may be lost; the runs had finished"
                 : "; the report " + where() + " may be lost too";
  }
  const std::string copy = kept.empty() ? " (no copy of it could be kept)"
                                        : "; it is kept in " + printable(kept);
  return first ? " while waiting for a reader of " + name_ + ": the document was not written" + copy
               : "; the document for " + name_ + " was not written either" + copy;
}
