#pragma once

#include <sys/stat.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>

// Where --out and --plot write. A name is data, never handed to a command language: it is
// resolved and classified before any run, and written in one of two ways.
// - A regular file, or a name that does not exist yet: links are resolved first, then the text
//   goes to a temporary file beside the resolved name, which takes the replaced file's mode (and
//   owner, as root) and is renamed over it only when complete. A half-written text never stands
//   under the name, and the link or device the name pointed through is never replaced.
// - A character device or a FIFO (a terminal, /dev/null, a pipe): opened as it is and written
//   once, complete, at the end.
// A directory, a block device, a socket or an empty name is refused.

struct OutputTarget {
  enum class Kind { kFile, kStream };
  Kind kind = Kind::kFile;
  std::string given;  // as the user wrote it, for messages
  std::string path;   // kFile: links resolved, the directory made absolute; kStream: as given
  std::optional<struct stat> existing;  // what stands under the name now, if anything
};

struct TargetResolution {
  std::optional<OutputTarget> target;
  std::string error;  // a usage error when there is no target: "--out: ..."
};
// option ("--out", "--plot") names the option in the error.
TargetResolution resolveOutputTarget(const std::string& given, const char* option);

// The same file or device for both (an existing one by device and inode, a new one by its
// resolved name).
bool sameTarget(const OutputTarget& a, const OutputTarget& b);

// What the signal handler needs to close an output as it stands (interruption.hpp).
struct OutputForSignals {
  int descriptor = -1;     // where the text goes, if open
  std::string renameFrom;  // kFile: the temporary file ...
  std::string renameTo;    // ... and the name it replaces
  std::string openPath;    // kStream not opened yet: opened without blocking by the handler
  const std::string* buffered = nullptr;  // kStream: the text so far, written before the closing
};

// An output being written.
class PendingOutput {
 public:
  // The temporary file of a kFile target, or the buffer of a kStream target (whose device or
  // FIFO is opened now when that cannot block, else at commit). Null, with error set ("cannot
  // write NAME: reason"), when the temporary file cannot be created.
  static std::unique_ptr<PendingOutput> create(const OutputTarget& target, std::string& error);
  ~PendingOutput();  // an output never committed leaves no temporary file behind
  PendingOutput(const PendingOutput&) = delete;
  PendingOutput& operator=(const PendingOutput&) = delete;

  // Appends text; false once any append has failed (the first failure's errno is kept).
  bool append(std::string_view text);
  bool failed() const { return error_ != 0; }
  int error() const { return error_; }
  // Bytes appended successfully so far.
  std::size_t length() const { return length_; }
  // Cuts the text back to its first length bytes and clears the failure, so that a closing text
  // can follow what was whole before a write failed. False when the cut itself fails.
  bool truncate(std::size_t length);
  // Puts the text in place: the temporary file renamed over the name, or the buffer written to
  // the device or FIFO (waiting for a reader). False, with error set, when that fails; the
  // temporary file is then removed.
  bool commit(std::string& error);
  // True when commit may wait: a FIFO that had no reader when the output was created.
  bool waitsForReader() const { return target_.kind == OutputTarget::Kind::kStream && fd_ < 0; }
  OutputForSignals forSignals() const;
  const OutputTarget& target() const { return target_; }

 private:
  explicit PendingOutput(OutputTarget target) : target_(std::move(target)) {}
  OutputTarget target_;
  int fd_ = -1;
  std::string temporaryPath_;  // kFile
  std::string buffer_;         // kStream
  std::size_t length_ = 0;
  int error_ = 0;
};
