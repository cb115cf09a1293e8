// Win32 implementation of MoveDurably.

#include "launcher/platform/durable_replace.h"

#include "launcher/platform/handles_win32.h"

namespace launcher {

bool MoveDurably(const std::filesystem::path& temporary, const std::filesystem::path& target) {
  // MoveFileExW, not rename: the target exists, and the move must reach the disk before we go on.
  return MoveFileExW(temporary.c_str(), target.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

}  // namespace launcher
