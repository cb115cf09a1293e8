#include "launcher/feed/feed.h"

#include <array>
#include <cctype>
#include <limits>
#include <string_view>
#include <utility>

#include "launcher/text/format.h"
#include "launcher/text/numbers.h"
#include "launcher/text/safe_join.h"
#include "launcher/text/text.h"

namespace launcher {

namespace {

bool IsAsciiLetterOrDigit(wchar_t c) {
  return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9');
}

// "launcher" + "version" gives "launcherVersion" when capitalised.
std::string ReleaseKey(const std::string& prefix, std::string name, bool capitalise) {
  if (capitalise) name[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(name[0])));
  return prefix + name;
}

void WriteRelease(std::string& out, const Release& release, const std::string& prefix,
                  bool capitalise) {
  const auto member = [&](const char* name, const std::string& value) {
    if (!out.empty()) out += ",\n";
    out += "  \"" + ReleaseKey(prefix, name, capitalise) + "\": " + value;
  };
  member("version", JsonString(release.version));
  member("file", JsonString(release.file));
  member("sha256", JsonString(release.sha256));
  member("size", std::to_string(release.size));
}

// The names and digests of a release's documents, under their keys with `prefix` ("files",
// "rolloutFiles"), in the order the feed writes them.
template <typename Holder>
auto Documents(Holder& holder) {
  return std::array{
      std::pair{"files", &holder.files},       std::pair{"filesSha256", &holder.filesSha256},
      std::pair{"chunks", &holder.chunks},     std::pair{"chunksSha256", &holder.chunksSha256},
      std::pair{"blocks", &holder.blocks},     std::pair{"blocksSha256", &holder.blocksSha256},
      std::pair{"manifest", &holder.manifest}, std::pair{"manifestSha256", &holder.manifestSha256}};
}

template <typename Holder>
void ReadDocuments(JsonObject& object, const std::string& prefix, Holder& holder) {
  for (const auto& [name, field] : Documents(holder)) {
    const std::string key = ReleaseKey(prefix, name, !prefix.empty());
    // Digests are compared in lower case.
    *field = std::string_view(name).ends_with("Sha256") ? Lowercase(Widen(object[key]))
                                                        : Widen(object[key]);
  }
}

template <typename Holder>
void WriteDocuments(std::string& out, const std::string& prefix, const Holder& holder) {
  for (const auto& [name, field] : Documents(holder)) {
    if (!field->empty()) {
      out += ",\n  \"" + ReleaseKey(prefix, name, !prefix.empty()) + "\": " + JsonString(*field);
    }
  }
}

std::optional<Rollout> ReadRollout(JsonObject& object) {
  if (object["rolloutVersion"].empty()) return std::nullopt;
  Rollout rollout;
  rollout.release = ReadRelease(object, "rollout", true);
  ReadDocuments(object, "rollout", rollout);
  // Unreadable or out of range: 0, which offers it to nobody.
  rollout.percent = static_cast<std::uint32_t>(
      ReadUnsigned(std::string_view(object["rolloutPercent"]), 100, Minus::Refused).value_or(0));
  rollout.salt = Widen(object["rolloutSalt"]);
  return rollout;
}

}  // namespace

Release ReadRelease(JsonObject& object, const std::string& prefix, bool capitalise) {
  const auto key = [&](const char* name) { return ReleaseKey(prefix, name, capitalise); };
  Release release;
  release.version = Widen(object[key("version")]);
  release.file = Widen(object[key("file")]);
  release.sha256 = Lowercase(Widen(object[key("sha256")]));
  // Empty, unreadable, negative or beyond 64 bits: 0, which makes the release unusable.
  release.size = ReadUnsigned(std::string_view(object[key("size")]),
                              std::numeric_limits<std::uint64_t>::max(), Minus::Refused)
                     .value_or(0);
  return release;
}

Feed ParseFeed(const std::string& text) {
  JsonObject object = ParseObject(text);
  Feed feed;
  feed.release = ReadRelease(object, "", false);
  if (!object["launcherVersion"].empty()) feed.launcher = ReadRelease(object, "launcher", true);
  ReadDocuments(object, "", feed);
  feed.product = Widen(object["product"]);
  feed.sequence = ReadUnsigned(std::string_view(object["sequence"]),
                               std::numeric_limits<std::uint64_t>::max(), Minus::Refused);
  feed.expires = Widen(object["expires"]);
  feed.channel = Widen(object["channel"]);
  feed.rollback = object["rollback"] == "true";
  feed.rollout = ReadRollout(object);
  return feed;
}

std::string WriteFeed(const Feed& feed) {
  std::string members;
  WriteRelease(members, feed.release, "", false);
  if (feed.launcher) WriteRelease(members, *feed.launcher, "launcher", true);
  WriteDocuments(members, "", feed);
  if (!feed.product.empty()) members += ",\n  \"product\": " + JsonString(feed.product);
  if (feed.sequence) members += ",\n  \"sequence\": " + std::to_string(*feed.sequence);
  if (!feed.expires.empty()) members += ",\n  \"expires\": " + JsonString(feed.expires);
  if (!feed.channel.empty()) members += ",\n  \"channel\": " + JsonString(feed.channel);
  if (feed.rollback) members += ",\n  \"rollback\": \"true\"";
  if (feed.rollout) {
    const Rollout& rollout = *feed.rollout;
    WriteRelease(members, rollout.release, "rollout", true);
    WriteDocuments(members, "rollout", rollout);
    members += ",\n  \"rolloutPercent\": " + std::to_string(rollout.percent);
    members += ",\n  \"rolloutSalt\": " + JsonString(rollout.salt);
  }
  return "{\n" + members + "\n}\n";
}

Feed RolledOut(const Feed& feed) {
  Feed offered = feed;
  offered.rollout.reset();
  if (!feed.rollout) return offered;
  const Rollout& rollout = *feed.rollout;
  offered.release = rollout.release;
  const auto to = Documents(offered);
  const auto from = Documents(rollout);
  for (std::size_t i = 0; i < to.size(); ++i) *to[i].second = *from[i].second;
  return offered;
}

bool IsPlainName(const std::wstring& name) {
  if (name.empty() || !IsAsciiLetterOrDigit(name[0])) return false;
  for (const wchar_t c : name) {
    if (!IsAsciiLetterOrDigit(c) && c != L'-' && c != L'.') return false;
  }
  // Windows drops a trailing dot ("1.1." and "1.1" would be one folder) and opens device names
  // as devices.
  return name.back() != L'.' && !IsDeviceName(name);
}

bool IsUsableRelease(const Release& release) {
  return IsPlainName(release.version) && IsPlainName(release.file) && release.sha256.size() == 64 &&
         release.size > 0;
}

}  // namespace launcher
