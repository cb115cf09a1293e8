// POSIX implementation of StartProcess: posix_spawn with the arguments split back by the rules
// that QuoteArgument quoted them for, in the program's own folder.

#include "launcher/shell/start_process.h"

#include <spawn.h>

#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "launcher/shell/command_line.h"
#include "launcher/text/text.h"

extern char** environ;

namespace launcher {

bool StartProcess(const std::wstring& executable, const std::wstring& arguments) {
  std::vector<std::string> words;
  for (const auto& word : SplitCommandLine(QuoteArgument(executable) + arguments)) {
    words.push_back(Narrow(word));
  }
  std::vector<char*> argv;
  for (auto& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);

  const std::string program = Narrow(executable);
  // Files come from the update server one by one or from an archive that needn't carry modes;
  // the program the launcher is told to start is meant to run.
  std::error_code ignored;
  std::filesystem::permissions(program,
                               std::filesystem::perms::owner_exec |
                                   std::filesystem::perms::group_exec |
                                   std::filesystem::perms::others_exec,
                               std::filesystem::perm_options::add, ignored);
  const std::string folder = PathFromWide(executable).parent_path().string();
  posix_spawn_file_actions_t actions;
  if (posix_spawn_file_actions_init(&actions) != 0) return false;
  pid_t child = 0;
  // Nothing of the launcher's but standard input, output and error goes to the game: not the
  // connection to the update server, not the store's lock.
  const bool started =
      posix_spawn_file_actions_addchdir_np(&actions, folder.c_str()) == 0 &&
      posix_spawn_file_actions_addclosefrom_np(&actions, 3) == 0 &&
      posix_spawn(&child, program.c_str(), &actions, nullptr, argv.data(), environ) == 0;
  posix_spawn_file_actions_destroy(&actions);
  return started;
}

}  // namespace launcher
