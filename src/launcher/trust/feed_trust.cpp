#include "launcher/trust/feed_trust.h"

#include <algorithm>

#include "launcher/text/format.h"
#include "launcher/text/numbers.h"

namespace launcher {

namespace {

// A fixed-width decimal field of the time text.
std::optional<unsigned> Field(std::wstring_view text, std::size_t at, std::size_t digits) {
  const std::wstring_view field = text.substr(at, digits);
  if (field.size() != digits ||
      !std::all_of(field.begin(), field.end(), [](wchar_t c) { return c >= L'0' && c <= L'9'; })) {
    return std::nullopt;
  }
  return static_cast<unsigned>(ReadUnsigned(field, 0xFFFFFFFFu, Minus::Refused).value_or(0));
}

}  // namespace

std::size_t SignersOf(std::string_view text, std::string_view signatures,
                      const std::vector<PublicKey>& keys) {
  std::vector<bool> signed_(keys.size());
  while (!signatures.empty()) {
    const std::size_t end = std::min(signatures.find('\n'), signatures.size());
    std::string_view line = signatures.substr(0, end);
    signatures.remove_prefix(std::min(end + 1, signatures.size()));
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const std::optional<Signature> signature = ParseSignature(line);
    if (!signature) continue;
    for (std::size_t i = 0; i < keys.size(); ++i) {
      if (!signed_[i] && VerifySignature(keys[i], text, *signature)) signed_[i] = true;
    }
  }
  // A key listed twice is one signer.
  std::vector<PublicKey> signers;
  for (std::size_t i = 0; i < keys.size(); ++i) {
    if (signed_[i] && std::find(signers.begin(), signers.end(), keys[i]) == signers.end()) {
      signers.push_back(keys[i]);
    }
  }
  return signers.size();
}

std::optional<std::wstring> WhyUntrusted(std::string_view feedText, const Feed& feed,
                                         std::string_view signatures,
                                         const std::vector<PublicKey>& keys,
                                         std::chrono::system_clock::time_point now,
                                         std::optional<std::uint64_t> highestAccepted) {
  if (SignersOf(feedText, signatures, keys) == 0) {
    return L"it isn't signed by the publisher's key";
  }
  if (feed.product != kProductName) {
    return Format(L"it is for another product (\"{}\")", feed.product);
  }
  const std::optional<std::chrono::sys_seconds> expires = ParseUtcTime(feed.expires);
  if (!expires) return Format(L"its expiry \"{}\" isn't a UTC time", feed.expires);
  if (now > *expires + kClockError) return Format(L"it expired at {}", feed.expires);
  if (!feed.sequence) return L"it has no sequence number";
  if (highestAccepted && *feed.sequence < *highestAccepted) {
    return Format(L"its sequence {} is older than the {} accepted before", *feed.sequence,
                  *highestAccepted);
  }
  return std::nullopt;
}

std::optional<std::chrono::sys_seconds> ParseUtcTime(std::wstring_view text) {
  // 2027-01-31T12:00:00Z
  if (text.size() != 20 || text[4] != L'-' || text[7] != L'-' || text[10] != L'T' ||
      text[13] != L':' || text[16] != L':' || text[19] != L'Z') {
    return std::nullopt;
  }
  const auto year = Field(text, 0, 4);
  const auto month = Field(text, 5, 2);
  const auto day = Field(text, 8, 2);
  const auto hour = Field(text, 11, 2);
  const auto minute = Field(text, 14, 2);
  const auto second = Field(text, 17, 2);
  if (!year || !month || !day || !hour || !minute || !second || *hour > 23 || *minute > 59 ||
      *second > 59) {
    return std::nullopt;
  }
  const std::chrono::year_month_day date{std::chrono::year(static_cast<int>(*year)),
                                         std::chrono::month(*month), std::chrono::day(*day)};
  if (!date.ok()) return std::nullopt;
  return std::chrono::sys_days(date) + std::chrono::hours(*hour) + std::chrono::minutes(*minute) +
         std::chrono::seconds(*second);
}

std::wstring FormatUtcTime(std::chrono::sys_seconds time) {
  const auto days = std::chrono::floor<std::chrono::days>(time);
  const std::chrono::year_month_day date(days);
  const std::chrono::hh_mm_ss clock(time - days);
  return Format(L"{:04d}-{:02d}-{:02d}T{:02d}:{:02d}:{:02d}Z", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                clock.hours().count(), clock.minutes().count(),
                static_cast<long long>(clock.seconds().count()));
}

}  // namespace launcher
