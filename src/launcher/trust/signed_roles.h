#pragma once
// The signed roles that a launcher built with a root believes, and the documents they sign. A
// root document lists the keys of each role with the number of distinct signatures it takes:
// "root" signs the next root, "release" the feeds, "timestamp" the short-lived timestamp that
// names each channel's current feed, "launcher" the documents of launcher installers. A root is
// replaced only by the next version, signed by a threshold of the old root's root keys and of its
// own; so a stolen key is revoked by one root that no longer lists it, and the root keys stay
// offline. Every document is flat JSON, its signatures beside it in "<name>.sig", one 128-digit
// signature a line, as the feed's have always been. Pure logic besides the platform's signature
// check; never touches the disk.

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "launcher/feed/release.h"
#include "launcher/text/digest.h"
#include "launcher/trust/signature.h"

namespace launcher {

struct Role {
  std::vector<PublicKey> keys;
  std::uint32_t threshold = 1;

  bool operator==(const Role&) const = default;
};

struct Root {
  std::uint64_t version = 0;
  std::wstring expires;  // "2027-01-31T12:00:00Z"
  Role root, release, timestamp, launcher;
  // The channels' sequences start again under this root: those a revoked key pushed up stay
  // behind with the root it signed under.
  bool restartSequences = false;

  bool operator==(const Root&) const = default;
};

// The flat JSON of a root: "product", "type" "root", "version", "expires", and for each role
// "<role>Keys" (keys separated by spaces) and "<role>Threshold"; "restartSequences" "true" when
// set. ParseRoot reads it back; nothing for any other text, a threshold of 0 or one above the
// role's distinct keys.
std::string WriteRoot(const Root& root);
std::optional<Root> ParseRoot(std::string_view text);

// Whether a threshold of `role`'s keys signed `text`.
bool SignedBy(std::string_view text, std::string_view signatures, const Role& role);

// Nothing when `text` (signed by `signatures`) is the root that may follow `trusted`: the next
// version, signed by a threshold of `trusted`'s root keys and of its own. Else why not, in words
// for the log. An expired `trusted` still advances; the root that comes may itself be expired
// (its successor will follow), but is then trusted for nothing else.
std::optional<std::wstring> WhyNotNextRoot(const Root& trusted, std::string_view text,
                                           std::string_view signatures);

// Whether a document that expires at `expires` has expired at `now`, a day of clock error
// allowed. A time that isn't one has expired.
bool HasExpired(std::wstring_view expires, std::chrono::system_clock::time_point now);

// The timestamp: each channel's current feed by file name, digest and sequence, and an expiry of a
// day or so, so that a mirror can't keep players on an old release for long unnoticed.
struct Timestamp {
  struct Named {
    Digest sha256;
    std::uint64_t sequence = 0;
    bool operator==(const Named&) const = default;
  };
  std::uint64_t version = 0;  // raised by every signing
  std::wstring expires;
  std::map<std::wstring, Named> feeds;  // by file name, "latest.json"

  bool operator==(const Timestamp&) const = default;
};

// "product", "type" "timestamp", "version", "expires", and "feeds": "NAME DIGEST SEQUENCE" per
// feed, separated by ";". ParseTimestamp reads it back; nothing for anything else.
std::string WriteTimestamp(const Timestamp& timestamp);
std::optional<Timestamp> ParseTimestamp(std::string_view text);

// The document of a launcher installer, which the launcher role signs: "product", "type"
// "launcher" and the installer's "version", "file", "sha256", "size".
std::string WriteLauncherDocument(const Release& installer);
std::optional<Release> ParseLauncherDocument(std::string_view text);

}  // namespace launcher
