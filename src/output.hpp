#pragma once

#include <cstdio>
#include <string_view>

// A C output stream with its failures kept: the first write that fails is remembered with its
// reason (errno at that moment), so a loss is reported with its cause, not at a later flush.
class StandardOutput {
 public:
  // program names the reporting program in the failure message; stream defaults to stdout.
  explicit StandardOutput(const char* program, std::FILE* stream = stdout)
      : program_(program), stream_(stream) {}
  // Writes text to the stream; does nothing once a write has failed.
  void write(std::string_view text);
  // Flushes the stream; false when anything written so far was lost (nothing is printed).
  bool flush();
  // Flushes the stream. If anything written to it was lost (a closed descriptor, a full device),
  // prints "<program>: cannot write the result to standard output: <reason>" on standard error
  // and returns false.
  bool finish();

 private:
  void fail(int error);
  const char* program_;
  std::FILE* stream_;
  bool failed_ = false;
  int error_ = 0;
};
