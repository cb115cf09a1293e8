#pragma once
// What the launcher was built to trust: the publisher's public keys (the CMake cache variable
// QUELLORN_FEED_KEYS, a list of 128-digit hexadecimal keys) for feeds signed the first way, or the
// first root of the signed roles (QUELLORN_ROOT names its file), with the floor below which
// nothing is believed (QUELLORN_TRUST_FLOOR). With neither, the launcher believes every readable
// feed, as before signing existed; a release build has to be told so (QUELLORN_UNSIGNED_FEEDS).
// Defined apart from the rest of the launcher, so the tests can build launchers of their own.

#include <chrono>
#include <optional>
#include <vector>

#include "launcher/trust/signature.h"
#include "launcher/trust/signed_roles.h"

namespace launcher {

// The keys in the order given; a text that isn't a key is a build error caught by the tests.
const std::vector<PublicKey>& EmbeddedKeys();

// The first root; nothing for a launcher built without one.
const std::optional<Root>& EmbeddedRoot();

// Nothing that expired before this time is believed; the epoch for none.
std::chrono::system_clock::time_point TrustFloor();

}  // namespace launcher
