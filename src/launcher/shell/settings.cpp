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

std::uint64_t ReadDownloadLimit(const std::string& text) {
  std::string value;
  try {
    value = ParseObject(text)["maxDownloadKBps"];
  } catch (const Failure&) {
    return 0;
  }
  // Digits and nothing else: a limit the player meant, never one read out of something else.
  if (value.empty() || value.size() > 12 ||
      value.find_first_not_of("0123456789") != std::string::npos) {
    return 0;
  }
  return std::stoull(value) * 1024;
}

std::string ReadSettingsFile(const std::filesystem::path& settingsDirectory) {
  return ReadWholeFile(settingsDirectory / "launcher.json");
}

std::wstring ResolveFeedUrl(const std::wstring& feedOverride,
                            const std::filesystem::path& settingsDirectory) {
  if (!feedOverride.empty()) return feedOverride;
  std::wstring setting = ReadFeedSetting(ReadSettingsFile(settingsDirectory));
  return setting.empty() ? BuiltInFeedUrl() : setting;
}

std::wstring ResolveFeedUrl(const std::wstring& feedOverride) {
  if (!feedOverride.empty()) return feedOverride;
  return ResolveFeedUrl(feedOverride, ExecutableDirectory());
}

}  // namespace launcher
