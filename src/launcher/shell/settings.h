#pragma once
// launcher.json beside the executable: where the update feed is ("--feed", else its "feed"
// member, else the built-in URL on the game's website) and how fast downloads may go
// ("maxDownloadKBps"). A missing or malformed launcher.json is never an error.

#include <cstdint>
#include <filesystem>
#include <string>

namespace launcher {

// "https://" + the website host + "/download/client/latest.json".
std::wstring BuiltInFeedUrl();

// The "feed" member of launcher.json's bytes, or empty text when there is none or the text isn't
// a JSON object.
std::wstring ReadFeedSetting(const std::string& text);

// The "maxDownloadKBps" member in bytes a second (KB = 1,024 bytes): a whole number above 0, or
// 0 for none, a text that isn't such a number, or no launcher.json at all.
std::uint64_t ReadDownloadLimit(const std::string& text);

// launcher.json's bytes from `settingsDirectory`, or none.
std::string ReadSettingsFile(const std::filesystem::path& settingsDirectory);

// Reads launcher.json from the executable's directory when the override is empty.
std::wstring ResolveFeedUrl(const std::wstring& feedOverride);

// The same, with launcher.json read from `settingsDirectory`.
std::wstring ResolveFeedUrl(const std::wstring& feedOverride,
                            const std::filesystem::path& settingsDirectory);

}  // namespace launcher
