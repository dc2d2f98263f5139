#include "plot.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>
#include <utility>
#include <vector>

#include "program.hpp"

extern char** environ;

namespace {

std::string lowerCase(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

// The gnuplot commands that draw rows to standard output.
std::string plotScript(PlotFormat format, const std::vector<PlotRow>& rows) {
  // One data block per block size and kernel, and LAPACK's, each in increasing n as the sweep ran
  // them.
  std::map<std::pair<int, std::string>, std::string> curves;
  std::string lapack;
  bool anyEfficiency = false;
  for (const PlotRow& row : rows) {
    std::ostringstream line;
    line << row.n << ' ' << row.gflops << ' ';
    if (row.efficiency) {
      line << 100 * *row.efficiency;
      anyEfficiency = true;
    } else {
      line << "NaN";
    }
    curves[{row.block, row.kernel}] += line.str() + "\n";
    if (row.lapackGflops && row.block == rows.front().block && row.kernel == rows.front().kernel) {
      lapack += std::to_string(row.n) + " " + std::to_string(*row.lapackGflops) + "\n";
    }
  }
  std::ostringstream script;
  script << (format == PlotFormat::kPng ? "set terminal pngcairo size 900,900\n"
                                        : "set terminal svg size 900,900 dynamic\n");
  // No file name: gnuplot draws to its standard output, a pipe to the report.
  script << "set output\n";
  // Each curve's data block and title.
  std::vector<std::pair<std::string, std::string>> named;
  for (const auto& [key, data] : curves) {
    const std::string name = "$c" + std::to_string(named.size());
    std::string title = "block " + std::to_string(key.first);
    if (key.second != "auto") title += ", " + key.second;
    script << name << " << EOD\n" << data << "EOD\n";
    named.emplace_back(name, title);
  }
  if (!lapack.empty()) script << "$lapack << EOD\n" << lapack << "EOD\n";
  script << "set multiplot layout " << (anyEfficiency ? 2 : 1) << ",1\n"
         << "set grid\nset key left top\nset xlabel \"n\"\nset ylabel \"GFLOP/s\"\n"
         << "set title \"lubench: blocked LU factorisation and solves, one thread\"\nplot ";
  const char* separator = "";
  for (const auto& [name, title] : named) {
    script << separator << name << " using 1:2 with linespoints title \"" << title << "\"";
    separator = ", ";
  }
  if (!lapack.empty()) script << ", $lapack using 1:2 with linespoints dt 2 title \"LAPACK\"";
  script << "\n";
  if (anyEfficiency) {
    script << "set ylabel \"share of the measured peak (%)\"\nset title \"efficiency\"\nplot ";
    separator = "";
    for (const auto& [name, title] : named) {
      script << separator << name << " using 1:3 with linespoints title \"" << title << "\"";
      separator = ", ";
    }
    script << "\n";
  }
  script << "unset multiplot\nexit\n";
  return script.str();
}

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

std::optional<std::string> renderPlot(PlotFormat format, const std::vector<PlotRow>& rows,
                                      const std::string& name, std::FILE* notes) {
  int status = -1;
  std::string picture = exchange("gnuplot", plotScript(format, rows), status);
  if (status < 0) {
    std::fprintf(notes, "%s: cannot start gnuplot for %s: %s\n", kProgram, name.c_str(),
                 std::strerror(errno));
    return std::nullopt;
  }
  if (status != 0 || picture.empty()) {
    std::fprintf(notes, "%s: gnuplot could not draw %s (status %d)\n", kProgram, name.c_str(),
                 status);
    return std::nullopt;
  }
  return picture;
}
