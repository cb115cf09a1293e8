// POSIX implementation of RunToEnd: posix_spawnp, then waitpid.

#include "launcher/platform/run_program.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <string>

extern char** environ;

namespace launcher {

std::optional<int> RunToEnd(const std::filesystem::path& program,
                            const std::vector<ProgramWord>& arguments) {
  std::vector<std::string> words{program.native()};
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (auto& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  pid_t child = 0;
  if (posix_spawnp(&child, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
    return std::nullopt;
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace launcher
