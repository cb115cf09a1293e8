#include "launcher/feed/feed.h"

#include <cctype>
#include <limits>

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
  feed.files = Widen(object["files"]);
  feed.filesSha256 = Lowercase(Widen(object["filesSha256"]));
  feed.chunks = Widen(object["chunks"]);
  feed.chunksSha256 = Lowercase(Widen(object["chunksSha256"]));
  feed.blocks = Widen(object["blocks"]);
  feed.blocksSha256 = Lowercase(Widen(object["blocksSha256"]));
  feed.manifest = Widen(object["manifest"]);
  feed.manifestSha256 = Lowercase(Widen(object["manifestSha256"]));
  feed.product = Widen(object["product"]);
  feed.sequence = ReadUnsigned(std::string_view(object["sequence"]),
                               std::numeric_limits<std::uint64_t>::max(), Minus::Refused);
  feed.expires = Widen(object["expires"]);
  feed.channel = Widen(object["channel"]);
  feed.rollback = object["rollback"] == "true";
  return feed;
}

std::string WriteFeed(const Feed& feed) {
  std::string members;
  WriteRelease(members, feed.release, "", false);
  if (feed.launcher) WriteRelease(members, *feed.launcher, "launcher", true);
  if (!feed.files.empty()) members += ",\n  \"files\": " + JsonString(feed.files);
  if (!feed.filesSha256.empty()) {
    members += ",\n  \"filesSha256\": " + JsonString(feed.filesSha256);
  }
  if (!feed.chunks.empty()) members += ",\n  \"chunks\": " + JsonString(feed.chunks);
  if (!feed.chunksSha256.empty()) {
    members += ",\n  \"chunksSha256\": " + JsonString(feed.chunksSha256);
  }
  if (!feed.blocks.empty()) members += ",\n  \"blocks\": " + JsonString(feed.blocks);
  if (!feed.blocksSha256.empty()) {
    members += ",\n  \"blocksSha256\": " + JsonString(feed.blocksSha256);
  }
  if (!feed.manifest.empty()) members += ",\n  \"manifest\": " + JsonString(feed.manifest);
  if (!feed.manifestSha256.empty()) {
    members += ",\n  \"manifestSha256\": " + JsonString(feed.manifestSha256);
  }
  if (!feed.product.empty()) members += ",\n  \"product\": " + JsonString(feed.product);
  if (feed.sequence) members += ",\n  \"sequence\": " + std::to_string(*feed.sequence);
  if (!feed.expires.empty()) members += ",\n  \"expires\": " + JsonString(feed.expires);
  if (!feed.channel.empty()) members += ",\n  \"channel\": " + JsonString(feed.channel);
  if (feed.rollback) members += ",\n  \"rollback\": \"true\"";
  return "{\n" + members + "\n}\n";
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
