#include "launcher/shell/settings.h"

#include <fstream>

#include "launcher/feed/json.h"
#include "launcher/shell/executable_directory.h"
#include "launcher/text/failure.h"
#include "launcher/text/text.h"
#include "launcher/website.h"

namespace launcher {

namespace {

// A missing or unreadable file reads as no bytes. istream::read, unlike a stream buffer
// iterator, turns a read error (a folder by that name, say) into badbit instead of throwing.
std::string ReadAllBytes(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::string bytes;
  char block[4096];
  while (in.read(block, sizeof block) || in.gcount() > 0) bytes.append(block, in.gcount());
  return in.bad() ? std::string() : bytes;
}

}  // namespace

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
  std::wstring setting = ReadFeedSetting(ReadAllBytes(settingsDirectory / "launcher.json"));
  return setting.empty() ? BuiltInFeedUrl() : setting;
}

std::wstring ResolveFeedUrl(const std::wstring& feedOverride) {
  if (!feedOverride.empty()) return feedOverride;
  return ResolveFeedUrl(feedOverride, ExecutableDirectory());
}

}  // namespace launcher
