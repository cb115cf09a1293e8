#include "launcher/trust/embedded_keys.h"

#include <string_view>

#include "launcher/trust/feed_trust.h"
#include "launcher/trust/key_list.h"  // made by CMake from key_list.h.in

namespace launcher {

const std::vector<PublicKey>& EmbeddedKeys() {
  static const std::vector<PublicKey> keys = [] {
    std::vector<PublicKey> parsed;
    std::string_view list = kFeedKeyList;
    while (!list.empty()) {
      const std::size_t end = std::min(list.find(';'), list.size());
      if (const auto key = ParsePublicKey(list.substr(0, end))) parsed.push_back(*key);
      list.remove_prefix(std::min(end + 1, list.size()));
    }
    return parsed;
  }();
  return keys;
}

const std::optional<Root>& EmbeddedRoot() {
  static const std::optional<Root> root =
      std::string_view(kFirstRoot).empty() ? std::nullopt : ParseRoot(kFirstRoot);
  return root;
}

std::chrono::system_clock::time_point TrustFloor() {
  const std::string_view text = kTrustFloor;
  const std::optional<std::chrono::sys_seconds> floor =
      ParseUtcTime(std::wstring(text.begin(), text.end()));
  return floor ? std::chrono::system_clock::time_point(*floor)
               : std::chrono::system_clock::time_point();
}

}  // namespace launcher
