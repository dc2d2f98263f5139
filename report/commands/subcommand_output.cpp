#include "subcommand_output.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "launcher.hpp"
#include "output.hpp"
#include "program.hpp"
#include "text_format.hpp"

namespace {

// The reason --out is refused, or nothing; target is the resolved name when it is not.
std::optional<std::string> outRefusal(const std::string& path,
                                      const std::vector<std::string>& inputs,
                                      std::optional<OutputTarget>& target) {
  const ExpandedName expanded = expandPlaceholdersHere(path);
  if (!expanded.error.empty()) return "--out: " + printable(expanded.error);
  TargetResolution resolution = resolveOutputTarget(expanded.name, "--out");
  if (!resolution.target) return printable(resolution.error);
  for (const std::string& input : inputs) {
    // An input that cannot be resolved (gone, a directory) is no file the output could
    // replace; its reader says what is wrong with it.
    const TargetResolution read = resolveOutputTarget(input, "input");
    if (read.target && sameTarget(*resolution.target, *read.target)) {
      return "--out: " + printable(expanded.name) + " names an input, " + printable(input) +
             ", which it would replace: give the output a name of its own";
    }
  }
  target = std::move(resolution.target);
  return std::nullopt;
}

}  // namespace

SubcommandOut resolveSubcommandOut(bool given, const std::string& path,
                                   const std::vector<std::string>& inputs,
                                   const std::string& name) {
  SubcommandOut result;
  if (!given) return result;
  if (const std::optional<std::string> refusal = outRefusal(path, inputs, result.target)) {
    std::fprintf(stderr, "%s: %s\n", name.c_str(), refusal->c_str());
    result.refused = true;
  }
  return result;
}

std::string executableFile(const std::string& command) {
  if (command.empty() || command.find('/') != std::string::npos) return command;
  // execvp's own search list when PATH is not set.
  const char* variable = std::getenv("PATH");
  const std::string list = variable != nullptr ? variable : "/bin:/usr/bin";
  for (std::size_t from = 0;;) {
    const std::size_t colon = list.find(':', from);
    std::string directory = list.substr(from, colon == std::string::npos ? colon : colon - from);
    // An empty entry is the working directory.
    const std::string candidate = (directory.empty() ? "." : directory) + "/" + command;
    struct stat status {};
    if (stat(candidate.c_str(), &status) == 0 && S_ISREG(status.st_mode) &&
        access(candidate.c_str(), X_OK) == 0) {
      return candidate;
    }
    if (colon == std::string::npos) break;
    from = colon + 1;
  }
  return command;
}

ReaderWait::ReaderWait(const std::string& what) {
  for (int i = 0; i < kHandledSignalCount; ++i) {
    sigaction(handledSignal(i), nullptr, &previous_[i]);
  }
  // Should the handlers fail to install, the wait goes on as it would have without them.
  installInterruptionHandlers();
  const SignalsHeld held;
  setInterruptionNotice(what);
}

ReaderWait::~ReaderWait() {
  for (int i = 0; i < kHandledSignalCount; ++i) {
    sigaction(handledSignal(i), &previous_[i], nullptr);
  }
}

bool commitWaiting(PendingOutput& output, const std::string& lost, std::string& error,
                   volatile sig_atomic_t* recorded) {
  if (!output.waitsForReader()) return output.commit(error);
  const ReaderWait wait(" while waiting for a reader of " + printable(output.target().given) +
                        ": " + lost);
  // A signal that came just before the handlers changed would otherwise be lost to the wait.
  if (recorded != nullptr && *recorded != 0) raise(*recorded);
  return output.commit(error);
}

bool writeWholeText(const std::string& text, const std::optional<OutputTarget>& target,
                    const std::string& name, const std::string& lost) {
  if (!target) {
    StandardOutput out(kProgram);
    out.write(text);
    return out.finish();
  }
  std::string error;
  std::unique_ptr<PendingOutput> file = PendingOutput::create(*target, error);
  if (file && file->append(text) && commitWaiting(*file, lost, error)) return true;
  if (file && error.empty()) {
    error = "cannot write " + printable(target->given) + ": " + std::strerror(file->error());
  }
  std::fprintf(stderr, "%s: %s\n", name.c_str(), printable(error).c_str());
  return false;
}

bool writeKeepingCopy(PendingOutput& output, const std::string& text, bool onStandardOutput,
                      const std::string& name, volatile sig_atomic_t* recorded) {
  std::string kept, lost = "the session's document was not written";
  if (output.waitsForReader()) {
    if (!onStandardOutput) kept = keepCopy(text, "lubench-report-ab");
    lost += onStandardOutput ? "; standard output has it"
            : kept.empty()   ? " (no copy of it could be kept)"
                             : "; it is kept in " + printable(kept);
  }
  std::string error;
  if (output.append(text) && commitWaiting(output, lost, error, recorded)) {
    if (!kept.empty()) unlink(kept.c_str());
    return true;
  }
  if (error.empty()) error = std::strerror(output.error());
  const std::string where = kept.empty() ? "" : "; the document is kept in " + printable(kept);
  std::fprintf(stderr, "%s: --out: %s%s\n", name.c_str(), printable(error).c_str(),
               where.c_str());
  return false;
}
