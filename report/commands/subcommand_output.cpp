#include "subcommand_output.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>

#include "launcher.hpp"
#include "output_format.hpp"
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

SubcommandOuts resolveSubcommandOuts(const std::vector<std::string>& paths,
                                     const std::vector<std::string>& inputs,
                                     const std::vector<std::string>& formats,
                                     const std::string& name) {
  SubcommandOuts result;
  for (const std::string& path : paths) {
    const SubcommandOut out = resolveSubcommandOut(true, path, inputs, name);
    if (out.refused) {
      result.refused = true;
      continue;
    }
    NamedOut named{*out.target, formatOfOutName(out.target->given)};
    if (!canonicalFormat(named.format, formats)) {
      std::fprintf(stderr,
                   "%s: --out %s: the name asks for %s, which this command does not write: "
                   "name it .md for Markdown, or anything else for the JSON document\n",
                   name.c_str(), printable(named.target.given).c_str(),
                   named.format == "csv" ? "CSV" : named.format.c_str());
      result.refused = true;
      continue;
    }
    bool twice = false;
    for (const NamedOut& earlier : result.outs) {
      if (!sameTarget(earlier.target, named.target)) continue;
      std::fprintf(stderr, "%s: --out %s and --out %s name the same file: give each its own\n",
                   name.c_str(), printable(earlier.target.given).c_str(),
                   printable(named.target.given).c_str());
      twice = true;
      break;
    }
    result.refused = result.refused || twice;
    if (!twice) result.outs.push_back(std::move(named));
  }
  return result;
}

bool createOuts(const std::vector<NamedOut>& outs,
                std::vector<std::unique_ptr<PendingOutput>>& files, const std::string& name) {
  files.clear();
  for (const NamedOut& out : outs) {
    std::string error;
    files.push_back(PendingOutput::create(out.target, error));
    if (files.back()) continue;
    std::fprintf(stderr, "%s: %s\n", name.c_str(), printable(error).c_str());
    // Those made so far remove their temporary files as they go.
    files.clear();
    return false;
  }
  return true;
}

std::vector<std::size_t> commitOrder(const std::vector<std::unique_ptr<PendingOutput>>& files) {
  const auto rank = [&](std::size_t i) {
    if (files[i]->target().kind == OutputTarget::Kind::kFile) return 0;
    return files[i]->waitsForReader() ? 2 : 1;
  };
  std::vector<std::size_t> order;
  for (int wanted = 0; wanted < 3; ++wanted) {
    for (std::size_t i = 0; i < files.size(); ++i) {
      if (rank(i) == wanted) order.push_back(i);
    }
  }
  return order;
}

std::string unwrittenAfter(const std::vector<std::unique_ptr<PendingOutput>>& files,
                           const std::vector<std::size_t>& order, std::size_t at) {
  std::string names;
  for (std::size_t k = at + 1; k < order.size(); ++k) {
    names += (names.empty() ? "" : ", ") + printable(files[order[k]]->target().given);
  }
  return names.empty() ? "" : "; not written either: " + names;
}

bool writeOuts(const std::vector<NamedOut>& outs,
               const std::function<std::string(const std::string&)>& textOf,
               const std::string& name, const std::string& lost) {
  // An output that cannot be made ready is said and the others are written all the same.
  bool written = true;
  std::vector<std::unique_ptr<PendingOutput>> files;
  std::vector<const std::string*> formats;
  for (const NamedOut& out : outs) {
    std::string error;
    std::unique_ptr<PendingOutput> file = PendingOutput::create(out.target, error);
    if (!file) {
      std::fprintf(stderr, "%s: %s\n", name.c_str(), printable(error).c_str());
      written = false;
      continue;
    }
    files.push_back(std::move(file));
    formats.push_back(&out.format);
  }
  std::map<std::string, std::string> texts;
  const std::vector<std::size_t> order = commitOrder(files);
  for (std::size_t k = 0; k < order.size(); ++k) {
    PendingOutput& file = *files[order[k]];
    const std::string& format = *formats[order[k]];
    if (!texts.contains(format)) texts[format] = textOf(format);
    std::string error;
    if (file.append(texts[format]) &&
        commitWaiting(file, lost + unwrittenAfter(files, order, k), error)) {
      continue;
    }
    if (error.empty()) {
      error = "cannot write " + printable(file.target().given) + ": " + std::strerror(file.error());
    }
    std::fprintf(stderr, "%s: %s\n", name.c_str(), printable(error).c_str());
    written = false;
  }
  return written;
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

bool writeKeepingCopy(PendingOutput& output, const std::string& text, bool onStandardOutput,
                      const std::string& what, const std::string& unwritten,
                      const std::string& name, volatile sig_atomic_t* recorded) {
  std::string kept, lost = what + " was not written";
  if (output.waitsForReader()) {
    if (!onStandardOutput) kept = keepCopy(text, "lubench-report-ab");
    lost += onStandardOutput ? "; standard output has it"
            : kept.empty()   ? " (no copy of it could be kept)"
                             : "; it is kept in " + printable(kept);
  }
  lost += unwritten;
  std::string error;
  if (output.append(text) && commitWaiting(output, lost, error, recorded)) {
    if (!kept.empty()) unlink(kept.c_str());
    return true;
  }
  if (error.empty()) error = std::strerror(output.error());
  const std::string where = kept.empty() ? "" : "; " + what + " is kept in " + printable(kept);
  std::fprintf(stderr, "%s: --out: %s%s\n", name.c_str(), printable(error).c_str(),
               where.c_str());
  return false;
}
