// POSIX implementation of Unpack: tar from the PATH, started with an argument vector and no shell.

#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <string>

#include "launcher/store/unpack.h"
#include "launcher/text/failure.h"

extern char** environ;

namespace launcher {

void Unpack(const std::filesystem::path& archive, const std::filesystem::path& folder) {
  std::string program = "tar";
  std::string extract = "-xf";
  std::string archiveText = archive.string();
  std::string into = "-C";
  std::string folderText = folder.string();
  char* arguments[] = {program.data(), extract.data(),    archiveText.data(),
                       into.data(),    folderText.data(), nullptr};
  pid_t child = 0;
  if (posix_spawnp(&child, "tar", nullptr, nullptr, arguments, environ) != 0) {
    throw Failure{L"The release couldn't be unpacked: the system's tar is missing"};
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) throw Failure{L"The release couldn't be unpacked"};
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    throw Failure{L"The release couldn't be unpacked"};
  }
}

}  // namespace launcher
