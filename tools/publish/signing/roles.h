#pragma once
// The signed roles in a server folder, as the publisher keeps them: the root versions under root/,
// the timestamp that names every channel's feed, and the documents of launcher installers. A
// document's signatures lie beside it ("<name>.sig", one line a signature), so a signature can be
// made on another machine from the document's bytes and added later (AddSignatures).

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "launcher/feed/release.h"
#include "launcher/trust/signed_roles.h"
#include "tools/publish/server/server_changes.h"
#include "tools/publish/signing/signed_feed.h"
#include "tools/publish/signing/signing.h"

namespace launcher::publish {

inline constexpr int kDefaultRootDays = 365;
inline constexpr int kDefaultTimestampHours = 24;

// The newest root the folder holds, read as it stands (verify checks the chain); none when the
// folder has no root.
std::optional<Root> NewestRoot(const std::filesystem::path& server);

// The signature lines of `keys` over `text`, each key once.
std::string SignatureLines(const std::string& text, const std::vector<PrivateKey>& keys);

// Adds the signatures of `keys` to `document`'s signature file, keeping those there; a key that
// signed already signs nothing more. Throws Failure when the document can't be read.
void AddSignatures(const std::filesystem::path& document, const std::vector<PrivateKey>& keys);

// Writes `root` as the folder's next root version (root/<N>.json), signed by `keys`. The first
// root needs a threshold of its own root keys; every later one a threshold of the newest root's
// root keys and of its own. Throws Failure naming what is missing, before anything is written.
void PublishRoot(const std::filesystem::path& server, const Root& root,
                 const std::vector<PrivateKey>& keys);

// The timestamp anew, naming every channel's feed as the folder holds it, one version above the
// last, valid for `hours`, signed by those of `signing`'s keys that the newest root gives the
// timestamp role. Nothing when the folder has no root; throws Failure when none of the keys is a
// timestamp key.
void PublishTimestamp(ServerChanges& changes, const std::filesystem::path& server,
                      const Signing& signing, int hours = kDefaultTimestampHours);

// The document of a launcher installer beside it, signed by those of `keys` that the newest root
// gives the launcher role; how many of them signed. Nothing is written when the folder has no
// root.
std::size_t PublishLauncherDocument(ServerChanges& changes, const std::filesystem::path& server,
                                    const Release& installer, const std::vector<PrivateKey>& keys);

}  // namespace launcher::publish
