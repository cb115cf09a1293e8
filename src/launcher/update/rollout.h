#pragma once
// A staged rollout as one installation sees it. The feed offers its release to a share of the
// installations and its own release to the rest; each installation decides by an identity of its
// own (random, kept in its store, never sent anywhere) hashed with the rollout's salt. So the
// same player lands on the same side at every start, more players join as the share grows and
// none leaves, and a new rollout (a new salt) draws its line independently of the last one.

#include <cstdint>
#include <string>
#include <string_view>

#include "launcher/feed/feed.h"

namespace launcher {

// Whether `identity` falls within the first `percent` of the installations for `salt`: the
// SHA-256 of the salt, a line feed and the identity, its first eight bytes read as a number,
// that number's remainder by 10,000 below percent × 100.
bool IsInRollout(std::string_view identity, const std::wstring& salt, std::uint32_t percent);

// The feed as the installation of `identity` is offered it: with a rollout that takes it in, the
// rollout's release and documents in place of the feed's own; the rollout itself gone either
// way. A rollout of an unusable release, or of none of the installations, takes nobody in.
Feed OfferedFeed(const Feed& feed, std::string_view identity);

}  // namespace launcher
