#include "tools/publish/signing/roles.h"

#include <algorithm>
#include <set>
#include <system_error>

#include "launcher/feed/feed.h"
#include "launcher/feed/server_layout.h"
#include "launcher/text/failure.h"
#include "launcher/text/format.h"
#include "launcher/text/read_file.h"
#include "launcher/text/text.h"
#include "launcher/transfer/sha256.h"
#include "launcher/trust/feed_trust.h"
#include "tools/publish/server/channels.h"

namespace launcher::publish {

namespace {

std::filesystem::path SignatureFile(const std::filesystem::path& document) {
  return PathFromWide(layout::SignatureName(WideFromPath(document)));
}

// Those of `keys` that `role` lists.
std::vector<PrivateKey> KeysOf(const Role& role, const std::vector<PrivateKey>& keys) {
  std::vector<PrivateKey> holding;
  for (const PrivateKey& key : keys) {
    if (std::find(role.keys.begin(), role.keys.end(), key.publicKey) != role.keys.end()) {
      holding.push_back(key);
    }
  }
  return holding;
}

}  // namespace

std::optional<Root> NewestRoot(const std::filesystem::path& server) {
  std::optional<Root> newest;
  for (std::uint64_t version = 1;; ++version) {
    const auto file = server / PathFromWide(layout::RootName(version));
    std::error_code error;
    if (!std::filesystem::is_regular_file(file, error)) return newest;
    const std::optional<Root> root = ParseRoot(ReadWholeFile(file));
    if (!root || root->version != version) {
      throw Failure{Format(L"{} isn't a root; move it away to publish here", WideFromPath(file))};
    }
    newest = root;
  }
}

std::string SignatureLines(const std::string& text, const std::vector<PrivateKey>& keys) {
  std::string lines;
  std::set<std::string> made;
  for (const PrivateKey& key : keys) {
    const std::string hex = HexOf(key.publicKey.point.data(), key.publicKey.point.size());
    if (!made.insert(hex).second) continue;
    const Signature signature = Sign(key, text);
    lines += HexOf(signature.data(), signature.size()) + "\n";
  }
  return lines;
}

void AddSignatures(const std::filesystem::path& document, const std::vector<PrivateKey>& keys) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(document, error)) {
    throw Failure{Format(L"{} isn't a file", WideFromPath(document))};
  }
  const std::string text = ReadWholeFile(document);
  std::string signatures = ReadWholeFile(SignatureFile(document));
  if (!signatures.empty() && !signatures.ends_with('\n')) signatures += '\n';
  std::vector<PrivateKey> missing;
  for (const PrivateKey& key : keys) {
    if (SignersOf(text, signatures, {key.publicKey}) == 0) missing.push_back(key);
  }
  ServerChanges changes;
  changes.Write(SignatureFile(document), signatures + SignatureLines(text, missing));
  changes.Commit();
}

void PublishRoot(const std::filesystem::path& server, const Root& root,
                 const std::vector<PrivateKey>& keys) {
  const std::optional<Root> newest = NewestRoot(server);
  Root next = root;
  next.version = newest ? newest->version + 1 : 1;
  const std::string text = WriteRoot(next);
  const std::string signatures = SignatureLines(text, keys);
  if (!ParseRoot(text)) {
    throw Failure{L"the root isn't one: each role needs keys and a threshold of at most as many"};
  }
  if (newest && !SignedBy(text, signatures, newest->root)) {
    throw Failure{
        Format(L"root {} needs {} signatures of root {}'s root keys; give them with --key",
               next.version, newest->root.threshold, newest->version)};
  }
  if (!SignedBy(text, signatures, next.root)) {
    throw Failure{Format(L"root {} needs {} signatures of its own root keys; give them with --key",
                         next.version, next.root.threshold)};
  }
  ServerChanges changes;
  const auto file = server / PathFromWide(layout::RootName(next.version));
  changes.MakeFolders(file.parent_path());
  changes.WriteTogether({{file, text}, {SignatureFile(file), signatures}});
  changes.Commit();
}

void PublishTimestamp(ServerChanges& changes, const std::filesystem::path& server,
                      const Signing& signing, int hours) {
  const std::optional<Root> root = NewestRoot(server);
  if (!root) return;
  const std::vector<PrivateKey> keys = KeysOf(root->timestamp, signing.keys);
  if (keys.empty()) {
    throw Failure{
        Format(L"the folder has signed roles: give a timestamp key of root {} with "
               L"--key, or launchers won't believe the new feed",
               root->version)};
  }
  const auto file = server / layout::kTimestampName;
  Timestamp timestamp;
  if (std::optional<Timestamp> last = ParseTimestamp(ReadWholeFile(file))) {
    timestamp.version = last->version + 1;
  }
  for (const std::wstring& name : ChannelFeeds(server)) {
    const std::string text = ReadWholeFile(server / PathFromWide(name));
    timestamp.feeds[name] = {DigestOf(text), ParseFeed(text).sequence.value_or(0)};
  }
  const auto now = std::chrono::floor<std::chrono::seconds>(signing.now());
  timestamp.expires = FormatUtcTime(now + std::chrono::hours(hours));
  const std::string text = WriteTimestamp(timestamp);
  changes.WriteTogether({{file, text}, {SignatureFile(file), SignatureLines(text, keys)}});
}

std::size_t PublishLauncherDocument(ServerChanges& changes, const std::filesystem::path& server,
                                    const Release& installer, const std::vector<PrivateKey>& keys) {
  const std::optional<Root> root = NewestRoot(server);
  if (!root) return 0;
  const std::vector<PrivateKey> signers = KeysOf(root->launcher, keys);
  const std::string text = WriteLauncherDocument(installer);
  const auto file = server / PathFromWide(layout::InstallerDocumentName(installer.version));
  changes.WriteTogether({{file, text}, {SignatureFile(file), SignatureLines(text, signers)}});
  return signers.size();
}

}  // namespace launcher::publish
