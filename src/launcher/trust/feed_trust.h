#pragma once
// Whether a launcher built with the publisher's keys may believe a feed: a signature over the
// feed's exact bytes by one of the keys, the product "Quellorn", not yet expired (a day of clock
// error allowed), and a sequence no lower than the highest accepted before, so that a replayed
// older feed or one withheld until it is stale can't move players anywhere. Pure logic besides
// the platform's signature check; never touches the disk.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "launcher/feed/feed.h"
#include "launcher/trust/signature.h"

namespace launcher {

inline constexpr wchar_t kProductName[] = L"Quellorn";
inline constexpr std::chrono::hours kClockError{24};

// The feed's signature file: one signature a line, 128 hexadecimal digits; one line of them by any
// of the keys suffices, so a publisher can sign with an old and a new key while launchers change.
inline constexpr std::uint64_t kSignatureLimit = 4096;

// How many distinct keys of `keys` signed `text` by a line of `signatures`; a key listed twice,
// or signing twice, counts once.
std::size_t SignersOf(std::string_view text, std::string_view signatures,
                      const std::vector<PublicKey>& keys);

// Nothing when the feed may be believed, else why not, in words for the launcher's log. `feed` is
// ParseFeed of `feedText`; `signatures` is the signature file's text.
std::optional<std::wstring> WhyUntrusted(std::string_view feedText, const Feed& feed,
                                         std::string_view signatures,
                                         const std::vector<PublicKey>& keys,
                                         std::chrono::system_clock::time_point now,
                                         std::optional<std::uint64_t> highestAccepted);

// "YYYY-MM-DDTHH:MM:SSZ", a UTC time; nothing for any other text or a date that doesn't exist.
std::optional<std::chrono::sys_seconds> ParseUtcTime(std::wstring_view text);

// The same form, for the publishing tool.
std::wstring FormatUtcTime(std::chrono::sys_seconds time);

}  // namespace launcher
