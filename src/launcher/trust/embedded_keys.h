#pragma once
// The publisher's public keys that the launcher was built with (the CMake cache variable
// QUELLORN_FEED_KEYS, a list of 128-digit hexadecimal keys, empty by default). With none, the
// launcher believes every readable feed, as before signing existed. Defined apart from the rest of
// the launcher, so the tests can build a launcher with keys of their own.

#include <vector>

#include "launcher/trust/signature.h"

namespace launcher {

// The keys in the order given; a text that isn't a key is a build error caught by the tests.
const std::vector<PublicKey>& EmbeddedKeys();

}  // namespace launcher
