// POSIX implementation of MakeArchive: GNU tar with fixed owner and time, names read verbatim
// from a NUL-separated list, then gzip without a name or time stamp of its own.

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include "launcher/text/failure.h"
#include "launcher/text/text.h"
#include "tools/publish/archive_maker.h"

extern char** environ;

namespace launcher::publish {
namespace {

// Runs `words` found on the PATH; false when it can't start or doesn't exit with 0.
bool Run(std::vector<std::string> words, const std::string& output = {}) {
  std::vector<char*> argv;
  for (auto& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  if (posix_spawn_file_actions_init(&actions) != 0) return false;
  bool ready = true;
  if (!output.empty()) {
    ready = posix_spawn_file_actions_addopen(&actions, 1, output.c_str(),
                                             O_WRONLY | O_CREAT | O_TRUNC, 0644) == 0;
  }
  pid_t child = 0;
  const bool started =
      ready && posix_spawnp(&child, words[0].c_str(), &actions, nullptr, argv.data(), environ) == 0;
  posix_spawn_file_actions_destroy(&actions);
  if (!started) return false;
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return false;
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

void MakeArchive(const std::filesystem::path& build, const std::vector<std::wstring>& names,
                 const std::filesystem::path& archive) {
  // Absolute: tar's --directory changes the folder in which it resolves what follows.
  const std::filesystem::path list = std::filesystem::absolute(archive.string() + ".names");
  const std::filesystem::path plain = std::filesystem::absolute(archive.string() + ".tar");
  {
    std::ofstream out(list, std::ios::binary);
    for (const auto& name : names) out << Narrow(name) << '\0';
    if (!out.flush()) throw Failure{L"The archive's list of names couldn't be written"};
  }
  // Every entry owned by 0:0, dated 2000-01-01, in the given order: the bytes depend on the
  // files' contents, names and modes only.
  const bool made =
      Run({"tar", "--create", "--format=gnu", "--owner=0", "--group=0", "--numeric-owner",
           "--mtime=@946684800", "--no-recursion", "--null", "--verbatim-files-from",
           "--file=" + plain.string(), "--directory=" + std::filesystem::absolute(build).string(),
           "--files-from=" + list.string()}) &&
      Run({"gzip", "--no-name", "--stdout", plain.string()}, archive.string());
  std::error_code ignored;
  std::filesystem::remove(list, ignored);
  std::filesystem::remove(plain, ignored);
  if (!made) {
    std::filesystem::remove(archive, ignored);
    throw Failure{L"The archive couldn't be made: the system's tar or gzip is missing or failed"};
  }
}

}  // namespace launcher::publish
