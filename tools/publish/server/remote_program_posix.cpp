// POSIX implementation of RcloneProgram: a bare name is looked up on the PATH when it is run.

#include <cstdlib>

#include "tools/publish/server/remote.h"

namespace launcher::publish {

std::filesystem::path RcloneProgram() {
  const char* named = std::getenv("QUELLORN_RCLONE");
  return named != nullptr && *named != '\0' ? std::filesystem::path(named)
                                            : std::filesystem::path("rclone");
}

}  // namespace launcher::publish
