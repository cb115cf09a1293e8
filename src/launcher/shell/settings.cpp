#include "launcher/shell/settings.h"

#include <algorithm>
#include <chrono>

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

namespace {

// A member that is a whole number, digits and nothing else (a limit the player meant, never one
// read out of something else); 0 for anything else.
std::uint64_t WholeNumber(JsonObject& object, const char* key) {
  const std::string& value = object[key];
  if (value.empty() || value.size() > 12 ||
      value.find_first_not_of("0123456789") != std::string::npos) {
    return 0;
  }
  return std::stoull(value);
}

JsonObject ReadObject(const std::string& text) {
  try {
    return ParseObject(text);
  } catch (const Failure&) {
    return {};
  }
}

}  // namespace

std::uint64_t ReadDownloadLimit(const std::string& text) {
  JsonObject object = ReadObject(text);
  return WholeNumber(object, "maxDownloadKBps") * 1024;
}

void ReadTransferLimits(const std::string& text, TransferSettings& settings) {
  JsonObject object = ReadObject(text);
  settings.bandwidthLimit = WholeNumber(object, "maxDownloadKBps") * 1024;
  if (const std::uint64_t slowest = WholeNumber(object, "minDownloadKBps")) {
    settings.slowestRate = slowest * 1024;
  }
  if (const std::uint64_t seconds = WholeNumber(object, "slowDownloadSeconds")) {
    settings.slowWindow = std::chrono::seconds(std::min<std::uint64_t>(seconds, 86400));
  }
  if (settings.bandwidthLimit > 0) {
    settings.slowestRate = std::min(settings.slowestRate, settings.bandwidthLimit / 2);
  }
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
