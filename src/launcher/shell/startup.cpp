#include "launcher/shell/startup.h"

#include "launcher/shell/command_line.h"
#include "launcher/shell/settings.h"

namespace launcher {

int RunLauncher(const std::vector<std::wstring>& arguments) {
  const LaunchOptions options = ParseCommandLine(arguments);
  const std::wstring feedUrl = ResolveFeedUrl(options.feedOverride);
  // The update itself and starting the game come with the client store and the transfer code;
  // until then a run starts nothing, which exit code 1 says.
  (void)feedUrl;
  return 1;
}

}  // namespace launcher
