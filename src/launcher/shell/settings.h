#pragma once
// Where the update feed is: "--feed", else the "feed" member of launcher.json beside the
// executable, else the built-in URL on the game's website. A missing or malformed launcher.json
// is never an error.

#include <filesystem>
#include <string>

namespace launcher {

// "https://" + the website host + "/download/client/latest.json".
std::wstring BuiltInFeedUrl();

// The "feed" member of launcher.json's bytes, or empty text when there is none or the text isn't
// a JSON object.
std::wstring ReadFeedSetting(const std::string& text);

// Reads launcher.json from the executable's directory when the override is empty.
std::wstring ResolveFeedUrl(const std::wstring& feedOverride);

// The same, with launcher.json read from `settingsDirectory`.
std::wstring ResolveFeedUrl(const std::wstring& feedOverride,
                            const std::filesystem::path& settingsDirectory);

}  // namespace launcher
