// POSIX implementation of MoveIntoPlace: rename replaces a file in one step.

#include "launcher/platform/move_into_place.h"

namespace launcher {

void MoveIntoPlace(const std::filesystem::path& from, const std::filesystem::path& to) {
  std::filesystem::rename(from, to);
}

}  // namespace launcher
