#include "launcher/shell/settings.h"

#include "launcher/feed/json.h"
#include "launcher/shell/executable_directory.h"
#include "launcher/text/failure.h"
#include "launcher/text/read_file.h"
#include "launcher/text/text.h"
#include "launcher/text/website.h"

namespace launcher {

std::wstring BuiltInFeedUrl() {
  return L"https://" + WebsiteHost() + L"/download/client/latest.json";
}

std::wstring ReadFeedSetting(const std::string& text) {
  try {
    return Widen(ParseObject(text)["feed"]);
  } catch (const Failure&) {
    return {};
  }
}

std::wstring ResolveFeedUrl(const std::wstring& feedOverride,
                            const std::filesystem::path& settingsDirectory) {
  if (!feedOverride.empty()) return feedOverride;
  std::wstring setting = ReadFeedSetting(ReadWholeFile(settingsDirectory / "launcher.json"));
  return setting.empty() ? BuiltInFeedUrl() : setting;
}

std::wstring ResolveFeedUrl(const std::wstring& feedOverride) {
  if (!feedOverride.empty()) return feedOverride;
  return ResolveFeedUrl(feedOverride, ExecutableDirectory());
}

}  // namespace launcher
