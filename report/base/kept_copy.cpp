#include "kept_copy.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

std::string keepCopy(const std::string& text, const std::string& stem) {
  const char* variable = std::getenv("TMPDIR");
  for (const std::string& directory :
       {std::string(variable != nullptr && *variable != '\0' ? variable : "/tmp"),
        std::string("/tmp")}) {
    std::string pattern = directory + "/" + stem + ".XXXXXX.json";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int fd = mkostemps(name.data(), 5, O_CLOEXEC);
    if (fd < 0) continue;
    std::size_t done = 0;
    while (done < text.size()) {
      const ssize_t written = write(fd, text.data() + done, text.size() - done);
      if (written < 0 && errno == EINTR) continue;
      if (written <= 0) break;
      done += static_cast<std::size_t>(written);
    }
    if (close(fd) == 0 && done == text.size()) return name.data();
    unlink(name.data());
  }
  return {};
}
