#include "launcher/feed/feed.h"

#include <cctype>
#include <limits>

#include "launcher/feed/numbers.h"
#include "launcher/text/text.h"

namespace launcher {

namespace {

bool IsAsciiLetterOrDigit(wchar_t c) {
  return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9');
}

}  // namespace

Release ReadRelease(JsonObject& object, const std::string& prefix, bool capitalise) {
  const auto key = [&](std::string name) {
    if (capitalise) name[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(name[0])));
    return prefix + name;
  };
  Release release;
  release.version = Widen(object[key("version")]);
  release.file = Widen(object[key("file")]);
  release.sha256 = Lowercase(Widen(object[key("sha256")]));
  // Empty, unreadable or beyond 64 bits: 0, which makes the release unusable.
  release.size =
      ReadUnsigned(std::string_view(object[key("size")]), std::numeric_limits<std::uint64_t>::max())
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
  return feed;
}

bool IsPlainName(const std::wstring& name) {
  if (name.empty() || !IsAsciiLetterOrDigit(name[0])) return false;
  for (const wchar_t c : name) {
    if (!IsAsciiLetterOrDigit(c) && c != L'-' && c != L'.') return false;
  }
  return true;
}

bool IsUsableRelease(const Release& release) {
  return IsPlainName(release.version) && IsPlainName(release.file) && release.sha256.size() == 64 &&
         release.size > 0;
}

}  // namespace launcher
