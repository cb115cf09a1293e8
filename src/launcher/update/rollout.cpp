#include "launcher/update/rollout.h"

#include <array>

#include "launcher/text/text.h"
#include "launcher/transfer/sha256.h"

namespace launcher {

bool IsInRollout(std::string_view identity, const std::wstring& salt, std::uint32_t percent) {
  Sha256 hasher;
  const std::string text = Narrow(salt) + "\n" + std::string(identity);
  hasher.Add(text.data(), text.size());
  const std::array<std::uint8_t, 32> digest = hasher.Finish();
  std::uint64_t number = 0;
  for (std::size_t i = 0; i < 8; ++i) number = (number << 8) | digest[i];
  return number % 10000 < std::uint64_t{percent} * 100;
}

Feed OfferedFeed(const Feed& feed, std::string_view identity) {
  if (!feed.rollout || !IsUsableRelease(feed.rollout->release) ||
      !IsInRollout(identity, feed.rollout->salt, feed.rollout->percent)) {
    Feed offered = feed;
    offered.rollout.reset();
    return offered;
  }
  return RolledOut(feed);
}

}  // namespace launcher
