#include "plot.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>
#include <utility>
#include <vector>

#include "program.hpp"
#include "text_format.hpp"

extern char** environ;

namespace {

std::string lowerCase(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

// Pixels: the picture's width, each panel's height and the title's.
constexpr int kWidth = 1000;
constexpr int kPanelHeight = 420;
constexpr int kTitleLineHeight = 18;
constexpr std::size_t kMaxTitleLineBytes = 150;
constexpr int kBottomRoom = 80;      // under a panel: its tick labels and axis label
constexpr int kPanelTitleRoom = 44;  // above a panel: its title

// Runs program with input on its standard input and returns its standard output, with its exit
// status in status (-1 when it could not be started, errno set). The child starts with every
// signal at its default and none held, whatever the report ignores or holds.
std::string exchange(const char* program, const std::string& input, int& status) {
  status = -1;
  int in[2], out[2];
  if (pipe2(in, O_CLOEXEC) != 0) return {};
  if (pipe2(out, O_CLOEXEC) != 0) {
    close(in[0]);
    close(in[1]);
    return {};
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t all, none;
  sigfillset(&all);
  sigemptyset(&none);
  posix_spawnattr_setsigdefault(&attributes, &all);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  char* argv[] = {const_cast<char*>(program), nullptr};
  pid_t child = -1;
  const int spawned = posix_spawnp(&child, program, &actions, &attributes, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  close(in[0]);
  close(out[1]);
  std::string output;
  if (spawned != 0) {
    close(in[1]);
    close(out[0]);
    errno = spawned;
    return {};
  }
  // Writes the input and reads the output together, so neither side waits on a full pipe.
  fcntl(in[1], F_SETFL, O_NONBLOCK);
  std::size_t sent = 0;
  int writer = in[1];
  if (input.empty()) {
    close(writer);
    writer = -1;
  }
  for (;;) {
    pollfd watched[2] = {{out[0], POLLIN, 0}, {writer, POLLOUT, 0}};
    if (poll(watched, writer >= 0 ? 2 : 1, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (writer >= 0 && (watched[1].revents & (POLLOUT | POLLERR | POLLHUP)) != 0) {
      const ssize_t written = write(writer, input.data() + sent, input.size() - sent);
      if (written > 0) sent += static_cast<std::size_t>(written);
      if (written < 0 && errno != EAGAIN && errno != EINTR) sent = input.size();
      if (sent == input.size()) {
        close(writer);
        writer = -1;
      }
    }
    if ((watched[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
      char buffer[65536];
      const ssize_t got = read(out[0], buffer, sizeof buffer);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) break;
      output.append(buffer, static_cast<std::size_t>(got));
    }
  }
  if (writer >= 0) close(writer);
  close(out[0]);
  int wstatus = 0;
  while (waitpid(child, &wstatus, 0) < 0 && errno == EINTR) {
  }
  status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
  return output;
}

}  // namespace

bool gnuplotAvailable() {
  const char* path = std::getenv("PATH");
  std::istringstream directories(path != nullptr ? path : "");
  std::string directory;
  while (std::getline(directories, directory, ':')) {
    if (!directory.empty() && access((directory + "/gnuplot").c_str(), X_OK) == 0) return true;
  }
  return false;
}

std::optional<PlotFormat> plotFormatOf(const std::string& path) {
  const std::string lower = lowerCase(path);
  if (lower.ends_with(".svg")) return PlotFormat::kSvg;
  if (lower.ends_with(".png")) return PlotFormat::kPng;
  return std::nullopt;
}

std::string gnuplotText(const std::string& text) { return gnuplotLines({text}); }

std::string shortenedText(const std::string& text, std::size_t bytes) {
  if (text.size() <= bytes) return text;
  std::size_t cut = bytes;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  return text.substr(0, cut) + "...";
}

std::string gnuplotLines(const std::vector<std::string>& lines) {
  std::string quoted = "\"";
  for (std::size_t l = 0; l < lines.size(); ++l) {
    // gnuplot's own escape breaks the line; any newline of the text itself is shown escaped.
    if (l > 0) quoted += "\\n";
    for (const char c : printable(lines[l])) {
      // gnuplot runs the text between backquotes as a command even inside a double-quoted
      // string, before it reads the string's escapes: a backquote is written as its octal escape.
      if (c == '`') {
        quoted += "\\140";
        continue;
      }
      if (c == '\\' || c == '"') quoted += '\\';
      quoted += c;
    }
  }
  return quoted + "\"";
}

std::string Picture::partNumber(std::size_t part) const {
  return parts_.size() > 1 ? formatText("[%zu] ", part) : std::string();
}

void Picture::startDocument(std::string heading, std::vector<std::string> details,
                            std::string source) {
  parts_.push_back(Part{std::move(heading), std::move(details), std::move(source)});
}

std::string Picture::data(const std::string& lines) {
  const std::string name = "$d" + std::to_string(dataBlocks_++);
  data_ += name + " << EOD\n" + lines + "EOD\n";
  return name;
}

void Picture::panel(const std::string& title, const std::string& commands,
                    const std::string& subtitle) {
  if (static_cast<int>(panels_.size()) >= kMaxPanels) {
    ++leftOut_;
    return;
  }
  panels_.push_back(Panel{parts_.size(), title, commands, subtitle});
}

std::string Picture::script(PlotFormat format) const {
  std::vector<std::string> lines;
  for (std::size_t p = 0; p < parts_.size(); ++p) {
    // Each line fits the picture's width.
    lines.push_back(shortenedText(partNumber(p + 1) + parts_[p].heading, kMaxTitleLineBytes));
    for (const std::string& detail : parts_[p].details) {
      lines.push_back(shortenedText(detail, kMaxTitleLineBytes));
    }
    if (parts_.size() > 1) {
      lines.push_back(shortenedText("from " + parts_[p].source, kMaxTitleLineBytes));
    }
  }
  if (leftOut_ > 0) {
    lines.push_back(std::to_string(leftOut_) + " more panel" + (leftOut_ == 1 ? "" : "s") +
                    " left out: a picture draws at most " + std::to_string(kMaxPanels));
  }
  const int shown = std::max(1, static_cast<int>(panels_.size()));
  const int titleHeight = 30 + kTitleLineHeight * static_cast<int>(lines.size());
  const int height = titleHeight + (kPanelHeight + kBottomRoom + kPanelTitleRoom) * shown;
  std::ostringstream script;
  // An opaque white background, so that black axes show on a dark page too.
  script << (format == PlotFormat::kPng ? "set terminal pngcairo" : "set terminal svg")
         << " size " << kWidth << "," << height
         << (format == PlotFormat::kPng ? "" : " dynamic")
         << " noenhanced background '#ffffff' font 'sans,10'\n"
         << "set encoding utf8\n"
         // No file name: gnuplot draws to its standard output, a pipe to the report.
         << "set output\n"
         << data_;
  // The panels share the height below the title, which margins in screen units reserve, with
  // room under each panel for its axis label and above it for its title.
  const double pixel = 1.0 / height;
  script << "set multiplot layout " << shown << ",1 title " << gnuplotLines(lines)
         << " font 'sans,11' margins 0.09,0.88," << kBottomRoom * pixel << ","
         << 1.0 - (titleHeight + kPanelTitleRoom) * pixel << " spacing 0.08,"
         << (kBottomRoom + kPanelTitleRoom) * pixel << "\n";
  if (panels_.empty()) {
    script << "unset border\nunset tics\nset label 1 'nothing to draw' at graph 0.5,0.5 center\n"
           << "plot [0:1][0:1] NaN notitle\n";
  }
  for (const Panel& panel : panels_) {
    // Each panel starts from gnuplot's defaults, whatever the one before it set.
    script << "reset\nset grid\nset key inside left top\nset datafile missing 'NaN'\n"
           << "set title "
           << (panel.subtitle.empty()
                   ? gnuplotText(partNumber(panel.part) + panel.title)
                   : gnuplotLines({partNumber(panel.part) + panel.title, panel.subtitle}))
           << "\n"
           << panel.commands << "\n";
  }
  script << "unset multiplot\nexit\n";
  return script.str();
}

std::optional<std::string> renderPicture(PlotFormat format, const Picture& picture,
                                         const std::string& name, std::FILE* notes) {
  int status = -1;
  std::string drawn = exchange("gnuplot", picture.script(format), status);
  if (status < 0) {
    std::fprintf(notes, "%s: cannot start gnuplot for %s: %s\n", kProgram, name.c_str(),
                 std::strerror(errno));
    return std::nullopt;
  }
  if (status != 0 || drawn.empty()) {
    std::fprintf(notes, "%s: gnuplot could not draw %s (status %d)\n", kProgram, name.c_str(),
                 status);
    return std::nullopt;
  }
  return drawn;
}
