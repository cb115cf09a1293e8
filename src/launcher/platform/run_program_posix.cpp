// POSIX implementation of RunToEnd: posix_spawnp, then waitpid.

#include "launcher/platform/run_program_posix.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>

extern char** environ;

namespace launcher {

std::optional<int> RunToEnd(std::vector<std::string> words, const std::filesystem::path& output) {
  std::vector<char*> argv;
  for (auto& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  if (posix_spawn_file_actions_init(&actions) != 0) return std::nullopt;
  bool ready = true;
  if (!output.empty()) {
    ready = posix_spawn_file_actions_addopen(&actions, 1, output.c_str(),
                                             O_WRONLY | O_CREAT | O_TRUNC, 0644) == 0;
  }
  pid_t child = 0;
  const bool started =
      ready && posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ) == 0;
  posix_spawn_file_actions_destroy(&actions);
  if (!started) return std::nullopt;
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace launcher
