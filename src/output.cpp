#include "output.hpp"

#include <cerrno>
#include <cstring>

void StandardOutput::fail(int error) {
  if (failed_) return;
  failed_ = true;
  error_ = error;
}

void StandardOutput::write(std::string_view text) {
  if (failed_ || text.empty()) return;
  errno = 0;
  if (std::fwrite(text.data(), 1, text.size(), stream_) != text.size()) fail(errno);
}

bool StandardOutput::flush() {
  errno = 0;
  if (std::fflush(stream_) != 0) fail(errno);
  // An earlier write through printf or puts may have failed without anyone looking.
  if (std::ferror(stream_)) fail(0);
  return !failed_;
}

bool StandardOutput::finish() {
  if (flush()) return true;
  std::fprintf(stderr, "%s: cannot write the result to standard output: %s\n", program_,
               error_ != 0 ? std::strerror(error_) : "write error");
  return false;
}
