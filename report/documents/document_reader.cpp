#include "document_reader.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cstring>
#include <nlohmann/json.hpp>

#include "document_checks.hpp"
#include "document_stream.hpp"
#include "expectations_reader.hpp"
#include "json_schema.hpp"
#include "kind_readers.hpp"
#include "text_format.hpp"

// The reading of a whole document: the file, the kind of document, its context and ending; the
// benchmarks are read as the parser completes them (document_stream.hpp), the typed lookups and
// messages are shared (document_checks.hpp).

using namespace document_reading;

namespace {

const char* fileKind(mode_t mode) {
  if (S_ISDIR(mode)) return "a directory";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  if (S_ISSOCK(mode)) return "a socket";
  return "not a regular file";
}

// The context's "vector_paths" as one line, "avx512: k1, k2; avx2: k3"; nothing when it is not
// an array of paths, each with a name and an array of kernels' names.
std::optional<std::string> heldPathsText(const json& paths) {
  if (!paths.is_array() || paths.empty()) return std::nullopt;
  std::string held;
  for (const json& path : paths) {
    if (!path.is_object()) return std::nullopt;
    const auto name = path.find("name");
    const auto kernels = path.find("kernels");
    if (name == path.end() || !isName(*name) || kernels == path.end() || !kernels->is_array()) {
      return std::nullopt;
    }
    std::string line = name->get<std::string>() + ":";
    for (std::size_t k = 0; k < kernels->size(); ++k) {
      if (!isName((*kernels)[k])) return std::nullopt;
      line += (k == 0 ? " " : ", ") + (*kernels)[k].get<std::string>();
    }
    held += (held.empty() ? "" : "; ") + line;
  }
  return held;
}

// What the build holds: its vector_paths; in an older document, its one vector_path,
// contextPath.
std::string heldPathsOf(const json& context, const std::string& contextPath, Checker& check) {
  const auto paths = context.find("vector_paths");
  if (paths != context.end() && !paths->is_null()) {
    if (const std::optional<std::string> held = heldPathsText(*paths)) return *held;
    check.warning("context: \"vector_paths\" left out: " + shown(*paths) +
                  " is not an array of paths with their kernels");
  }
  return contextPath;
}

// Warns of a sweep that did not finish: its document holds only part of what was asked for.
void readEnding(const json& root, SavedDocument& document, Checker& check) {
  const auto interrupted = root.find("interrupted");
  if (interrupted == root.end()) return;
  if (!interrupted->is_boolean()) {
    check.problem("", "\"interrupted\" must be true or false, not " + shown(*interrupted));
    return;
  }
  document.interrupted = interrupted->get<bool>();
  if (!document.interrupted) return;
  std::string what = "the sweep was interrupted";
  const auto by = root.find("interrupted_by");
  if (by != root.end() && by->is_string()) what += " (" + printable(by->get<std::string>()) + ")";
  const auto finished = root.find("finished_combinations");
  const auto total = root.find("combinations");
  if (finished != root.end() && total != root.end() && finished->is_number_unsigned() &&
      total->is_number_unsigned()) {
    what += " after " + std::to_string(finished->get<std::uint64_t>()) + " of " +
            std::to_string(total->get<std::uint64_t>()) + " combinations";
  }
  check.warning(what + ": it holds only what finished");
}


// The kind a "document_kind" names; nothing for a value no kind has.
std::optional<DocumentKind> kindNamed(const json& value) {
  if (value == "run") return DocumentKind::kRun;
  if (value == "ab_session") return DocumentKind::kAbSession;
  if (value == "comparison") return DocumentKind::kComparison;
  if (value == "fleet") return DocumentKind::kFleet;
  if (value == "expectations") return DocumentKind::kExpectations;
  return std::nullopt;
}

const char* kindKey(DocumentKind kind) {
  switch (kind) {
    case DocumentKind::kRun: return "run";
    case DocumentKind::kAbSession: return "ab_session";
    case DocumentKind::kComparison: return "comparison";
    case DocumentKind::kFleet: return "fleet";
    case DocumentKind::kExpectations: return "expectations";
  }
  return "?";
}

// How a message names a document of kind.
const char* kindText(DocumentKind kind) {
  switch (kind) {
    case DocumentKind::kRun: return "a run's document";
    case DocumentKind::kAbSession: return "an A/B session's document";
    case DocumentKind::kComparison: return "a comparison's document";
    case DocumentKind::kFleet: return "a fleet's report";
    case DocumentKind::kExpectations: return "a reference bands' document";
  }
  return "?";
}

// "\"run\"" or "\"run\", \"fleet\"": the keys kinds are written with.
std::string kindKeys(std::initializer_list<DocumentKind> kinds) {
  std::string keys;
  for (const DocumentKind kind : kinds) {
    keys += std::string(keys.empty() ? "" : ", ") + "\"" + kindKey(kind) + "\"";
  }
  return keys;
}

}  // namespace

namespace {

DocumentReading readRun(const json& root, DocumentStream& stream, const std::string& path,
                        Checker& check) {
  SavedDocument document;
  document.path = path;
  const json* context = check.member(root, "context", "");
  if (context != nullptr && !context->is_object()) {
    check.problem("", "\"context\" must be an object, not " + shown(*context));
    context = nullptr;
  }
  std::string contextPath;
  if (context != nullptr) {
    const json* version = check.member(*context, "json_schema_version", "context");
    if (version != nullptr) {
      if (!version->is_number_integer() || *version != kJsonSchemaVersion) {
        check.problem("", "has JSON schema version " + shown(*version) +
                              "; this reader knows version " + std::to_string(kJsonSchemaVersion));
        return check.finish();
      }
      document.schemaVersion = kJsonSchemaVersion;
    }
    document.contextText = jsonText(*context);
    for (const auto& [key, value] : context->items()) {
      if (value.is_null()) continue;
      document.context[key] = value.is_string() ? value.get<std::string>() : jsonText(value);
    }
    contextPath = nameAt(*context, "vector_path", "context", check);
    document.heldPaths = heldPathsOf(*context, contextPath, check);
  }
  const json* benchmarks = check.member(root, "benchmarks", "");
  if (benchmarks != nullptr && !benchmarks->is_array()) {
    check.problem("", "\"benchmarks\" must be an array, not " + shown(*benchmarks));
    benchmarks = nullptr;
  }
  if (benchmarks != nullptr && stream.streamed()) {
    check.absorb(std::move(stream.checker()));
    document.combinations = std::move(stream.benchmarks().combinations);
    // Where a combination does not name the path it ran on, its build's one path did.
    for (SavedCombination& combination : document.combinations) {
      if (combination.vectorPath.empty()) combination.vectorPath = contextPath;
    }
  }
  readEnding(root, document, check);
  return check.finish(std::move(document));
}

}  // namespace

DocumentReading parseDocumentOf(std::string_view text, const std::string& path,
                                std::initializer_list<DocumentKind> kinds) {
  Checker check(path);
  DocumentStream stream(path);
  json root;
  try {
    root = json::parse(text.begin(), text.end(),
                       [&stream](int depth, json::parse_event_t event, json& parsed) {
                         return stream(depth, event, parsed);
                       });
  } catch (const Refused& refused) {
    check.problem("", refused.why + ": not a document");
    return check.finish();
  } catch (const json::parse_error& error) {
    check.problem(
        "", "is not JSON (stops at byte " + std::to_string(error.byte) + "; text must be UTF-8)");
    return check.finish();
  } catch (const json::exception&) {
    // The parser's other refusal: a number beyond the range of a double, such as 1e400.
    check.problem("", "holds a number too large for a double: not a document");
    return check.finish();
  }
  if (!root.is_object()) {
    check.problem("", "is not a lubench-report document: not a JSON object");
    return check.finish();
  }
  const auto kindMember = root.find("document_kind");
  std::optional<DocumentKind> kind = DocumentKind::kRun;
  if (kindMember != root.end()) kind = kindNamed(*kindMember);
  // A document of another kind, or of none this reader knows, is named, so that nobody guesses
  // why it does not read.
  if (!kind || std::find(kinds.begin(), kinds.end(), *kind) == kinds.end()) {
    std::string wanted;
    for (std::size_t k = 0; k < kinds.size(); ++k) {
      wanted += std::string(k == 0 ? "" : k + 1 == kinds.size() ? " or " : ", ") +
                kindText(kinds.begin()[k]);
    }
    check.problem("", "is " +
                          (kind ? std::string(kindText(*kind))
                                : "a document of unknown kind " + shown(*kindMember)) +
                          ", not " + wanted + " (\"document_kind\": " +
                          kindKeys(kinds) + ")");
    return check.finish();
  }
  DocumentReading reading;
  switch (*kind) {
    case DocumentKind::kRun:
      return readRun(root, stream, path, check);
    case DocumentKind::kAbSession: {
      std::optional<SavedSession> session = readSession(root, check);
      reading = check.finish();
      if (reading.problems.empty()) reading.session = std::move(session);
      break;
    }
    case DocumentKind::kComparison: {
      std::optional<SavedComparisons> comparisons = readComparisons(root, check);
      reading = check.finish();
      if (reading.problems.empty()) reading.comparisons = std::move(comparisons);
      break;
    }
    case DocumentKind::kFleet: {
      std::optional<SavedFleet> fleet = readFleetReport(root, check);
      reading = check.finish();
      if (reading.problems.empty()) reading.fleet = std::move(fleet);
      break;
    }
    case DocumentKind::kExpectations: {
      std::optional<SavedExpectations> expectations = readExpectations(root, path, check);
      reading = check.finish();
      if (reading.problems.empty()) reading.expectations = std::move(expectations);
      break;
    }
  }
  reading.kind = *kind;
  // A reader that returned nothing said why; nothing without a problem is a fault of its own.
  if (reading.problems.empty() && !reading.session && !reading.comparisons && !reading.fleet &&
      !reading.expectations) {
    reading.problems.push_back(printable(path) + ": is not a usable " + kindText(*kind));
  }
  return reading;
}

DocumentReading parseDocument(std::string_view text, const std::string& path) {
  return parseDocumentOf(text, path, {DocumentKind::kRun});
}

std::optional<std::string> readDocumentText(const std::string& path,
                                            std::vector<std::string>& problems) {
  const std::string name = printable(path);
  // Non-blocking, so that a FIFO without a writer cannot hold the reader; a regular file reads
  // the same either way.
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    problems.push_back("cannot read " + name + ": " + std::strerror(errno));
    return std::nullopt;
  }
  const std::size_t before = problems.size();
  struct stat status {};
  std::string text;
  if (fstat(fd, &status) != 0) {
    problems.push_back("cannot read " + name + ": " + std::strerror(errno));
  } else if (!S_ISREG(status.st_mode)) {
    problems.push_back(name + " is " + fileKind(status.st_mode) +
                       ", not a document: only regular files are read");
  } else if (static_cast<std::uintmax_t>(status.st_size) > kMaxDocumentBytes) {
    problems.push_back(name + " is larger than " + std::to_string(kMaxDocumentBytes >> 20) +
                       " MiB: not a document");
  } else {
    // The file may grow while it is read: never past the cap.
    char buffer[65536];
    for (;;) {
      const ssize_t got = read(fd, buffer, sizeof buffer);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) {
        problems.push_back("cannot read " + name + ": " + std::strerror(errno));
        break;
      }
      if (got == 0) break;
      text.append(buffer, static_cast<std::size_t>(got));
      if (text.size() > kMaxDocumentBytes) {
        problems.push_back(name + " is larger than " + std::to_string(kMaxDocumentBytes >> 20) +
                           " MiB: not a document");
        break;
      }
    }
  }
  close(fd);
  if (problems.size() != before) return std::nullopt;
  return text;
}

DocumentReading readDocumentOf(const std::string& path,
                               std::initializer_list<DocumentKind> kinds) {
  DocumentReading failed;
  const std::optional<std::string> text = readDocumentText(path, failed.problems);
  if (!text) return failed;
  return parseDocumentOf(*text, path, kinds);
}

DocumentReading readDocument(const std::string& path) {
  return readDocumentOf(path, {DocumentKind::kRun});
}
