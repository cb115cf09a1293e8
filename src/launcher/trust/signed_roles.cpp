#include "launcher/trust/signed_roles.h"

#include <algorithm>
#include <limits>

#include "launcher/feed/feed.h"
#include "launcher/feed/json.h"
#include "launcher/text/failure.h"
#include "launcher/text/format.h"
#include "launcher/text/numbers.h"
#include "launcher/text/text.h"
#include "launcher/trust/feed_trust.h"

namespace launcher {

namespace {

constexpr const char* kRoles[] = {"root", "release", "timestamp", "launcher"};

Role& RoleOf(Root& root, std::string_view name) {
  if (name == "root") return root.root;
  if (name == "release") return root.release;
  if (name == "timestamp") return root.timestamp;
  return root.launcher;
}

std::string KeysText(const std::vector<PublicKey>& keys) {
  std::string text;
  for (const PublicKey& key : keys) {
    if (!text.empty()) text += ' ';
    for (const std::uint8_t byte : key.point) {
      static constexpr char kDigits[] = "0123456789abcdef";
      text += kDigits[byte >> 4];
      text += kDigits[byte & 15];
    }
  }
  return text;
}

std::optional<std::vector<PublicKey>> ParseKeys(std::string_view text) {
  std::vector<PublicKey> keys;
  while (!text.empty()) {
    const std::size_t end = std::min(text.find(' '), text.size());
    const std::optional<PublicKey> key = ParsePublicKey(text.substr(0, end));
    if (!key) return std::nullopt;
    keys.push_back(*key);
    text.remove_prefix(std::min(end + 1, text.size()));
  }
  return keys;
}

std::optional<std::uint64_t> Number(JsonObject& object, const char* key) {
  return ReadUnsigned(std::string_view(object[key]), std::numeric_limits<std::uint64_t>::max(),
                      Minus::Refused);
}

// The object of a document of `type` for this product; nothing for anything else.
std::optional<JsonObject> DocumentOf(std::string_view text, const char* type) {
  try {
    JsonObject object = ParseObject(std::string(text));
    if (Widen(object["product"]) != kProductName || object["type"] != type) return std::nullopt;
    return object;
  } catch (const Failure&) {
    return std::nullopt;
  }
}

std::string Member(const char* key, const std::string& json) {
  return std::string(",\n  \"") + key + "\": " + json;
}

std::string Opening(const char* type) {
  return "{\n  \"product\": " + JsonString(kProductName) + Member("type", JsonString(Widen(type)));
}

}  // namespace

std::string WriteRoot(const Root& root) {
  std::string text = Opening("root");
  text += Member("version", JsonString(std::to_wstring(root.version)));
  text += Member("expires", JsonString(root.expires));
  Root copy = root;
  for (const char* name : kRoles) {
    const Role& role = RoleOf(copy, name);
    text += Member((std::string(name) + "Keys").c_str(), JsonString(Widen(KeysText(role.keys))));
    text += Member((std::string(name) + "Threshold").c_str(),
                   JsonString(std::to_wstring(role.threshold)));
  }
  if (root.restartSequences) text += Member("restartSequences", "\"true\"");
  return text + "\n}\n";
}

std::optional<Root> ParseRoot(std::string_view text) {
  std::optional<JsonObject> object = DocumentOf(text, "root");
  if (!object) return std::nullopt;
  Root root;
  const std::optional<std::uint64_t> version = Number(*object, "version");
  if (!version) return std::nullopt;
  root.version = *version;
  root.expires = Widen((*object)["expires"]);
  root.restartSequences = (*object)["restartSequences"] == "true";
  for (const char* name : kRoles) {
    Role& role = RoleOf(root, name);
    const std::optional<std::vector<PublicKey>> keys =
        ParseKeys((*object)[std::string(name) + "Keys"]);
    const std::optional<std::uint64_t> threshold =
        Number(*object, (std::string(name) + "Threshold").c_str());
    if (!keys || !threshold || *threshold == 0) return std::nullopt;
    std::vector<PublicKey> distinct = *keys;
    std::sort(distinct.begin(), distinct.end(),
              [](const PublicKey& a, const PublicKey& b) { return a.point < b.point; });
    distinct.erase(std::unique(distinct.begin(), distinct.end()), distinct.end());
    if (*threshold > distinct.size()) return std::nullopt;
    role.keys = std::move(distinct);
    role.threshold = static_cast<std::uint32_t>(*threshold);
  }
  return root;
}

bool SignedBy(std::string_view text, std::string_view signatures, const Role& role) {
  return SignersOf(text, signatures, role.keys) >= role.threshold;
}

std::optional<std::wstring> WhyNotNextRoot(const Root& trusted, std::string_view text,
                                           std::string_view signatures) {
  const std::optional<Root> next = ParseRoot(text);
  if (!next) return L"it isn't a root";
  if (next->version != trusted.version + 1) {
    return Format(L"it is version {}, not {}", next->version, trusted.version + 1);
  }
  if (!SignedBy(text, signatures, trusted.root)) {
    return Format(L"it isn't signed by {} of root {}'s root keys", trusted.root.threshold,
                  trusted.version);
  }
  if (!SignedBy(text, signatures, next->root)) {
    return Format(L"it isn't signed by {} of its own root keys", next->root.threshold);
  }
  return std::nullopt;
}

bool HasExpired(std::wstring_view expires, std::chrono::system_clock::time_point now) {
  const std::optional<std::chrono::sys_seconds> time = ParseUtcTime(expires);
  return !time || now > *time + kClockError;
}

std::string WriteTimestamp(const Timestamp& timestamp) {
  std::string feeds;
  for (const auto& [name, named] : timestamp.feeds) {
    if (!feeds.empty()) feeds += ';';
    feeds += Narrow(name) + ' ' + named.sha256.Text() + ' ' + std::to_string(named.sequence);
  }
  return Opening("timestamp") + Member("version", JsonString(std::to_wstring(timestamp.version))) +
         Member("expires", JsonString(timestamp.expires)) +
         Member("feeds", JsonString(Widen(feeds))) + "\n}\n";
}

std::optional<Timestamp> ParseTimestamp(std::string_view text) {
  std::optional<JsonObject> object = DocumentOf(text, "timestamp");
  if (!object) return std::nullopt;
  Timestamp timestamp;
  const std::optional<std::uint64_t> version = Number(*object, "version");
  if (!version) return std::nullopt;
  timestamp.version = *version;
  timestamp.expires = Widen((*object)["expires"]);
  std::string_view feeds = (*object)["feeds"];
  while (!feeds.empty()) {
    const std::size_t end = std::min(feeds.find(';'), feeds.size());
    const std::string_view entry = feeds.substr(0, end);
    feeds.remove_prefix(std::min(end + 1, feeds.size()));
    const std::size_t first = entry.find(' ');
    const std::size_t second = entry.find(' ', first == std::string_view::npos ? 0 : first + 1);
    if (first == std::string_view::npos || second == std::string_view::npos) return std::nullopt;
    const std::optional<Digest> digest =
        Digest::FromHex(entry.substr(first + 1, second - first - 1));
    const std::optional<std::uint64_t> sequence = ReadUnsigned(
        entry.substr(second + 1), std::numeric_limits<std::uint64_t>::max(), Minus::Refused);
    if (!digest || !sequence) return std::nullopt;
    timestamp.feeds[Widen(entry.substr(0, first))] = {*digest, *sequence};
  }
  return timestamp;
}

std::string WriteLauncherDocument(const Release& installer) {
  return Opening("launcher") + Member("version", JsonString(installer.version)) +
         Member("file", JsonString(installer.file)) +
         Member("sha256", JsonString(installer.sha256)) +
         Member("size", std::to_string(installer.size)) + "\n}\n";
}

std::optional<Release> ParseLauncherDocument(std::string_view text) {
  std::optional<JsonObject> object = DocumentOf(text, "launcher");
  if (!object) return std::nullopt;
  const Release installer = ReadRelease(*object, "", false);
  if (!IsUsableRelease(installer)) return std::nullopt;
  return installer;
}

}  // namespace launcher
