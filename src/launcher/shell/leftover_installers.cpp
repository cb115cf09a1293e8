#include "launcher/shell/leftover_installers.h"

#include <string>
#include <system_error>

#include "launcher/feed/server_layout.h"
#include "launcher/platform/folders.h"
#include "launcher/text/text.h"

namespace launcher {

void RemoveLeftoverInstallers(const std::filesystem::path& temporaryDirectory) {
  std::error_code error;
  std::filesystem::directory_iterator entry(temporaryDirectory, error);
  // A listing that fails part-way ends the clean-up quietly, like one that can't start.
  for (; !error && entry != std::filesystem::directory_iterator(); entry.increment(error)) {
    const std::wstring name = WideFromPath(entry->path().filename());
    if (name.starts_with(layout::kInstallerPrefix)) {
      // The private folder an installer was downloaded into, with the installer; or an older
      // launcher's installer file itself.
      std::error_code ignored;
      static_cast<void>(RemoveAll(entry->path(), ignored));
    }
  }
}

}  // namespace launcher
