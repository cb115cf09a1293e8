#pragma once
// The update feed: one flat JSON object naming the client release, optionally the newest
// launcher and the release's file list. Every file it names lies in the feed's own folder.

#include <cstdint>
#include <optional>
#include <string>

#include "launcher/feed/json.h"
#include "launcher/feed/release.h"

namespace launcher {

// A release offered to a share of the installations only (a staged rollout), with the documents
// that go with it; the rest are offered the feed's own release. Each installation decides by its
// own identity, hashed with the rollout's salt (see rollout.h).
struct Rollout {
  Release release;
  std::wstring files;
  std::wstring filesSha256;
  std::wstring chunks;
  std::wstring chunksSha256;
  std::wstring blocks;
  std::wstring blocksSha256;
  std::wstring manifest;
  std::wstring manifestSha256;
  std::uint32_t percent = 0;  // of the installations, 1 to 99 in a feed that is used
  std::wstring salt;          // new for each rollout: whose side a player is on changes with it

  bool operator==(const Rollout&) const = default;
};

struct Feed {
  Release release;                  // always there, perhaps unusable
  std::optional<Release> launcher;  // there exactly when "launcherVersion" isn't empty
  std::wstring files;               // the file list's name, or empty
  std::wstring filesSha256;         // its digest, lower case, or empty
  std::wstring chunks;              // the chunk index's name, or empty
  std::wstring chunksSha256;        // its digest, lower case, or empty
  std::wstring blocks;              // the archive's block list's name, or empty
  std::wstring blocksSha256;        // its digest, lower case, or empty
  // The packed manifest (list, chunks and stored forms in one), which a launcher that reads it
  // takes instead of the list and the chunk index; they stay for launchers that don't.
  std::wstring manifest;
  std::wstring manifestSha256;
  // What a signature binds besides: whose feed it is, its place in the publisher's order of
  // feeds (raised by every publish) and when it stops being valid ("2027-01-31T12:00:00Z").
  std::wstring product;                   // empty when absent
  std::optional<std::uint64_t> sequence;  // absent, or unreadable, or negative
  std::wstring expires;                   // as written, empty when absent
  // Which channel's feed it is ("beta"; empty for the live one), and whether the studio means a
  // release older than the one before it to move players back ("rollback": "true").
  std::wstring channel;
  bool rollback = false;
  // There while a release is offered to a share of the installations: "rolloutVersion", ...
  std::optional<Rollout> rollout;

  bool operator==(const Feed&) const = default;
};

// Throws only the JSON reader's Failure; missing or unreadable values give empty fields or 0.
Feed ParseFeed(const std::string& text);

// One Release from the keys prefix + "version", "file", "sha256", "size", each key's first letter
// upper-cased after a non-empty prefix when `capitalise` is set ("launcherVersion").
Release ReadRelease(JsonObject& object, const std::string& prefix, bool capitalise);

// The feed as the publishing tool writes it, with the very keys ParseFeed reads: the release's,
// then the launcher's when there is one, then the documents' names and digests, "product",
// "sequence", "expires", "channel" and "rollback", each when it is set, and the rollout's members,
// all prefixed "rollout". ParseFeed gives the same Feed back. Sizes are JSON
// numbers, everything else JSON strings; one object, UTF-8, ending in a line feed.
std::string WriteFeed(const Feed& feed);

// The feed as the installations within its rollout are offered it: the rollout's release and
// documents in place of the feed's own, and no rollout. The feed as it is when it has none.
Feed RolledOut(const Feed& feed);

// Non-empty, first an ASCII letter or digit, then only ASCII letters, digits, "-" and ".", not
// ending in "." and not a Windows device name ("nul", "com1.txt"): a name Windows keeps as it is.
bool IsPlainName(const std::wstring& name);

// Plain version and file names, a digest of 64 characters and a size above 0.
bool IsUsableRelease(const Release& release);

}  // namespace launcher
