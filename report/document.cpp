#include "document.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "options.hpp"

ReportDocument::ReportDocument(std::FILE* stream, std::unique_ptr<Reporter> reporter)
    : ReportDocument(stream, std::move(reporter), "", "") {}

ReportDocument::ReportDocument(std::FILE* stream, std::unique_ptr<Reporter> reporter,
                               std::string temporaryPath, std::string path)
    : stream_(stream),
      reporter_(std::move(reporter)),
      out_(kProgram, stream),
      temporaryPath_(std::move(temporaryPath)),
      path_(std::move(path)) {}

std::unique_ptr<ReportDocument> ReportDocument::forFile(const std::string& path,
                                                        std::unique_ptr<Reporter> reporter) {
  std::string pattern = path + ".XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  const int fd = mkstemp(name.data());
  if (fd >= 0) {
    // The permissions any new file gets, not mkstemp's owner-only ones.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
  }
  std::FILE* stream = fd >= 0 ? fdopen(fd, "w") : nullptr;
  if (stream == nullptr) {
    std::fprintf(stderr, "%s: cannot write %s: %s\n", kProgram, path.c_str(), std::strerror(errno));
    if (fd >= 0) close(fd);
    return nullptr;
  }
  return std::unique_ptr<ReportDocument>(
      new ReportDocument(stream, std::move(reporter), name.data(), path));
}

ReportDocument::~ReportDocument() {
  // A document never finished (an exception) leaves no temporary file behind.
  if (!temporaryPath_.empty() && stream_ != nullptr) {
    std::fclose(stream_);
    std::remove(temporaryPath_.c_str());
  }
}

int ReportDocument::descriptor() const {
  return fileno(stream_);
}

bool ReportDocument::finish(bool keep) {
  if (temporaryPath_.empty()) return out_.finish();
  const bool written = out_.flush();
  const bool closed = std::fclose(stream_) == 0;
  stream_ = nullptr;
  if (keep && written && closed && std::rename(temporaryPath_.c_str(), path_.c_str()) == 0) {
    return true;
  }
  std::remove(temporaryPath_.c_str());
  if (!keep) return true;
  std::fprintf(stderr, "%s: cannot write %s: %s\n", kProgram, path_.c_str(),
               errno != 0 ? std::strerror(errno) : "write error");
  return false;
}
