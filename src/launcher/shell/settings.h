#pragma once
// launcher.json beside the executable: where the update feed is ("--feed", else its "feed"
// member, else the built-in URL on the game's website), how fast downloads may go
// ("maxDownloadKBps") and how slow they may get before they count as stalled ("minDownloadKBps"
// over "slowDownloadSeconds"). A missing or malformed launcher.json is never an error.

#include <cstdint>
#include <filesystem>
#include <string>

#include "launcher/transfer/transfer_settings.h"

namespace launcher {

// "https://" + the website host + "/download/client/latest.json".
std::wstring BuiltInFeedUrl();

// The "feed" member of launcher.json's bytes, or empty text when there is none or the text isn't
// a JSON object.
std::wstring ReadFeedSetting(const std::string& text);

// The "maxDownloadKBps" member in bytes a second (KB = 1,024 bytes): a whole number above 0, or
// 0 for none, a text that isn't such a number, or no launcher.json at all.
std::uint64_t ReadDownloadLimit(const std::string& text);

// The transfer limits launcher.json sets, each a whole number above 0, into `settings`; one
// that is missing or isn't such a number keeps its default. The slowest rate stays at most half
// the bandwidth limit, so that a limit never reads as a stall.
void ReadTransferLimits(const std::string& text, TransferSettings& settings);

// launcher.json's bytes from `settingsDirectory`, or none.
std::string ReadSettingsFile(const std::filesystem::path& settingsDirectory);

// Reads launcher.json from the executable's directory when the override is empty.
std::wstring ResolveFeedUrl(const std::wstring& feedOverride);

// The same, with launcher.json read from `settingsDirectory`.
std::wstring ResolveFeedUrl(const std::wstring& feedOverride,
                            const std::filesystem::path& settingsDirectory);

}  // namespace launcher
