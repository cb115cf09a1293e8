#include "launcher/platform/links.h"

#include <system_error>

namespace launcher {

bool HoldsLinks(const std::filesystem::path& folder) {
  std::error_code error;
  std::filesystem::directory_iterator entry(folder, error);
  if (error) return true;
  for (; entry != std::filesystem::directory_iterator(); entry.increment(error)) {
    if (error) return true;
    const auto& path = entry->path();
    if (IsLink(path)) return true;
    std::error_code ignored;
    if (std::filesystem::is_directory(std::filesystem::symlink_status(path, ignored)) &&
        HoldsLinks(path)) {
      return true;
    }
  }
  return static_cast<bool>(error);
}

}  // namespace launcher
