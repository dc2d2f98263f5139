#include "output_target.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "text_format.hpp"

namespace {

// Links followed before a name counts as a loop, as the kernel counts them.
constexpr int kMaxLinks = 40;

std::string directoryOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string lastComponent(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::optional<std::string> realPath(const std::string& path) {
  char* resolved = realpath(path.c_str(), nullptr);
  if (resolved == nullptr) return std::nullopt;
  std::string out(resolved);
  std::free(resolved);
  return out;
}

// The name a new file is created under when path does not exist: a dangling link's target,
// followed link after link, with its directory made absolute where it exists. Nothing after
// too many links.
std::optional<std::string> nameToCreate(const std::string& path) {
  std::string name = path;
  for (int links = 0; links <= kMaxLinks; ++links) {
    struct stat status {};
    if (lstat(name.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) {
      const std::optional<std::string> directory = realPath(directoryOf(name));
      if (!directory) return name;
      return (*directory == "/" ? "" : *directory) + "/" + lastComponent(name);
    }
    std::vector<char> target(PATH_MAX + 1);
    const ssize_t length = readlink(name.c_str(), target.data(), target.size() - 1);
    if (length < 0) return name;
    const std::string next(target.data(), static_cast<std::size_t>(length));
    name = next.starts_with('/') ? next : directoryOf(name) + "/" + next;
  }
  return std::nullopt;
}

const char* refusedKind(mode_t mode) {
  if (S_ISDIR(mode)) return "a directory";
  if (S_ISBLK(mode)) return "a block device";
  if (S_ISSOCK(mode)) return "a socket";
  return "neither a regular file, a character device nor a FIFO";
}

bool writeAll(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t written = write(fd, text.data(), text.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    text.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

}  // namespace

TargetResolution resolveOutputTarget(const std::string& given, const char* option) {
  TargetResolution result;
  const std::string name = printable(given);
  if (given.empty()) {
    result.error = std::string(option) + " needs a file name, not an empty one";
    return result;
  }
  OutputTarget target;
  target.given = given;
  struct stat status {};
  if (stat(given.c_str(), &status) == 0) {
    target.existing = status;
    if (S_ISREG(status.st_mode)) {
      const std::optional<std::string> resolved = realPath(given);
      if (!resolved) {
        result.error =
            std::string(option) + " " + name + ": cannot resolve the name: " + std::strerror(errno);
        return result;
      }
      target.path = *resolved;
    } else if (S_ISCHR(status.st_mode) || S_ISFIFO(status.st_mode)) {
      target.kind = OutputTarget::Kind::kStream;
      target.path = given;
    } else {
      result.error = std::string(option) + " " + name + " is " + refusedKind(status.st_mode) +
                     ", not a file to write";
      return result;
    }
  } else if (errno == ENOENT) {
    if (given.ends_with('/')) {
      result.error = std::string(option) + " " + name + " names a directory, not a file";
      return result;
    }
    const std::optional<std::string> created = nameToCreate(given);
    if (!created) {
      result.error = std::string(option) + " " + name + ": too many levels of links";
      return result;
    }
    target.path = *created;
  } else {
    result.error = std::string(option) + " " + name + ": " + std::strerror(errno);
    return result;
  }
  result.target = std::move(target);
  return result;
}

bool sameTarget(const OutputTarget& a, const OutputTarget& b) {
  if (a.existing && b.existing) {
    return a.existing->st_dev == b.existing->st_dev && a.existing->st_ino == b.existing->st_ino;
  }
  return !a.existing && !b.existing && a.path == b.path;
}

std::unique_ptr<PendingOutput> PendingOutput::create(const OutputTarget& target,
                                                     std::string& error) {
  std::unique_ptr<PendingOutput> output(new PendingOutput(target));
  if (target.kind == OutputTarget::Kind::kStream) {
    // A device opens at once; a FIFO only without blocking, when it already has a reader.
    output->fd_ = open(target.path.c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (output->fd_ >= 0) {
      fcntl(output->fd_, F_SETFL, fcntl(output->fd_, F_GETFL) & ~O_NONBLOCK);
    } else if (errno != ENXIO) {
      error = "cannot write " + printable(target.given) + ": " + std::strerror(errno);
      return nullptr;
    }
    return output;
  }
  // A short name of its own, so that a name near the system's length limit still fits.
  std::string pattern = directoryOf(target.path) + "/.lubench-report.XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  output->fd_ = mkostemp(name.data(), O_CLOEXEC);
  if (output->fd_ < 0) {
    error = "cannot write " + printable(target.given) + ": " + std::strerror(errno);
    return nullptr;
  }
  output->temporaryPath_ = name.data();
  if (target.existing) {
    // The replaced file's owner (only root can give a file away; should that fail, the file
    // stays root's) and mode.
    if (geteuid() == 0 &&
        fchown(output->fd_, target.existing->st_uid, target.existing->st_gid) != 0) {
    }
    fchmod(output->fd_, target.existing->st_mode & 07777);
  } else {
    // The permissions any new file gets, not mkstemp's owner-only ones.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(output->fd_, 0666 & ~mask);
  }
  return output;
}

PendingOutput::~PendingOutput() {
  if (fd_ >= 0) close(fd_);
  if (!temporaryPath_.empty()) unlink(temporaryPath_.c_str());
}

bool PendingOutput::append(std::string_view text) {
  if (error_ != 0) return false;
  if (target_.kind == OutputTarget::Kind::kStream) {
    buffer_.append(text);
  } else if (!writeAll(fd_, text)) {
    error_ = errno != 0 ? errno : EIO;
    return false;
  }
  length_ += text.size();
  return true;
}

bool PendingOutput::truncate(std::size_t length) {
  if (target_.kind == OutputTarget::Kind::kStream) {
    buffer_.resize(length);
  } else if (ftruncate(fd_, static_cast<off_t>(length)) != 0 ||
             lseek(fd_, 0, SEEK_END) != static_cast<off_t>(length)) {
    return false;
  }
  length_ = length;
  error_ = 0;
  return true;
}

bool PendingOutput::commit(std::string& error) {
  const std::string name = printable(target_.given);
  if (error_ != 0) {
    error = "cannot write " + name + ": " + std::strerror(error_);
    return false;
  }
  if (target_.kind == OutputTarget::Kind::kStream) {
    if (fd_ < 0) fd_ = open(target_.path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    bool written = fd_ >= 0 && writeAll(fd_, buffer_);
    int reason = errno;
    if (fd_ >= 0 && close(fd_) != 0 && written) {
      written = false;
      reason = errno;
    }
    fd_ = -1;
    if (!written) error = "cannot write " + name + ": " + std::strerror(reason);
    return written;
  }
  const bool closed = close(fd_) == 0;
  fd_ = -1;
  if (!closed || rename(temporaryPath_.c_str(), target_.path.c_str()) != 0) {
    error = "cannot write " + name + ": " + std::strerror(errno);
    return false;  // the destructor removes the temporary file
  }
  temporaryPath_.clear();
  return true;
}

OutputForSignals PendingOutput::forSignals() const {
  OutputForSignals view;
  view.descriptor = fd_;
  if (target_.kind == OutputTarget::Kind::kFile) {
    view.renameFrom = temporaryPath_;
    view.renameTo = target_.path;
  } else {
    if (fd_ < 0) view.openPath = target_.path;
    view.buffered = &buffer_;
  }
  return view;
}
